// Rock Ridge read back by independent tools: a POSIX tree with symbolic
// links (relative, absolute, dangling, to a folder, a long target), execute
// and setuid bits, a 250-byte name, names Joliet cannot hold and folders
// deeper than eight levels. xorriso's listing and osirrox's extraction must
// show exactly the names, modes, link targets and modification times;
// isoinfo -R lists them; 7z and iso-info still open the image.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ReaderCheckFixtures.h"
#include "ReaderTools.h"
#include "engine/KilnorPro.h"
#include "engine/image/Tree.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

// 2001-02-03 04:05:06 UTC, and a second later for the links.
constexpr time_t kFileTime = 981173106;

const std::string kLongName = std::string(246, 'n') + ".txt";
const std::string kJolietUnfit = "a:b*c?d;e\"f<g>h|i";
const std::string kDeepPath = "d1/d2/d3/d4/d5/d6/d7/d8/d9/d10/deep.txt";
const std::string kLongTarget = "../" + std::string(300, 'q') + "/../plain.txt";

struct TItemCase {
  std::string Path;        // below the root
  std::string Mode;        // as ls shows it
  std::string PublicMode;  // with owners 0 and modes readable by all
  std::string LinkTarget;  // empty: not a link
};

const std::vector<TItemCase>& Items() {
  static const std::vector<TItemCase> items = {
      {"plain.txt", "-rw-r-----", "-r--r--r--", ""},
      {"run.sh", "-rwxr-x---", "-r-xr-xr-x", ""},
      {"setuid", "-rwsr-xr-x", "-r-xr-xr-x", ""},
      {"sub", "drwxr-x---", "dr-xr-xr-x", ""},
      {"sub/inner.txt", "-rw-------", "-r--r--r--", ""},
      {kLongName, "-rw-r--r--", "-r--r--r--", ""},
      {kJolietUnfit, "-rw-r--r--", "-r--r--r--", ""},
      {kDeepPath, "-rw-r--r--", "-r--r--r--", ""},
      {"rel", "lrwxrwxrwx", "lrwxrwxrwx", "plain.txt"},
      {"abs", "lrwxrwxrwx", "lrwxrwxrwx", "/nowhere/velmor/target"},
      {"dangling", "lrwxrwxrwx", "lrwxrwxrwx", "missing"},
      {"to-folder", "lrwxrwxrwx", "lrwxrwxrwx", "sub"},
      {"sub/up", "lrwxrwxrwx", "lrwxrwxrwx", "../run.sh"},
      {"long-target", "lrwxrwxrwx", "lrwxrwxrwx", kLongTarget},
  };
  return items;
}

