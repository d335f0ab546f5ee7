#pragma once
// A drive under test, driven by hand-built command blocks, with the state
// directory in a fresh temporary folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Drive.h"
#include "Emulator.h"

namespace velmor::emu::test {

// A temporary folder, removed with everything in it at the end.
class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmor-emu-XXXXXX").string();
    Path = ::mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TTempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  std::string Path;
};

using TBytes = std::vector<std::uint8_t>;

// A medium kind's name as a test case name can spell it: "dvd+r-dl" gives
// "dvdPr_dl".
inline std::string KindCaseName(TMediumKind Kind) {
  std::string name(Traits(Kind).Name);
  for (char& c : name)
    if (c == '-' || c == '+') c = c == '+' ? 'P' : '_';
  return name;
}

// Names a case of a parameterized test after the medium kind it runs on.
struct TKindCaseName {
  template <typename TCase>
  std::string operator()(const ::testing::TestParamInfo<TCase>& Info) const {
    return KindCaseName(Info.param.Kind);
  }
};

inline std::uint32_t Get32(const TBytes& Bytes, std::size_t At) {
  return std::uint32_t{Bytes[At]} << 24 | std::uint32_t{Bytes[At + 1]} << 16 | std::uint32_t{Bytes[At + 2]} << 8 |
         Bytes[At + 3];
}
inline std::uint16_t Get16(const TBytes& Bytes, std::size_t At) {
  return static_cast<std::uint16_t>(Bytes[At] << 8 | Bytes[At + 1]);
}
inline void Put32(TBytes& Bytes, std::size_t At, std::uint32_t Value) {
  for (int i = 0; i < 4; ++i) Bytes[At + i] = static_cast<std::uint8_t>(Value >> (24 - 8 * i));
}
inline void Put16(TBytes& Bytes, std::size_t At, std::uint16_t Value) {
  Bytes[At] = static_cast<std::uint8_t>(Value >> 8);
  Bytes[At + 1] = static_cast<std::uint8_t>(Value);
}

// A reply and how the command ended.
struct TAnswer {
  TCommandResult Result;
  TBytes Data;
  [[nodiscard]] bool Good() const { return Result.Good(); }
  [[nodiscard]] bool Failed(const TSense& Expected) const {
    return Result.Status == kStatusCheckCondition && Result.Sense == Expected;
  }
};

