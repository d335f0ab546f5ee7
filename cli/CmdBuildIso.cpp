#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/Compilation.h"
#include "cli/ProgressBar.h"

namespace velmor::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Raised by Ctrl-C while an image is written; the poll loop turns it into an
// abort, so the partial image is removed like after any other failure.
std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted = true; }

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Applies the layout options; false with Error when one is refused.
[[nodiscard]] bool ApplyOptions(kilnor::TKilnorPro& kp, const TParsedArguments& args, std::string& Error) {
  kp.SetJolietFileSystem(!args.Has("--no-joliet"));
  kp.SetISO9660v1999FS(args.Has("--iso9660-1999"));
  kp.SetUDFBridge(args.Has("--udf"));
  if (const std::string label = args.Value("--volume-id"); !label.empty()) kp.SetVolumeID(label);
  if (const std::string boot = args.Value("--boot"); !boot.empty()) {
    kp.SetBootImage(boot);
    if (kp.BootImage() != boot) {
      Error = "boot image '" + boot +
              "' cannot be used: it must be a readable file of 2048, 1228800, 1474560 or 2949120 bytes";
      return false;
    }
  }
  return true;
}

// Writes the prepared compilation to Output, showing the sectors written.
int WriteImage(kilnor::TKilnorPro& kp, const std::string& Output) {
  bool done = false;
  bool failed = false;
  kp.SetOnWriteDone([&](void*, std::uint8_t, bool WriteFailed) {
    done = true;
    failed = WriteFailed;
  });
  const auto started = Clock::now();
  if (!kp.BuildISOImage(Output)) {
    kp.DrainNotifications();
    return Fail("cannot build " + Output + ": " + kp.ErrorString());
  }
  const auto previous = std::signal(SIGINT, OnInterrupt);
  bool abortSent = false;
  TProgressBar bar("Writing", "sectors", std::cerr, ::isatty(2) != 0);
  PollWithProgress(
      kp, bar,
      [&] {
        return TProgressSample{kp.CDFiles.BlocksWritten.load(), kp.ImageSize(),
                               kilnor::StatusText(kp.ComponentStatus())};
      },
      [&] {
        if (interrupted && !abortSent) {
          kp.AbortOperation();
          abortSent = true;
        }
        return done;
      });
  std::signal(SIGINT, previous);
  if (failed) return Fail("writing " + Output + " failed: " + kp.ErrorString());
  const double seconds = SecondsSince(started);
  const double mebibytes = kp.ImageSize() * 2048.0 / (1 << 20);
  std::printf("Wrote %s: %u sectors (%.1f MiB) in %.2f s, %.1f MiB/s\n", Output.c_str(), kp.ImageSize(), mebibytes,
              seconds, seconds > 0 ? mebibytes / seconds : 0.0);
  return kExitOk;
}

int RunBuildIso(const TArguments& Args) {
  std::string error;
  const auto parsed = ParseArguments(Args, {"-o", "--output", "--volume-id", "--boot"},
                                     {"--no-joliet", "--iso9660-1999", "--udf", "--prepare-only"}, error);
  if (!parsed) return Fail(error, kExitUsage);
  if (parsed->Positional.empty()) return Fail("build-iso needs at least one file or folder", kExitUsage);
  const std::string output = parsed->Value("-o", parsed->Value("--output"));
  const bool prepareOnly = parsed->Has("--prepare-only");
  if (output.empty() && !prepareOnly) return Fail("build-iso needs -o FILE", kExitUsage);

  kilnor::TKilnorPro kp(CliOwner());
  if (!BuildCompilation(kp, parsed->Positional, error)) return Fail(error);
  if (!ApplyOptions(kp, *parsed, error)) return Fail(error, kExitUsage);
  const auto started = Clock::now();
  const std::uint32_t sectors = kp.Prepare();
  const double prepareSeconds = SecondsSince(started);
  if (kp.UDFBridge() && !kp.CDFiles.UDFBridgeInfo.LayoutError.empty()) return Fail(kp.CDFiles.UDFBridgeInfo.LayoutError);
  if (prepareOnly) {
    std::printf("Prepared %u files in %u folders: %u sectors in %.3f s\n", kp.FilesCount(), kp.DirsCount(), sectors,
                prepareSeconds);
    return kExitOk;
  }
  return WriteImage(kp, output);
}

}  // namespace

const TCliCommand& CmdBuildIso() {
  static const TCliCommand command{
      "build-iso",
      "FILE|FOLDER... -o IMAGE [--volume-id X] [--no-joliet] [--iso9660-1999] [--udf] [--boot IMAGE]\n"
      "          [--prepare-only]",
      "Build an ISO 9660 image file from files and folders.",
      "Files go to the root of the disc; a folder goes in recursively as a folder\n"
      "of the same name. Joliet names are on unless --no-joliet; --iso9660-1999\n"
      "records long names in the ISO 9660 tree; --udf adds a UDF 1.50 file system\n"
      "describing the same files; --boot adds an El Torito boot image (a\n"
      "2048-byte no-emulation image or a 1.2, 1.44 or 2.88 MB floppy).\n"
      "--prepare-only lays the image out and prints the time it took, writing\n"
      "nothing.",
      RunBuildIso};
  return command;
}

}  // namespace velmor::cli
