#include <chrono>
#include <cstdio>
#include <iostream>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/Compilation.h"
#include "cli/ImageFile.h"
#include "cli/SmartReferences.h"

namespace velmor::cli {

namespace {

using Clock = std::chrono::steady_clock;

int RunBuildIso(const TParsedArguments& Parsed) {
  std::string error;
  if (Parsed.Positional.empty()) return Fail("build-iso needs at least one file or folder", kExitUsage);
  const std::string output = Parsed.Value("-o", Parsed.Value("--output"));
  const bool prepareOnly = Parsed.Has("--prepare-only");
  if (output.empty() && !prepareOnly) return Fail("build-iso needs -o FILE", kExitUsage);

  if (!output.empty() && !CheckOutputOutsideInputs(Parsed.Positional, output, error)) return Fail(error);

  kilnor::TKilnorPro kp(CliOwner());
  ApplyTreeOptions(kp, Parsed);
  if (!BuildCompilation(kp, Parsed.Positional, error)) return Fail(error);
  if (!AcceptLeftOut(kp, Parsed, error)) return Fail(error);
  if (!ApplyLayoutOptions(kp, Parsed, error)) return Fail(error, kExitUsage);
  if (!GenerateSmartReferencesOf(kp, Parsed, error)) return Fail(error);
  const auto started = Clock::now();
  std::uint32_t sectors = 0;
  if (!PrepareCompilation(kp, Parsed, sectors, error)) return Fail(error);
  const double prepareSeconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (prepareOnly) {
    std::printf("Prepared %u files in %u folders: %u sectors in %.3f s\n", kp.FilesCount(), kp.DirsCount(), sectors,
                prepareSeconds);
    return kExitOk;
  }
  return WriteImageFile(kp, output);
}

}  // namespace

const TCliCommand& CmdBuildIso() {
  static const TCliCommand command{
      "build-iso",
      "FILE|FOLDER... -o IMAGE [--volume-id X] [--no-joliet] [--iso9660-1999] [--udf] [--boot IMAGE]\n"
      "          [--no-rock-ridge] [--follow-links] [--public-attributes] [--prepare-only] [--skip-unsupported]\n"
      "          [--smart-refs]",
      "Build an ISO 9660 image file from files and folders.",
      "Files go to the root of the disc; a folder goes in recursively as a folder\n"
      "of the same name. Joliet names are on unless --no-joliet; --iso9660-1999\n"
      "records long names in the ISO 9660 tree; --udf adds a UDF 1.50 file system\n"
      "describing the same files; --boot adds an El Torito boot image (a\n"
      "2048-byte no-emulation image or a 1.2, 1.44 or 2.88 MB floppy).\n"
      "Rock Ridge records POSIX names, modes, owners, times and symbolic links\n"
      "(as links) unless --no-rock-ridge; --follow-links records what links lead\n"
      "to instead; --public-attributes records owners as 0 and modes readable by\n"
      "all (folders and executables 0555, other files 0444).\n"
      "--prepare-only lays the image out and prints the time it took, writing\n"
      "nothing.\n"
      "--smart-refs records files of identical content once: each later copy\n"
      "shares the data of the first; the files and the bytes saved are printed.\n"
      "Items that cannot be recorded (without Rock Ridge or with --follow-links:\n"
      "links to folders, links that lead nowhere; and always\n"
      "devices, FIFOs, sockets, names too long, a second item of one name) are\n"
      "named on standard error and stop the build; --skip-unsupported builds the\n"
      "image without them. The image appears under its name only when complete.",
      kLayoutValueOptions + TOptionNames{"-o", "--output"},
      kLayoutFlagOptions + TOptionNames{"--prepare-only", kSmartRefsFlag},
      RunBuildIso};
  return command;
}

}  // namespace velmor::cli
