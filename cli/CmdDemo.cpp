#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/Compilation.h"
#include "cli/DiscErase.h"
#include "cli/DiscWrite.h"
#include "cli/DriveFailure.h"
#include "cli/DriveList.h"
#include "cli/ImageFile.h"
#include "cli/SessionListing.h"

namespace velmor::cli {

namespace {

namespace fs = std::filesystem;

// A small folder of sample files, removed again when the demo ends.
class TSampleFolder {
 public:
  TSampleFolder() {
    std::random_device random;
    do {
      root_ = fs::temp_directory_path() / ("velmor-demo-" + std::to_string(random()));
    } while (!fs::create_directory(root_));
    Write("Sample/readme.txt", "Velmor demo compilation.\n");
    Write("Sample/A long file name with spaces.txt", "Long names are kept for Joliet.\n");
    Write("Sample/Docs/notes.txt", "Folders keep their structure.\n");
    Write("Sample/Docs/2014/report.txt", "Nested folders too.\n");
    Write("Sample/data.bin", std::string(1 << 20, '\x5A'));
    Write("Later/notes-2.txt", "Added by a second session.\n");
  }
  ~TSampleFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  TSampleFolder(const TSampleFolder&) = delete;
  TSampleFolder& operator=(const TSampleFolder&) = delete;

  [[nodiscard]] std::string Path() const { return (root_ / "Sample").string(); }
  // What the second session adds.
  [[nodiscard]] std::string LaterPath() const { return (root_ / "Later").string(); }

 private:
  void Write(const std::string& name, const std::string& content) {
    const fs::path path = root_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }

  fs::path root_;
};

// Lays out the compilation and burns it, appending to what the disc holds
// when Append; the exit code.
int BurnCompilation(kilnor::TKilnorPro& kp, const TParsedArguments& Parsed, const std::string& Folder,
                    bool Append, const std::string& What) {
  std::string error;
  if (!BuildCompilation(kp, {Folder}, error)) return Fail(error);
  if (Append && !ImportLastSession(kp, error)) return Fail(error);
  kp.SetVolumeID("VELMOR_DEMO");
  std::uint32_t sectors = 0;
  if (!PrepareCompilation(kp, Parsed, sectors, error)) return Fail("the compilation cannot be laid out: " + error);
  return BurnWithProgress(kp, Parsed, What, [&] { return kp.Burn(); });
}

// A disc left by an earlier demo is erased, so every run starts blank.
int EraseEarlierDemo(kilnor::TKilnorPro& kp) {
  if (DiscHoldsData(kp).empty()) return kExitOk;
  if (!kp.Erasable()) return Fail("the emulated recorder's disc already holds data and cannot be erased");
  std::cout << "Erasing what an earlier run left on the disc.\n";
  return EraseWithProgress(kp, true) ? kExitOk : FailOnDrive(kp, "ERASE DONE WITH ERROR.");
}

// Burns the sample, appends a second session and lists the disc. Only the
// emulated recorder takes part: a demo never writes to a real disc.
int BurnOnEmulatedRecorder(const TParsedArguments& Parsed, const std::string& Folder, const std::string& Later) {
  kilnor::TKilnorPro kp(CliOwner());
  const std::string library = Parsed.Value("--aspi", kilnor::TKilnorPro::EmulatedRecorderLibrary());
  if (!kp.InitializeASPI(true, library, "") || kp.DeviceCount() == 0 || !kp.SelectDevice(0))
    return Fail("the emulated recorder '" + library + "' cannot be used");
  std::cout << "\nBurning on " << kp.GetDeviceName(0) << ":\n";
  if (const int code = EraseEarlierDemo(kp); code != kExitOk) return code;
  if (const int code = BurnCompilation(kp, Parsed, Folder, false, "the compilation"); code != kExitOk) return code;
  std::cout << "\nAppending a second session with " << Later << ":\n";
  if (const int code = BurnCompilation(kp, Parsed, Later, true, "the second session"); code != kExitOk) return code;

  kp.ClearAll();
  const std::int32_t session = kp.ImportSession(0, "\\");
  if (session < 0) return Fail("the disc cannot be read back: " + kp.LastImport().Reason);
  std::cout << "\nThe disc's last session (" << session << ") shows both:\n";
  PrintListing(kp, std::cout);
  return kExitOk;
}

int RunDemo(const TParsedArguments& Parsed) {
  if (Parsed.Positional.size() > 1) return Fail("demo takes at most one folder", kExitUsage);

  kilnor::TKilnorPro kp(CliOwner());
  std::string error;
  std::cout << "Velmor " << kilnor::TKilnorPro::Version() << "\n\nDrives:\n";
  if (!ListDrives(kp, Parsed.Value("--aspi"), "", std::cout, error)) {
    std::cout << "  (" << error << ")\n";
  }

  const TSampleFolder sample;
  const std::string folder = Parsed.Positional.empty() ? sample.Path() : Parsed.Positional.front();
  std::cout << "\nCompilation of " << folder << ":\n";
  if (!BuildCompilation(kp, {folder}, error)) return Fail(error);
  PrintCompilation(kp, std::cout);
  (void)PrintLeftOut(kp, std::cerr);

  const std::string image = Parsed.Value("-o", "velmor-demo.iso");
  kp.SetVolumeID("VELMOR_DEMO");
  const std::uint32_t sectors = kp.Prepare();
  std::cout << "\nLaid out as ISO 9660 with Joliet names: " << sectors << " sectors.\n";
  if (const int code = WriteImageFile(kp, image); code != kExitOk) return code;
  return BurnOnEmulatedRecorder(Parsed, folder, sample.LaterPath());
}

}  // namespace

const TCliCommand& CmdDemo() {
  static const TCliCommand command{
      "demo", "[--aspi LIBRARY] [-o IMAGE] [FOLDER]",
      "Show the main job: list the drives, build a compilation, write its image, burn it\n"
      "on the emulated recorder, append a second session and list the disc.",
      "Without FOLDER a small sample folder is generated and removed afterwards.\n"
      "The image goes to IMAGE, velmor-demo.iso in the current folder by default.\n"
      "The burns go to the emulated recorder's first drive (the library beside\n"
      "velmor-cli, or --aspi LIBRARY), never to a real drive; a disc an earlier\n"
      "run left there is erased first.",
      {"--aspi", "-o"},
      {},
      RunDemo};
  return command;
}

}  // namespace velmor::cli