// Command blocks as the MMC and SPC standards lay them out.
struct TCdb {
  static TBytes TestUnitReady() { return TBytes(6, 0); }
  static TBytes Inquiry(std::uint8_t Length = 96) { return {0x12, 0, 0, 0, Length, 0}; }
  static TBytes StartStop(bool LoadEject, bool Start) {
    return {0x1B, 0, 0, 0, static_cast<std::uint8_t>((LoadEject ? 2 : 0) | (Start ? 1 : 0)), 0};
  }
  static TBytes PreventRemoval(bool Prevent) { return {0x1E, 0, 0, 0, static_cast<std::uint8_t>(Prevent), 0}; }
  static TBytes RequestSense() { return {0x03, 0, 0, 0, 18, 0}; }
  static TBytes Read10(std::uint32_t Lba, std::uint16_t Blocks) { return Addressed(0x28, Lba, Blocks); }
  static TBytes Write10(std::uint32_t Lba, std::uint16_t Blocks) { return Addressed(0x2A, Lba, Blocks); }
  static TBytes Read12(std::uint32_t Lba, std::uint32_t Blocks) {
    TBytes cdb(12, 0);
    cdb[0] = 0xA8;
    Put32(cdb, 2, Lba);
    Put32(cdb, 6, Blocks);
    return cdb;
  }
  static TBytes SynchronizeCache() { return TBytes{0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}; }
  static TBytes DiscInformation() { return Sized10(0x51, 0, 34); }
  static TBytes TrackInformation(std::uint32_t Track) {
    TBytes cdb = Sized10(0x52, 0x01, 48);
    Put32(cdb, 2, Track);
    return cdb;
  }
  static TBytes ReserveTrack(std::uint32_t Blocks) {
    TBytes cdb(10, 0);
    cdb[0] = 0x53;
    Put32(cdb, 5, Blocks);
    return cdb;
  }
  static TBytes Close(std::uint8_t Function, std::uint16_t Track, bool Immediate = false) {
    TBytes cdb(10, 0);
    cdb[0] = 0x5B;
    cdb[1] = Immediate ? 1 : 0;
    cdb[2] = Function;
    Put16(cdb, 4, Track);
    return cdb;
  }
  static TBytes Blank(bool Quick, bool Immediate = true) {
    TBytes cdb(12, 0);
    cdb[0] = 0xA1;
    cdb[1] = static_cast<std::uint8_t>((Immediate ? 0x10 : 0) | (Quick ? 1 : 0));
    return cdb;
  }
  static TBytes FormatUnit() { return {0x04, 0x11, 0, 0, 0, 0}; }
  static TBytes ModeSense(std::uint8_t Page, std::uint8_t Control = 0, bool NoDescriptor = false) {
    TBytes cdb = Sized10(0x5A, NoDescriptor ? 0x08 : 0, 255);
    cdb[2] = static_cast<std::uint8_t>(Control << 6 | Page);
    return cdb;
  }
  static TBytes ModeSelect(std::uint16_t Length) { return Sized10(0x55, 0x10, Length); }
  static TBytes GetConfiguration(std::uint8_t Type, std::uint16_t Feature) {
    TBytes cdb = Sized10(0x46, Type, 0xFFFF);
    Put16(cdb, 2, Feature);
    return cdb;
  }
  static TBytes Toc(std::uint8_t Format, bool Msf = false) {
    TBytes cdb = Sized10(0x43, Msf ? 0x02 : 0, 0xFFFF);
    cdb[2] = Format;
    return cdb;
  }
  static TBytes ReadCapacity() { return TBytes{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}; }
  static TBytes FormatCapacities() { return Sized10(0x23, 0, 0xFFFC); }
  static TBytes BufferCapacity() { return Sized10(0x5C, 0, 12); }
  static TBytes SetCdSpeed(std::uint16_t Read, std::uint16_t Write) {
    TBytes cdb(12, 0);
    cdb[0] = 0xBB;
    Put16(cdb, 2, Read);
    Put16(cdb, 4, Write);
    return cdb;
  }
  static TBytes SetStreaming(std::uint16_t Length) {
    TBytes cdb(12, 0);
    cdb[0] = 0xB6;
    Put16(cdb, 9, Length);
    return cdb;
  }
  static TBytes GetPerformance(std::uint8_t Type, std::uint8_t DataType, std::uint16_t Descriptors) {
    TBytes cdb(12, 0);
    cdb[0] = 0xAC;
    cdb[1] = DataType;
    Put16(cdb, 8, Descriptors);
    cdb[10] = Type;
    return cdb;
  }

 private:
  static TBytes Addressed(std::uint8_t Opcode, std::uint32_t Lba, std::uint16_t Blocks) {
    TBytes cdb(10, 0);
    cdb[0] = Opcode;
    Put32(cdb, 2, Lba);
    Put16(cdb, 7, Blocks);
    return cdb;
  }
  static TBytes Sized10(std::uint8_t Opcode, std::uint8_t Byte1, std::uint16_t Allocation) {
    TBytes cdb(10, 0);
    cdb[0] = Opcode;
    cdb[1] = Byte1;
    Put16(cdb, 7, Allocation);
    return cdb;
  }
};

// Disc information fields.
struct TDiscInfo {
  std::uint8_t DiscStatus, LastSessionState, Sessions, FirstTrackLastSession, LastTrackLastSession, Background;
  bool Erasable;
};

// Track information fields.
struct TTrackInfo {
  std::uint32_t Number, Session, Start, NextWritable, Free, Size, LastRecorded;
  bool Reserved, Blank, NextWritableValid, FixedPacket;
};

// A drive of the default description, with its files in a temporary folder.
class TDriveTest : public ::testing::Test {
 protected:
  TDriveTest() : Drive(MakeConfig(), Dir.Path) {}

  static TDriveConfig MakeConfig() {
    TDriveConfig config = TDriveConfig::Default();
    config.BusyPolls = 2;
    return config;
  }

  void Insert(TMediumKind Kind, std::optional<std::uint32_t> Blocks = 1 << 16) {
    std::string error;
    ASSERT_TRUE(Drive.InsertNew(Kind, Blocks, {}, error)) << error;
  }

