#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/Compilation.h"
#include "cli/DriveList.h"
#include "cli/ImageFile.h"

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
    Write("readme.txt", "Velmor demo compilation.\n");
    Write("A long file name with spaces.txt", "Long names are kept for Joliet.\n");
    Write("Docs/notes.txt", "Folders keep their structure.\n");
    Write("Docs/2014/report.txt", "Nested folders too.\n");
    Write("data.bin", std::string(1 << 20, '\x5A'));
  }
  ~TSampleFolder() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  TSampleFolder(const TSampleFolder&) = delete;
  TSampleFolder& operator=(const TSampleFolder&) = delete;

  [[nodiscard]] std::string Path() const { return (root_ / "Sample").string(); }

 private:
  void Write(const std::string& name, const std::string& content) {
    const fs::path path = root_ / "Sample" / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }

  fs::path root_;
};

int RunDemo(const TArguments& Args) {
  std::string error;
  const auto parsed = ParseArguments(Args, {"--aspi", "-o"}, {}, error);
  if (!parsed) return Fail(error, kExitUsage);
  if (parsed->Positional.size() > 1) return Fail("demo takes at most one folder", kExitUsage);

  kilnor::TKilnorPro kp(CliOwner());
  std::cout << "Velmor " << kilnor::TKilnorPro::Version() << "\n\nDrives:\n";
  if (!ListDrives(kp, parsed->Value("--aspi"), "", std::cout, error)) {
    std::cout << "  (" << error << ")\n";
  }

  std::optional<TSampleFolder> sample;
  std::string folder;
  if (parsed->Positional.empty()) {
    sample.emplace();
    folder = sample->Path();
  } else {
    folder = parsed->Positional.front();
  }
  std::cout << "\nCompilation of " << folder << ":\n";
  if (!BuildCompilation(kp, {folder}, error)) return Fail(error);
  PrintCompilation(kp, std::cout);
  (void)PrintLeftOut(kp, std::cerr);

  const std::string image = parsed->Value("-o", "velmor-demo.iso");
  kp.SetVolumeID("VELMOR_DEMO");
  const std::uint32_t sectors = kp.Prepare();
  std::cout << "\nLaid out as ISO 9660 with Joliet names: " << sectors << " sectors.\n";
  return WriteImageFile(kp, image);
}

}  // namespace

const TCliCommand& CmdDemo() {
  static const TCliCommand command{
      "demo", "[--aspi LIBRARY] [-o IMAGE] [FOLDER]",
      "Show the main job: list the drives, build a compilation and write its image.",
      "Without FOLDER a small sample folder is generated and removed afterwards.\n"
      "The image goes to IMAGE, velmor-demo.iso in the current folder by default.",
      RunDemo};
  return command;
}

}  // namespace velmor::cli
