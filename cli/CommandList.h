// The subcommands of velmor-cli, in the order --help lists them. Adding a
// subcommand is adding its line here.
VELMOR_CLI_COMMAND(CmdDrives)
VELMOR_CLI_COMMAND(CmdInfo)
VELMOR_CLI_COMMAND(CmdSpeeds)
VELMOR_CLI_COMMAND(CmdLoad)
VELMOR_CLI_COMMAND(CmdEject)
VELMOR_CLI_COMMAND(CmdErase)
VELMOR_CLI_COMMAND(CmdTree)
VELMOR_CLI_COMMAND(CmdLs)
VELMOR_CLI_COMMAND(CmdBuildIso)
VELMOR_CLI_COMMAND(CmdBurn)
VELMOR_CLI_COMMAND(CmdBurnIso)
VELMOR_CLI_COMMAND(CmdDemo)
