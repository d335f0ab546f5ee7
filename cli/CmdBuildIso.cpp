#include <chrono>
#include <cstdio>
#include <iostream>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/Compilation.h"
#include "cli/ImageFile.h"

namespace velmor::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Applies the layout options; false with Error when one is refused.
[[nodiscard]] bool ApplyOptions(kilnor::TKilnorPro& kp, const TParsedArguments& args, std::string& Error) {
  kp.SetJolietFileSystem(!args.Has("--no-joliet"));
  kp.SetISO9660v1999FS(args.Has("--iso9660-1999"));
  kp.SetUDFBridge(args.Has("--udf"));
  if (const std::string label = args.Value("--volume-id"); !label.empty()) kp.SetVolumeID(label);
  if (const std::string boot = args.Value("--boot"); !boot.empty()) {
    kp.SetBootImage(boot);
    if (kp.BootImage() != boot) {
      Error = "boot image " + QuotedPath(boot) +
              " cannot be used: it must be a readable file of 2048, 1228800, 1474560 or 2949120 bytes";
      return false;
    }
  }
  return true;
}

int RunBuildIso(const TArguments& Args) {
  std::string error;
  const auto parsed =
      ParseArguments(Args, {"-o", "--output", "--volume-id", "--boot"},
                     {"--no-joliet", "--iso9660-1999", "--udf", "--prepare-only", "--skip-unsupported"}, error);
  if (!parsed) return Fail(error, kExitUsage);
  if (parsed->Positional.empty()) return Fail("build-iso needs at least one file or folder", kExitUsage);
  const std::string output = parsed->Value("-o", parsed->Value("--output"));
  const bool prepareOnly = parsed->Has("--prepare-only");
  if (output.empty() && !prepareOnly) return Fail("build-iso needs -o FILE", kExitUsage);

  if (!output.empty() && !CheckOutputOutsideInputs(parsed->Positional, output, error)) return Fail(error);

  kilnor::TKilnorPro kp(CliOwner());
  if (!BuildCompilation(kp, parsed->Positional, error)) return Fail(error);
  if (const std::size_t leftOut = PrintLeftOut(kp, std::cerr); leftOut > 0 && !parsed->Has("--skip-unsupported")) {
    return Fail(std::to_string(leftOut) + (leftOut == 1 ? " item" : " items") +
                " would be left out, so no image was built; --skip-unsupported builds it without them");
  }
  if (!ApplyOptions(kp, *parsed, error)) return Fail(error, kExitUsage);
  const auto started = Clock::now();
  const std::uint32_t sectors = kp.Prepare();
  const double prepareSeconds = std::chrono::duration<double>(Clock::now() - started).count();
  if (kp.UDFBridge() && !kp.CDFiles.UDFBridgeInfo.LayoutError.empty()) return Fail(kp.CDFiles.UDFBridgeInfo.LayoutError);
  if (!kp.CDFiles.PrepareError.empty()) return Fail(kp.CDFiles.PrepareError);
  PrintChangedNames(kp, parsed->Value("--volume-id"), std::cerr);
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
      "          [--prepare-only] [--skip-unsupported]",
      "Build an ISO 9660 image file from files and folders.",
      "Files go to the root of the disc; a folder goes in recursively as a folder\n"
      "of the same name. Joliet names are on unless --no-joliet; --iso9660-1999\n"
      "records long names in the ISO 9660 tree; --udf adds a UDF 1.50 file system\n"
      "describing the same files; --boot adds an El Torito boot image (a\n"
      "2048-byte no-emulation image or a 1.2, 1.44 or 2.88 MB floppy).\n"
      "--prepare-only lays the image out and prints the time it took, writing\n"
      "nothing.\n"
      "Items that cannot be recorded (links to folders, links that lead nowhere,\n"
      "devices, FIFOs, sockets, names too long, a second item of one name) are\n"
      "named on standard error and stop the build; --skip-unsupported builds the\n"
      "image without them. The image appears under its name only when complete.",
      RunBuildIso};
  return command;
}

}  // namespace velmor::cli
