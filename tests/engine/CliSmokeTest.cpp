#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace {

namespace fs = std::filesystem;

struct TRun {
  int ExitCode = -1;
  std::string Out;
  std::string Err;
};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class CliSmoke : public ::testing::Test {
 protected:
  void SetUp() override {
    cli_ = fs::path(VELMOR_BIN_DIR) / "velmor-cli";
    if (!fs::exists(cli_)) GTEST_SKIP() << "velmor-cli is not built";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    work_ = fs::temp_directory_path() /
            (std::string("velmor-cli-") + info->name() + "-" + std::to_string(std::random_device()()));
    fs::remove_all(work_);
    fs::create_directories(work_ / "Photos" / "2014");
    std::ofstream(work_ / "Photos" / "readme.txt") << "hello";
    std::ofstream(work_ / "Photos" / "2014" / "beach.jpg") << "0123456789";
#ifndef _WIN32
    // The commands that list drives find the emulated recorder; keep its state out of the user's folders.
    ::setenv("VELMOR_EMULATOR_DIR", (work_ / "emulator").c_str(), 1);
#endif
  }
  void TearDown() override { fs::remove_all(work_); }

  TRun Run(const std::string& arguments) {
    const fs::path out = work_ / "stdout";
    const fs::path err = work_ / "stderr";
    const std::string command =
        "\"" + cli_.string() + "\" " + arguments + " >\"" + out.string() + "\" 2>\"" + err.string() + "\"";
    const int status = std::system(command.c_str());
    TRun run;
#ifdef _WIN32
    run.ExitCode = status;
#else
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    run.Out = ReadAll(out);
    run.Err = ReadAll(err);
    return run;
  }

  fs::path cli_;
  fs::path work_;
};

}  // namespace

TEST_F(CliSmoke, TreePrintsAFolderAsAFolderOfTheSameName) {
  const TRun run = Run("tree \"" + (work_ / "Photos").string() + "\"");
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("Photos/  [PHOTOS]"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("    2014/  [2014]"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("      beach.jpg  [BEACH.JPG]  10 bytes"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("    readme.txt  [README.TXT]  5 bytes"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("2 files, 2 folders, 15 bytes"), std::string::npos) << run.Out;
}

TEST_F(CliSmoke, FailuresExplainThemselvesAndExitNonZero) {
  const TRun missing = Run("tree \"" + (work_ / "missing").string() + "\"");
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_NE(missing.Err.find("no such file or folder"), std::string::npos) << missing.Err;

  const TRun noArgs = Run("tree");
  EXPECT_EQ(noArgs.ExitCode, 2);
  EXPECT_NE(noArgs.Err.find("at least one"), std::string::npos) << noArgs.Err;

  const TRun unknown = Run("frobnicate");
  EXPECT_EQ(unknown.ExitCode, 2);
  EXPECT_NE(unknown.Err.find("unknown command 'frobnicate'"), std::string::npos) << unknown.Err;

  const TRun badOption = Run("drives --speed 4");
  EXPECT_EQ(badOption.ExitCode, 2);
  EXPECT_NE(badOption.Err.find("unknown option '--speed'"), std::string::npos) << badOption.Err;
}

TEST_F(CliSmoke, HelpListsTheCommands) {
  const TRun help = Run("--help");
  EXPECT_EQ(help.ExitCode, 0);
  for (const char* command : {"drives", "tree", "demo"}) {
    EXPECT_NE(help.Out.find(std::string("  ") + command), std::string::npos) << help.Out;
  }
  const TRun treeHelp = Run("tree --help");
  EXPECT_EQ(treeHelp.ExitCode, 0);
  EXPECT_NE(treeHelp.Out.find("usage: velmor-cli tree FILE|FOLDER..."), std::string::npos);
}

// What the command line itself answers, before any command runs: help,
// the version, and options or values a command does not take.
TEST_F(CliSmoke, CommandLineIsCheckedBeforeTheCommandRuns) {
  struct TCase {
    const char* Arguments;
    int ExitCode;
    bool OnStandardOutput;
    std::string Expected;
  };
  const TCase cases[] = {
      {"burn --frobnicate x", 2, false, "velmor-cli: unknown option '--frobnicate'"},
      {"ls --verbose", 2, false, "velmor-cli: unknown option '--verbose'"},
      {"build-iso -q x -o y.iso", 2, false, "velmor-cli: unknown option '-q'"},
      {"erase --quick", 2, false, "velmor-cli: unknown option '--quick'"},
      {"--frobnicate", 2, false, "velmor-cli: unknown option '--frobnicate'"},
      {"info --drive", 2, false, "velmor-cli: option --drive needs a value"},
      {"burn-iso --help", 0, true, "usage: velmor-cli burn-iso IMAGE [--speed X|max]"},
      {"speeds -h", 0, true, "usage: velmor-cli speeds [--drive N]"},
      {"help verify", 0, true, "usage: velmor-cli verify FILE|FOLDER..."},
      {"--version", 0, true, "velmor-cli " VELMOR_VERSION " ("},
      {"tree -- --not-an-option", 1, false, "cannot add \"--not-an-option\": no such file or folder"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.Arguments);
    const TRun run = Run(test.Arguments);
    EXPECT_EQ(run.ExitCode, test.ExitCode) << run.Err;
    const std::string& shown = test.OnStandardOutput ? run.Out : run.Err;
    EXPECT_NE(shown.find(test.Expected), std::string::npos) << shown;
  }
}

TEST_F(CliSmoke, DemoWritesTheImageOfItsCompilation) {
  const fs::path image = work_ / "demo.iso";
  const TRun run = Run("demo -o \"" + image.string() + "\" \"" + (work_ / "Photos").string() + "\"");
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Out.find("2 files, 2 folders, 15 bytes"), std::string::npos) << run.Out;
  ASSERT_TRUE(fs::exists(image));
  EXPECT_EQ(fs::file_size(image) % (32 * 2048), 0u);
}
