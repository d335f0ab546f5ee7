// Recording dates: each carries the offset in force on its own date, and
// years beyond the fields are clamped, not wrapped.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <map>

#include "HeaderReader.h"
#include "LayoutFixture.h"
#include "engine/image/ISO9660.h"

namespace kilnor::test {
namespace {

// Runs the test in a zone with daylight saving; restores the previous zone.
class LayoutDates : public testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("TZ");
    hadZone_ = old != nullptr;
    if (hadZone_) oldZone_ = old;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
  }
  void TearDown() override {
    if (hadZone_)
      setenv("TZ", oldZone_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool hadZone_ = false;
  std::string oldZone_;
};

TEST_F(LayoutDates, EachDateCarriesItsOwnOffsetAndClampedYear) {
  struct TCase {
    const char* Name;
    TSystemTime Time;
    std::uint8_t Expected[7];
  };
  const TCase cases[] = {
      {"summer.txt", {2019, 7, 0, 1, 10, 20, 30, 0}, {119, 7, 1, 10, 20, 30, 8}},
      {"winter.txt", {2019, 1, 0, 2, 11, 21, 31, 0}, {119, 1, 2, 11, 21, 31, 4}},
      {"ancient.txt", {1850, 5, 0, 5, 5, 5, 5, 0}, {0, 1, 1, 0, 0, 0, 4}},
      {"future.txt", {2300, 5, 0, 5, 5, 5, 5, 0}, {255, 12, 31, 23, 59, 59, 4}},
      {"unknown.txt", {}, {0, 0, 0, 0, 0, 0, 0}},
  };
  TCompilation c;
  for (const TCase& t : cases) {
    const std::string name = t.Name;
    c.AddFile(c.root(), std::u16string(name.begin(), name.end()), 1)->Time = t.Time;
  }
  Prepare(c.cd);
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  std::map<std::string, TRecordView> byName;
  for (const TRecordView& r : h.Records(c.cd.FileDirDescriptorExtent, c.cd.RootDir->DirSize)) byName[r.Identifier] = r;
  for (const TCase& t : cases) {
    std::string id = t.Name;
    for (char& ch : id) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    ASSERT_TRUE(byName.count(id)) << id;
    for (int i = 0; i < 7; ++i) EXPECT_EQ(byName[id].Date[i], t.Expected[i]) << t.Name << " byte " << i;
  }
}

TEST_F(LayoutDates, VolumeDatesHaveFourDigitYearsAndTheirOffset) {
  TCompilation c;
  Prepare(c.cd);
  c.cd.VolumeTime = {2024, 8, 0, 9, 14, 15, 16, 170};
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  EXPECT_EQ(h.Text(16, 813, 16), "2024080914151617");
  EXPECT_EQ(h.U8(16, 813 + 16), 8);
  EXPECT_EQ(h.Text(16, 847, 16), "0000000000000000") << "expiration: not specified";
  EXPECT_EQ(h.U8(16, 847 + 16), 0);
}

}  // namespace
}  // namespace kilnor::test
