// velmor-cli build-iso run as a process, the way a user meets it: what it
// refuses, what it names on standard error, and what stands under the
// output's name after a failure, a signal or two builds at once.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/temp-folder/TempFolder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using velmor_test::TempFolder;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteAll(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// One velmor-cli process with its standard output and error in files.
class TCliProcess {
 public:
  TCliProcess(const fs::path& folder, const std::string& name, const std::vector<std::string>& arguments)
      : out_(folder / (name + ".out")), err_(folder / (name + ".err")) {
    std::vector<std::string> argv{(fs::path(VELMOR_BIN_DIR) / "velmor-cli").string()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (std::string& word : argv) pointers.push_back(word.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  void Signal(int number) const { ::kill(pid_, number); }

  // The exit code; -1 when the process did not exit by itself.
  int Wait() {
    int status = 0;
    if (pid_ > 0) ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  [[nodiscard]] std::string Err() const { return ReadAll(err_); }

  ~TCliProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      (void)Wait();
    }
  }

 private:
  fs::path out_;
  fs::path err_;
  pid_t pid_ = -1;
};

struct TRun {
  int ExitCode;
  std::string Err;
};

class CliImageOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(fs::path(VELMOR_BIN_DIR) / "velmor-cli")) GTEST_SKIP() << "velmor-cli is not built";
    folder_.MakeFile("t/data.bin", "precious");
    folder_.MakeFile("t/notes.txt", "notes");
  }

  TRun Run(const std::vector<std::string>& arguments) {
    TCliProcess process(logs_.Path(), "run", arguments);
    const int code = process.Wait();
    return {code, process.Err()};
  }

  std::vector<std::string> Names(const std::string& relative) const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(folder_.Path(relative))) names.push_back(item.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  TempFolder folder_;
  TempFolder logs_;
};

TEST_F(CliImageOutput, AnOutputInsideOrEqualToAnInputIsRefusedUntouched) {
  const std::string input = folder_.Path("t");
  const std::string data = folder_.Path("t/data.bin");
  const struct {
    const char* Name;
    std::vector<std::string> Arguments;
    const char* Says;
  } cases[] = {
      {"inside the folder", {"build-iso", input, "-o", data}, "lies inside"},
      {"a new file inside the folder", {"build-iso", input, "-o", folder_.Path("t/new.iso")}, "lies inside"},
      {"the input file itself", {"build-iso", data, "-o", data}, "it is one of the files being recorded"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const TRun run = Run(c.Arguments);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
    EXPECT_EQ(ReadAll(data), "precious");
    EXPECT_EQ(Names("t"), (std::vector<std::string>{"data.bin", "notes.txt"}));
  }
}

// File errors keep the engine's text and add the cause, with the path quoted.
TEST_F(CliImageOutput, FileErrorsNameTheirCause) {
  const std::string missing = logs_.Path("no such folder/out.iso");
  const struct {
    std::string Output;
    std::string Says;
  } cases[] = {
      {missing, "cannot build \"" + missing + "\": Error creating file \\" + missing +
                    "\\ (the folder it goes in does not exist)"},
      {"/dev/full", "writing \"/dev/full\" failed: Error creating file \\/dev/full\\ (No space left on device)"},
  };
  for (const auto& c : cases) {
    const TRun run = Run({"build-iso", folder_.Path("t"), "-o", c.Output});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Err.find(c.Says), std::string::npos) << run.Err;
  }
}

// A socket bound at path.
void MakeSocket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, std::min(path.size(), sizeof address.sun_path - 1));
  EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
  ::close(fd);
}

