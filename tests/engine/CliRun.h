#pragma once
// Runs velmor-cli as a process on the emulated recorder:
//   velmor-cli <arguments> --aspi <bin>/libvelmor-recorder.so
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/device/EmulatedDrive.h"

namespace kilnor::test {

struct TCliRun {
  int ExitCode = -1;
  std::string Output;  // standard output and standard error
};

// Prefix goes before the program (a wrapper such as timeout).
inline TCliRun Cli(const std::string& Arguments, const std::string& Prefix = "") {
  EmulatorDirectory();
  const std::string command = Prefix + kBinDir + "/velmor-cli " + Arguments + " --aspi " + kBinDir +
                              "/libvelmor-recorder.so 2>&1";
  TCliRun run;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe)) run.Output += chunk;
    const int status = pclose(pipe);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return run;
}

}  // namespace kilnor::test