  TAnswer Run(const TBytes& Cdb, TDirection Direction = TDirection::None, TBytes Data = {}) {
    TAnswer answer;
    if (Direction == TDirection::In && Data.empty()) Data.assign(65536, 0xEE);
    answer.Result = Drive.Execute(Cdb, Direction, Data);
    if (Direction == TDirection::In) Data.resize(answer.Result.Transferred);
    answer.Data = std::move(Data);
    return answer;
  }
  TAnswer In(const TBytes& Cdb) { return Run(Cdb, TDirection::In); }
  TAnswer Out(const TBytes& Cdb, TBytes Data) { return Run(Cdb, TDirection::Out, std::move(Data)); }

  // Blocks filled with Seed + block index, so every block is recognisable.
  static TBytes Pattern(std::uint32_t Lba, std::uint16_t Blocks, std::uint8_t Seed) {
    TBytes data(std::size_t{Blocks} * kBlockSize);
    for (std::size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<std::uint8_t>(Seed + (Lba + i / kBlockSize) + i % kBlockSize % 251);
    return data;
  }
  TAnswer Write(std::uint32_t Lba, std::uint16_t Blocks, std::uint8_t Seed = 1) {
    return Out(TCdb::Write10(Lba, Blocks), Pattern(Lba, Blocks, Seed));
  }
  // True when the blocks read back as Write put them.
  ::testing::AssertionResult ReadsBack(std::uint32_t Lba, std::uint16_t Blocks, std::uint8_t Seed = 1) {
    TAnswer answer = Run(TCdb::Read10(Lba, Blocks), TDirection::In, TBytes(std::size_t{Blocks} * kBlockSize));
    if (!answer.Good())
      return ::testing::AssertionFailure() << "read failed with " << std::hex << int(answer.Result.Sense.Key) << "/"
                                           << int(answer.Result.Sense.Asc) << "/" << int(answer.Result.Sense.Ascq);
    if (answer.Data != Pattern(Lba, Blocks, Seed)) return ::testing::AssertionFailure() << "data differs";
    return ::testing::AssertionSuccess();
  }

  TDiscInfo DiscInfo() {
    TAnswer answer = In(TCdb::DiscInformation());
    EXPECT_TRUE(answer.Good());
    if (answer.Data.size() < 34) return {};
    const auto& d = answer.Data;
    return {static_cast<std::uint8_t>(d[2] & 3), static_cast<std::uint8_t>(d[2] >> 2 & 3), d[4], d[5], d[6],
            static_cast<std::uint8_t>(d[7] & 3), (d[2] & 0x10) != 0};
  }

  std::optional<TTrackInfo> TrackInfo(std::uint32_t Track) {
    TAnswer answer = In(TCdb::TrackInformation(Track));
    if (!answer.Good() || answer.Data.size() < 36) return std::nullopt;
    const auto& d = answer.Data;
    return TTrackInfo{d[2],
                      d[3],
                      Get32(d, 8),
                      Get32(d, 12),
                      Get32(d, 16),
                      Get32(d, 24),
                      Get32(d, 28),
                      (d[6] & 0x80) != 0,
                      (d[6] & 0x40) != 0,
                      (d[7] & 0x01) != 0,
                      (d[6] & 0x10) != 0};
  }

  // Sets write type, test write and multi-session in the write parameters
  // page, keeping what the drive reported for the rest.
  void SetWriteParameters(std::uint8_t WriteType, bool TestWrite, bool Multisession) {
    TAnswer sense = In(TCdb::ModeSense(0x05));
    ASSERT_TRUE(sense.Good());
    TBytes list = sense.Data;
    const std::size_t page = 8 + Get16(list, 6);
    list[0] = list[1] = 0;
    list[page + 2] = static_cast<std::uint8_t>((list[page + 2] & 0xE0) | (TestWrite ? 0x10 : 0) | WriteType);
    list[page + 3] = static_cast<std::uint8_t>((list[page + 3] & 0x3F) | (Multisession ? 0xC0 : 0));
    ASSERT_TRUE(Out(TCdb::ModeSelect(static_cast<std::uint16_t>(list.size())), list).Good());
  }

  // Polls with TEST UNIT READY until the drive is ready; the count of
  // not-ready answers, or -1 after too many.
  int PollsUntilReady() {
    for (int polls = 0; polls < 100; ++polls) {
      TAnswer answer = Run(TCdb::TestUnitReady());
      if (answer.Good()) return polls;
      if (answer.Result.Sense.Key != sense::kNotReady || answer.Result.Sense.Asc != 0x04) return -1;
    }
    return -1;
  }

  TTempDir Dir;
  TDrive Drive;
};

}  // namespace velmor::emu::test