TEST_F(CliImageOutput, EveryItemLeftOutIsNamedAndStopsTheBuildUnlessSkipped) {
  const std::string longName(230, 'n');
  const struct {
    const char* Name;
    void (*Make)(const TempFolder&, const std::string&);
    std::string Item;
    const char* Reason;
    bool RockRidgeRecordsIt;  // as a link, or under its whole name
  } cases[] = {
      {"a name too long", [](const TempFolder& f, const std::string& n) { f.MakeFile("t/" + n + ".txt", "x"); },
       longName + ".txt", "name longer than 217 characters", true},
      {"a FIFO", [](const TempFolder& f, const std::string&) { ::mkfifo(f.Path("t/fifo").c_str(), 0644); }, "fifo",
       "neither a file nor a folder", false},
      {"a socket", [](const TempFolder& f, const std::string&) { MakeSocket(f.Path("t/sock")); }, "sock",
       "neither a file nor a folder", false},
      {"a link to a device", [](const TempFolder& f, const std::string&) { f.MakeLink("/dev/null", "t/null"); }, "null",
       "a link that leads to no file or folder", true},
      {"a dangling link", [](const TempFolder& f, const std::string&) { f.MakeLink("missing", "t/dangling"); },
       "dangling", "a link that leads to no file or folder", true},
      {"a link to a folder", [](const TempFolder& f, const std::string&) { f.MakeLink("/tmp", "t/tmp"); }, "tmp",
       "a link to a folder, not followed", true},
  };
  const std::string image = logs_.Path("out.iso");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    c.Make(folder_, longName);
    const std::string named = "left out \"" + folder_.Path("t/" + c.Item) + "\": " + c.Reason;

    if (c.RockRidgeRecordsIt) {
      const TRun recorded = Run({"build-iso", folder_.Path("t"), "-o", image});
      EXPECT_EQ(recorded.ExitCode, 0) << recorded.Err;
      EXPECT_EQ(recorded.Err.find("left out"), std::string::npos) << recorded.Err;
      fs::remove(image);
    }
    std::vector<std::string> arguments{"build-iso", folder_.Path("t"), "-o", image};
    if (c.RockRidgeRecordsIt) arguments.push_back("--no-rock-ridge");
    const TRun refused = Run(arguments);
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_NE(refused.Err.find(named), std::string::npos) << refused.Err;
    EXPECT_NE(refused.Err.find("--skip-unsupported"), std::string::npos) << refused.Err;
    EXPECT_FALSE(fs::exists(image));

    arguments.push_back("--skip-unsupported");
    const TRun skipped = Run(arguments);
    EXPECT_EQ(skipped.ExitCode, 0) << skipped.Err;
    EXPECT_NE(skipped.Err.find(named), std::string::npos) << skipped.Err;
    EXPECT_TRUE(fs::exists(image));
    fs::remove(image);
    fs::remove(folder_.Path("t/" + c.Item));
  }
}

// Given on the command line, such items are left out the same way.
TEST_F(CliImageOutput, AnInputLeftOutIsNamedLikeAnyOther) {
  const std::string longFolder = folder_.MakeDir(std::string(230, 'f'));
  const std::string fifo = folder_.Path("fifo");
  ::mkfifo(fifo.c_str(), 0644);
  const std::string image = logs_.Path("out.iso");
  for (const bool skip : {false, true}) {
    std::vector<std::string> arguments{"build-iso", longFolder, fifo, folder_.Path("t"), "-o", image,
                                       "--no-rock-ridge"};
    if (skip) arguments.push_back("--skip-unsupported");
    const TRun run = Run(arguments);
    EXPECT_EQ(run.ExitCode, skip ? 0 : 1) << run.Err;
    EXPECT_NE(run.Err.find("left out \"" + std::string(230, 'f') + "\": name longer than 217 characters"),
              std::string::npos)
        << run.Err;
    EXPECT_NE(run.Err.find("left out \"" + fifo + "\": neither a file nor a folder"), std::string::npos) << run.Err;
    EXPECT_EQ(fs::exists(image), skip);
  }
}

TEST_F(CliImageOutput, TwoInputsOfOneNameAreRefusedNamingBoth) {
  folder_.MakeFile("a/x.txt", "a");
  folder_.MakeFile("b/x.txt", "b");
  folder_.MakeFile("m1/photos/1.jpg", "1");
  folder_.MakeFile("m2/photos/2.jpg", "2");
  const std::string image = logs_.Path("out.iso");
  for (const auto& [first, second] : {std::pair{"a/x.txt", "b/x.txt"}, std::pair{"m1/photos", "m2/photos"}}) {
    const TRun run = Run({"build-iso", folder_.Path(first), folder_.Path(second), "-o", image});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Err.find("\"" + folder_.Path(first) + "\" and \"" + folder_.Path(second) + "\""), std::string::npos)
        << run.Err;
    EXPECT_FALSE(fs::exists(image));
  }
}

TEST_F(CliImageOutput, NamesThatDifferOnlyInCaseAreBothRecorded) {
  folder_.MakeFile("t/readme.txt", "lower");
  folder_.MakeFile("t/README.TXT", "UPPER");
  const std::string image = logs_.Path("case.iso");
  const TRun run = Run({"build-iso", folder_.Path("t"), "-o", image});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  // Checked with an independent reader: xorriso -osirrox on -indev IMAGE -extract / FOLDER
  const std::string extracted = logs_.Path("extracted");
  const std::string command = "xorriso -osirrox on -indev '" + image + "' -extract / '" + extracted + "' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_EQ(ReadAll(extracted + "/t/readme.txt"), "lower");
  EXPECT_EQ(ReadAll(extracted + "/t/README.TXT"), "UPPER");
}