std::string Content(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The permission bits an ls mode string shows ("-rwsr-x---").
mode_t PermissionsOf(const std::string& mode) {
  mode_t bits = 0;
  for (int i = 0; i < 9; ++i) {
    const char c = mode[static_cast<std::size_t>(i) + 1];
    if (c == 'r' || c == 'w' || c == 'x' || c == 's') bits |= static_cast<mode_t>(1u << (8 - i));
  }
  if (mode[3] == 's') bits |= S_ISUID;
  return bits;
}

void SetTime(const fs::path& path, time_t seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// The tree of Items(), every file and link dated kFileTime (links a second
// later), modes as the table says.
void PopulatePosixTree(const fs::path& src) {
  for (const TItemCase& item : Items()) {
    const fs::path path = src / item.Path;
    fs::create_directories(path.parent_path());
    if (!item.LinkTarget.empty()) {
      fs::create_symlink(item.LinkTarget, path);
    } else if (item.Mode[0] == 'd') {
      fs::create_directories(path);
    } else {
      WriteFile(path, Pattern(100 + item.Path.size(), static_cast<unsigned>(item.Path.size())));
    }
  }
  for (auto it = Items().rbegin(); it != Items().rend(); ++it) {
    const fs::path path = src / it->Path;
    if (it->LinkTarget.empty()) {
      ASSERT_EQ(chmod(path.c_str(), PermissionsOf(it->Mode)), 0) << path;
    }
    SetTime(path, it->LinkTarget.empty() ? kFileTime : kFileTime + 1);
  }
}

class RockRidgeReaderCheck : public testing::Test {
 protected:
  void SetUp() override {
    if (!HaveTool("xorriso") || !HaveTool("osirrox")) GTEST_SKIP() << "xorriso is not installed";
    PopulatePosixTree(src_);
  }

  // xorriso's "ls -l" line of the item, empty when it lists none.
  std::string Listed(const std::string& listing, const std::string& path) {
    const std::string quoted = " '/" + path + "'";
    for (std::size_t end = listing.find(quoted); end != std::string::npos; end = listing.find(quoted, end + 1)) {
      const std::size_t start = listing.rfind('\n', end) + 1;
      const std::size_t lineEnd = listing.find('\n', end);
      const std::string line = listing.substr(start, lineEnd - start);
      const std::size_t after = end - start + quoted.size();
      if (after == line.size() || line.compare(after, 4, " -> ") == 0) return line;
    }
    return {};
  }

  std::string ListImage() {
    const TCommandResult list = RunTool("xorriso -indev " + Quoted(image_) + " -find / -exec lsdl");
    EXPECT_EQ(list.ExitCode, 0) << list.Output;
    EXPECT_EQ(XorrisoComplaints(list.Output, false), "") << list.Output;
    return list.Output;
  }

  TTempDir scratch_;
  fs::path src_ = scratch_.path() / "src";
  fs::path image_ = scratch_.path() / "image.iso";
};

TEST_F(RockRidgeReaderCheck, ReadersSeeNamesModesLinksAndTimes) {
  TKilnorPro kp;
  ASSERT_TRUE(kp.RockRidge());
  ASSERT_TRUE(BuildImage(kp, src_, image_, "RR CHECK"));
  EXPECT_TRUE(LeftOutItems(kp.CDFiles).empty());

  const std::string listing = ListImage();
  for (const TItemCase& item : Items()) {
    const std::string line = Listed(listing, item.Path);
    ASSERT_FALSE(line.empty()) << item.Path << "\n" << listing;
    EXPECT_EQ(line.substr(0, 10), item.Mode) << line;
    if (!item.LinkTarget.empty()) {
      EXPECT_NE(line.find(" -> '" + item.LinkTarget + "'"), std::string::npos) << line;
    }
  }

  const fs::path out = scratch_.path() / "extracted";
  const TCommandResult extract = RunTool("osirrox -indev " + Quoted(image_) + " -extract / " + Quoted(out));
  ASSERT_EQ(extract.ExitCode, 0) << extract.Output;
  for (const TItemCase& item : Items()) {
    const fs::path got = out / item.Path;
    struct stat status {};
    ASSERT_EQ(lstat(got.c_str(), &status), 0) << got;
    if (!item.LinkTarget.empty()) {
      EXPECT_EQ(fs::read_symlink(got).string(), item.LinkTarget) << item.Path;
      continue;
    }
    EXPECT_EQ(status.st_mode & 07777, PermissionsOf(item.Mode)) << item.Path;
    if (item.Mode[0] == '-') {
      EXPECT_EQ(status.st_mtim.tv_sec, kFileTime) << item.Path;
      EXPECT_EQ(Content(got), Content(src_ / item.Path)) << item.Path;
    }
  }
  static_cast<void>(RunTool("chmod -R u+w " + Quoted(out)));

  if (HaveTool("isoinfo")) {
    const TCommandResult isoinfo = RunTool("isoinfo -R -l -i " + Quoted(image_));
    EXPECT_EQ(isoinfo.ExitCode, 0) << isoinfo.Output;
    for (const TItemCase& item : Items()) {
      const std::string name = fs::path(item.Path).filename().string();
      const std::string shown = item.LinkTarget.empty() ? "  " + name + " " : "  " + name + " -> " + item.LinkTarget;
      EXPECT_NE(isoinfo.Output.find(shown), std::string::npos) << shown << "\n" << isoinfo.Output;
    }
  }
  for (const std::string tool : {"iso-info --no-header -f -i", "7z l"}) {
    if (!HaveTool(tool.substr(0, tool.find(' ')))) continue;
    const TCommandResult r = RunTool(tool + " " + Quoted(image_));
    EXPECT_EQ(r.ExitCode, 0) << tool << r.Output;
    EXPECT_EQ(r.Output.find("rror"), std::string::npos) << tool << r.Output;
  }
}

TEST_F(RockRidgeReaderCheck, PublicAttributesRecordOwnersZeroAndModesReadableByAll) {
  if (geteuid() == 0) {
    ASSERT_EQ(lchown((src_ / "plain.txt").c_str(), 1234, 5678), 0);
  }
  TKilnorPro kp;
  kp.SetRockRidgePublic(true);
  ASSERT_TRUE(BuildImage(kp, src_, image_, "RR CHECK"));
  const std::string listing = ListImage();
  for (const TItemCase& item : Items()) {
    const std::string line = Listed(listing, item.Path);
    ASSERT_FALSE(line.empty()) << item.Path;
    EXPECT_EQ(line.substr(0, 10), item.PublicMode) << line;
    EXPECT_NE(line.find(" 0        0 "), std::string::npos) << line;
  }
}

TEST_F(RockRidgeReaderCheck, OwnersAreRecordedAsTheyAre) {
  if (geteuid() != 0) GTEST_SKIP() << "only the superuser can give files other owners";
  ASSERT_EQ(lchown((src_ / "plain.txt").c_str(), 1234, 5678), 0);
  ASSERT_EQ(lchown((src_ / "rel").c_str(), 4321, 8765), 0);
  TKilnorPro kp;
  ASSERT_TRUE(BuildImage(kp, src_, image_, "RR CHECK"));
  const std::string listing = ListImage();
  EXPECT_NE(Listed(listing, "plain.txt").find(" 1234     5678 "), std::string::npos) << listing;
  EXPECT_NE(Listed(listing, "rel").find(" 4321     8765 "), std::string::npos) << listing;
}

// Following links records what they lead to; links to folders and dangling
// ones are left out and named, as without Rock Ridge.
TEST_F(RockRidgeReaderCheck, FollowedLinksRecordWhatTheyLeadTo) {
  TKilnorPro kp;
  kp.SetFollowLinks(true);
  kp.ClearAll();
  ASSERT_NE(kp.InsertDirW(u"\\", src_.u16string(), u"*", true, false), nullptr);
  std::vector<std::string> leftOut;
  for (const TLeftOutItem& item : LeftOutItems(kp.CDFiles)) leftOut.push_back(fs::path(item.Path).filename().string());
  EXPECT_EQ(leftOut, (std::vector<std::string>{"to-folder", "abs", "dangling", "long-target"}));
  ASSERT_TRUE(BuildImage(kp, src_, image_, "RR CHECK"));
  const std::string listing = ListImage();
  EXPECT_EQ(Listed(listing, "rel").substr(0, 10), "-rw-r-----") << listing;
  EXPECT_EQ(Listed(listing, "sub/up").substr(0, 10), "-rwxr-x---") << listing;
  EXPECT_EQ(Listed(listing, "to-folder"), "") << listing;
}

}  // namespace
}  // namespace kilnor::test