TEST_F(CliImageOutput, ChangedNamesAndLabelsAreReportedOnce) {
  folder_.MakeFile(std::string("t/bell\x07") + "name.txt", "b");
  const TRun run = Run({"build-iso", folder_.Path("t"), "-o", logs_.Path("n.iso"), "--udf", "--volume-id", "My Disc"});
  ASSERT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_NE(run.Err.find("volume label \"My Disc\" recorded as \"MY_DISC\" (ISO 9660)\n"), std::string::npos)
      << run.Err;
  const std::string name = "name \"" + folder_.Path("t/bell?name.txt") +
                           "\" recorded as \"bell_name.txt\" (Joliet), \"bell_name.txt\" (UDF)\n";
  const std::size_t at = run.Err.find(name);
  EXPECT_NE(at, std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find(name, at + 1), std::string::npos) << "once";
}

// A session past what its 32-bit fields hold, from a sparse 9 TiB file.
TEST_F(CliImageOutput, AnImageTooLargeForItsFieldsIsRefusedAtPrepare) {
  const std::string huge = folder_.MakeFile("huge/nine.bin");
  std::error_code error;
  fs::resize_file(huge, std::uintmax_t{9} << 40, error);
  if (error) GTEST_SKIP() << "this file system holds no 9 TiB sparse file: " << error.message();
  const TRun run = Run({"build-iso", folder_.Path("huge"), "-o", logs_.Path("huge.iso")});
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_NE(run.Err.find("4831838"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("at most 4294967295 sectors"), std::string::npos) << run.Err;
  EXPECT_FALSE(fs::exists(logs_.Path("huge.iso")));
}

// Waits until a temporary image appears beside `image`: the write has begun.
bool WaitForTemporaryOf(const fs::path& image) {
  for (int i = 0; i < 2000; ++i) {
    for (const auto& item : fs::directory_iterator(image.parent_path())) {
      if (item.path().filename().string().starts_with(".~" + image.filename().string())) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

TEST_F(CliImageOutput, ASignalAbortsTheBuildAndKeepsWhatStoodThere) {
  const std::string big = folder_.MakeFile("big/zeros.bin");
  fs::resize_file(big, std::uintmax_t{3} << 30);  // sparse: read fast, long enough to be interrupted
  const fs::path image = logs_.Path("images/out.iso");
  fs::create_directories(image.parent_path());
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    WriteAll(image, "old image");
    TCliProcess build(logs_.Path(), "build", {"build-iso", folder_.Path("big"), "-o", image.string()});
    ASSERT_TRUE(WaitForTemporaryOf(image));
    build.Signal(signal);
    EXPECT_EQ(build.Wait(), 1) << build.Err();
    EXPECT_NE(build.Err().find("Aborted by user"), std::string::npos) << build.Err();
    EXPECT_EQ(ReadAll(image), "old image");
    EXPECT_EQ(std::distance(fs::directory_iterator(image.parent_path()), {}), 1) << "no temporary file left";
  }
}

// Two builds to one output: each writes its own temporary file, and the rename
// makes the last to finish win whole.
TEST_F(CliImageOutput, TwoBuildsToOneOutputLeaveOneWholeImage) {
  folder_.MakeFile("one/a.bin", std::string(3 << 20, 'a'));
  folder_.MakeFile("two/b.bin", std::string(5 << 20, 'b'));
  const fs::path shared = logs_.Path("shared.iso");
  std::vector<std::string> references;
  for (const char* input : {"one", "two"}) {
    const std::string reference = logs_.Path(std::string(input) + ".iso");
    ASSERT_EQ(Run({"build-iso", folder_.Path(input), "-o", reference}).ExitCode, 0);
    references.push_back(ReadAll(reference));
  }
  TCliProcess first(logs_.Path(), "one", {"build-iso", folder_.Path("one"), "-o", shared.string()});
  TCliProcess second(logs_.Path(), "two", {"build-iso", folder_.Path("two"), "-o", shared.string()});
  EXPECT_EQ(first.Wait(), 0) << first.Err();
  EXPECT_EQ(second.Wait(), 0) << second.Err();
  const std::string result = ReadAll(shared);
  // The header holds the time of each build; the data from sector 150 on is the image's own.
  constexpr std::size_t kDataStart = 150 * 2048;
  const bool isOne = result.size() == references[0].size() && result.substr(kDataStart) == references[0].substr(kDataStart);
  const bool isTwo = result.size() == references[1].size() && result.substr(kDataStart) == references[1].substr(kDataStart);
  EXPECT_TRUE(isOne || isTwo) << "a mixed image of " << result.size() << " bytes";
  for (const auto& item : fs::directory_iterator(logs_.Path())) {
    EXPECT_FALSE(item.path().filename().string().starts_with(".~")) << item.path();
  }
}

}  // namespace
#endif
