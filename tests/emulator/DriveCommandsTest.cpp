// Single commands of the drive: identification, readiness, features, mode
// pages, disc structures, speeds, and the write paths the standards set out.
#include "EmulatorTestSupport.h"

namespace velmor::emu::test {
namespace {

using DriveCommandsTest = TDriveTest;

TEST_F(DriveCommandsTest, InquiryIdentifiesARemovableCdDvdDevice) {
  TAnswer answer = In(TCdb::Inquiry(64));
  ASSERT_TRUE(answer.Good());
  ASSERT_EQ(answer.Data.size(), 64u) << "the reply stops at the allocation length";
  EXPECT_EQ(answer.Data[0], 0x05);
  EXPECT_EQ(answer.Data[1], 0x80);
  EXPECT_EQ(std::string(answer.Data.begin() + 8, answer.Data.begin() + 36), "VELMOR  VIRTUAL RECORDER1.00");
  EXPECT_TRUE(In(TBytes{0x12, 0, 0x80, 0, 64, 0}).Failed(sense::InvalidFieldInCdb())) << "page without EVPD";
}

TEST_F(DriveCommandsTest, UnknownOperationAndShortCommandBlockAreRefused) {
  EXPECT_TRUE(Run(TBytes{0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Failed(sense::InvalidOpcode()));
  EXPECT_TRUE(Run(TBytes{0x28, 0, 0, 0}).Failed(sense::InvalidFieldInCdb()));
}

TEST_F(DriveCommandsTest, ReadinessFollowsTrayAndMedium) {
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Failed(sense::NoMediumTrayClosed()));
  Insert(TMediumKind::CdR);
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Good());
  ASSERT_TRUE(Run(TCdb::StartStop(true, false)).Good());
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Failed(sense::NoMediumTrayOpen()));
  TAnswer condition = In(TCdb::RequestSense());
  ASSERT_TRUE(condition.Good());
  EXPECT_EQ(condition.Data[2], sense::kNotReady);
  EXPECT_EQ(condition.Data[12], 0x3A);
  ASSERT_TRUE(Run(TCdb::StartStop(true, true)).Good());
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Good());
}

TEST_F(DriveCommandsTest, LoadingReportsBecomingReadyForTheConfiguredPolls) {
  Insert(TMediumKind::DvdR);
  TDriveConfig config = Drive.Config();
  config.LoadingPolls = 2;
  Drive.UpdateConfig(config);
  ASSERT_TRUE(Run(TCdb::StartStop(true, false)).Good());
  ASSERT_TRUE(Run(TCdb::StartStop(true, true)).Good());
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Failed(sense::BecomingReady()));
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Failed(sense::BecomingReady()));
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Good());
}

TEST_F(DriveCommandsTest, EjectIsRefusedWhileTheMediumIsLocked) {
  Insert(TMediumKind::CdR);
  ASSERT_TRUE(Run(TCdb::PreventRemoval(true)).Good());
  EXPECT_TRUE(Run(TCdb::StartStop(true, false)).Failed(sense::RemovalPrevented()));
  EXPECT_FALSE(Drive.OpenTray(false)) << "the eject button is locked too";
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Good());
  ASSERT_TRUE(Run(TCdb::PreventRemoval(false)).Good());
  EXPECT_TRUE(Run(TCdb::StartStop(true, false)).Good());
}

struct TProfileCase {
  TMediumKind Kind;
  std::uint16_t Profile;
};

class CurrentProfileTest : public TDriveTest, public ::testing::WithParamInterface<TProfileCase> {};

TEST_P(CurrentProfileTest, GetConfigurationNamesTheMediumsProfile) {
  Insert(GetParam().Kind);
  TAnswer answer = In(TCdb::GetConfiguration(2, 0x0000));
  ASSERT_TRUE(answer.Good());
  EXPECT_EQ(Get16(answer.Data, 6), GetParam().Profile);
  ASSERT_GE(answer.Data.size(), 12u);
  EXPECT_EQ(Get16(answer.Data, 8), 0x0000) << "only the profile list was asked for";
  bool listedAsCurrent = false;
  for (std::size_t at = 12; at + 4 <= 12u + answer.Data[11]; at += 4)
    if (Get16(answer.Data, at) == GetParam().Profile) listedAsCurrent = answer.Data[at + 2] & 1;
  EXPECT_TRUE(listedAsCurrent);
}

INSTANTIATE_TEST_SUITE_P(
    Media, CurrentProfileTest,
    ::testing::Values(TProfileCase{TMediumKind::CdRom, 0x08}, TProfileCase{TMediumKind::CdR, 0x09},
                      TProfileCase{TMediumKind::CdRw, 0x0A}, TProfileCase{TMediumKind::DvdR, 0x11},
                      TProfileCase{TMediumKind::DvdRam, 0x12}, TProfileCase{TMediumKind::DvdRwRestricted, 0x13},
                      TProfileCase{TMediumKind::DvdRwSequential, 0x14}, TProfileCase{TMediumKind::DvdPlusRw, 0x1A},
                      TProfileCase{TMediumKind::DvdPlusR, 0x1B}, TProfileCase{TMediumKind::DvdPlusRDl, 0x2B},
                      TProfileCase{TMediumKind::BdR, 0x41}, TProfileCase{TMediumKind::BdRe, 0x43},
                      TProfileCase{TMediumKind::HdDvdR, 0x51}, TProfileCase{TMediumKind::HdDvdRam, 0x52}),
    TKindCaseName());

TEST_F(DriveCommandsTest, FeatureProbesAnswerOnlyTheNamedFeature) {
  Insert(TMediumKind::DvdPlusRw);
  struct TProbe {
    std::uint16_t Feature;
    bool Current;
    std::uint8_t FirstDataByteMask;  // bits expected set in the feature's first data byte
  };
  const TProbe probes[] = {{0x002A, true, 0x01}, {0x003B, false, 0x01}, {0x002F, false, 0x02},
                           {0x0040, false, 0x00}, {0x0041, false, 0x00}, {0x0050, false, 0x00},
                           {0x0051, false, 0x00}};
  for (const auto& probe : probes) {
    SCOPED_TRACE(probe.Feature);
    TAnswer answer = In(TCdb::GetConfiguration(2, probe.Feature));
    ASSERT_TRUE(answer.Good());
    ASSERT_GE(answer.Data.size(), 12u);
    EXPECT_EQ(Get16(answer.Data, 8), probe.Feature);
    EXPECT_EQ((answer.Data[10] & 1) != 0, probe.Current);
    EXPECT_EQ(Get32(answer.Data, 0), answer.Data.size() - 4);
    EXPECT_EQ(answer.Data[12] & probe.FirstDataByteMask, probe.FirstDataByteMask);
  }
}

TEST_F(DriveCommandsTest, NoMediumMeansProfileZeroAndNoCurrentMediaFeatures) {
  TAnswer answer = In(TCdb::GetConfiguration(1, 0x0000));
  ASSERT_TRUE(answer.Good());
  EXPECT_EQ(Get16(answer.Data, 6), 0);
  for (std::size_t at = 8; at + 4 <= answer.Data.size(); at += 4 + answer.Data[at + 3]) {
    const std::uint16_t feature = Get16(answer.Data, at);
    EXPECT_TRUE(feature < 0x0010 || feature >= 0x0100) << "media feature " << feature << " current without a medium";
  }
}

TEST_F(DriveCommandsTest, DriveWithoutBdWritingDoesNotReportTheBdWriteFeature) {
  TDriveConfig config = Drive.Config();
  config.Writes = {TMediumKind::CdR, TMediumKind::CdRw};
  Drive.UpdateConfig(config);
  TAnswer answer = In(TCdb::GetConfiguration(2, 0x0041));
  ASSERT_TRUE(answer.Good());
  EXPECT_EQ(answer.Data.size(), 8u);
  Insert(TMediumKind::BdR);
  EXPECT_TRUE(Write(0, 32).Failed(sense::CannotWriteIncompatible()));
}

struct TModeCase {
  const char* Name;
  bool DriveGivesDescriptor;
  bool HostRefusesDescriptor;
  std::size_t PageOffset;
};

class ModeSenseTest : public TDriveTest, public ::testing::WithParamInterface<TModeCase> {};

TEST_P(ModeSenseTest, PagesFollowTheHeaderAndOptionalBlockDescriptor) {
  TDriveConfig config = Drive.Config();
  config.BlockDescriptor = GetParam().DriveGivesDescriptor;
  Drive.UpdateConfig(config);
  for (std::uint8_t page : {std::uint8_t{0x05}, std::uint8_t{0x2A}}) {
    TAnswer answer = In(TCdb::ModeSense(page, 0, GetParam().HostRefusesDescriptor));
    ASSERT_TRUE(answer.Good());
    const std::size_t at = GetParam().PageOffset;
    ASSERT_GT(answer.Data.size(), at + 2);
    EXPECT_EQ(answer.Data[at] & 0x3F, page);
    EXPECT_EQ(Get16(answer.Data, 0), answer.Data.size() - 2);
    EXPECT_EQ(answer.Data.size(), at + 2 + answer.Data[at + 1]);
  }
}

INSTANTIATE_TEST_SUITE_P(Descriptors, ModeSenseTest,
                         ::testing::Values(TModeCase{"NoDescriptor", false, false, 8},
                                           TModeCase{"DescriptorGiven", true, false, 16},
                                           TModeCase{"DescriptorRefusedByHost", true, true, 8}),
                         [](const ::testing::TestParamInfo<TModeCase>& Info) { return std::string(Info.param.Name); });

TEST_F(DriveCommandsTest, ModeSelectRoundTripsTheWriteParametersPage) {
  TAnswer sensed = In(TCdb::ModeSense(0x05));
  ASSERT_TRUE(sensed.Good());
  TBytes list = sensed.Data;
  list[0] = list[1] = 0;
  list[8 + 2] = 0x52;  // underrun-free, test write, session at once
  list[8 + 3] = 0xC5;  // multi-session, track mode 5
  ASSERT_TRUE(Out(TCdb::ModeSelect(static_cast<std::uint16_t>(list.size())), list).Good());
  TAnswer back = In(TCdb::ModeSense(0x05));
  EXPECT_EQ(back.Data[10], 0x52);
  EXPECT_EQ(back.Data[11], 0xC5);

  TBytes wrongLength = list;
  wrongLength[9] = 0x10;
  EXPECT_TRUE(Out(TCdb::ModeSelect(static_cast<std::uint16_t>(list.size())), wrongLength)
                  .Failed(sense::InvalidFieldInParameters()));
  TBytes capabilities = In(TCdb::ModeSense(0x2A)).Data;
  capabilities[0] = capabilities[1] = 0;
  EXPECT_TRUE(Out(TCdb::ModeSelect(static_cast<std::uint16_t>(capabilities.size())), capabilities)
                  .Failed(sense::InvalidFieldInParameters()))
      << "the capabilities page cannot be changed";
  EXPECT_TRUE(Out(TCdb::ModeSelect(200), list).Failed(sense::ParameterListLengthError()))
      << "a list shorter than announced";
  EXPECT_TRUE(In(TCdb::ModeSense(0x05, 3)).Failed(sense::SavingNotSupported()));
  EXPECT_TRUE(In(TCdb::ModeSense(0x30)).Failed(sense::InvalidFieldInCdb()));
}

TEST_F(DriveCommandsTest, CapabilitiesPageReportsSpeedsBufferAndWriteAbilities) {
  Insert(TMediumKind::DvdR);
  TAnswer defaults = In(TCdb::ModeSense(0x2A, 2));
  ASSERT_TRUE(defaults.Good());
  const std::size_t page = 8;
  EXPECT_EQ(defaults.Data[page + 3] & 0x17, 0x17) << "writes CD-R, CD-RW, test write, DVD-R";
  EXPECT_TRUE(defaults.Data[page + 4] & 0x80) << "underrun-free recording";
  EXPECT_EQ(Get16(defaults.Data, page + 12), 2048) << "buffer in KiB";
  EXPECT_EQ(Get16(defaults.Data, page + 18), 22160) << "maximum DVD write speed";

  ASSERT_TRUE(Run(TCdb::SetCdSpeed(0xFFFF, 6000)).Good());
  TAnswer current = In(TCdb::ModeSense(0x2A));
  EXPECT_EQ(Get16(current.Data, page + 20), 5540) << "rounded down to a speed the drive has";
  EXPECT_EQ(Get16(current.Data, page + 28), 5540);
  EXPECT_EQ(Get16(current.Data, page + 14), 22160);
  ASSERT_TRUE(Run(TCdb::SetCdSpeed(0xFFFF, 100)).Good());
  EXPECT_EQ(Get16(In(TCdb::ModeSense(0x2A)).Data, page + 20), 2770) << "below every speed: the slowest";
  EXPECT_EQ(Get16(In(TCdb::ModeSense(0x2A, 2)).Data, page + 20), 22160) << "defaults keep the maximum";
}

TEST_F(DriveCommandsTest, SetStreamingChoosesSpeedsFromSizeOverTime) {
  Insert(TMediumKind::BdR);
  TBytes descriptor(28, 0);
  Put32(descriptor, 8, 100000);
  Put32(descriptor, 12, 17982);
  Put32(descriptor, 16, 1000);
  Put32(descriptor, 20, 36000);
  Put32(descriptor, 24, 1000);
  ASSERT_TRUE(Out(TCdb::SetStreaming(28), descriptor).Good());
  EXPECT_EQ(Get16(In(TCdb::ModeSense(0x2A)).Data, 8 + 28), 35964);
  TAnswer performance = In(TCdb::GetPerformance(0, 0x14, 1));
  ASSERT_TRUE(performance.Good());
  ASSERT_EQ(performance.Data.size(), 24u);
  EXPECT_EQ(Get32(performance.Data, 12), 35964u);

  Put32(descriptor, 24, 0);
  EXPECT_TRUE(Out(TCdb::SetStreaming(28), descriptor).Failed(sense::InvalidFieldInParameters()));
  EXPECT_TRUE(Out(TCdb::SetStreaming(20), TBytes(20, 0)).Failed(sense::ParameterListLengthError()));
}

TEST_F(DriveCommandsTest, GetPerformanceListsTheWriteSpeedsOfTheMedium) {
  Insert(TMediumKind::CdRw);
  TAnswer answer = In(TCdb::GetPerformance(3, 0, 16));
  ASSERT_TRUE(answer.Good());
  ASSERT_EQ(answer.Data.size(), 8u + 4 * 16);
  EXPECT_EQ(Get32(answer.Data, 0), answer.Data.size() - 4);
  EXPECT_EQ(Get32(answer.Data, 8 + 12), 8467u);
  EXPECT_EQ(Get32(answer.Data, 8 + 3 * 16 + 12), 1764u);
}

TEST_F(DriveCommandsTest, TocSessionsAndAtipOfARecordableCd) {
  Insert(TMediumKind::CdRw);
  EXPECT_TRUE(In(TCdb::Toc(0)).Failed(sense::InvalidFieldInCdb())) << "a blank disc has no table of contents";
  TAnswer atip = In(TCdb::Toc(4, true));
  ASSERT_TRUE(atip.Good());
  EXPECT_EQ(atip.Data[6] & 0xC0, 0xC0) << "CD-RW in the ATIP";

  SetWriteParameters(1, false, true);
  ASSERT_TRUE(Write(0, 64).Good());
  ASSERT_TRUE(Run(TCdb::SynchronizeCache()).Good());
  ASSERT_TRUE(Run(TCdb::Close(2, 0)).Good());
  const std::uint32_t second = TrackInfo(2)->NextWritable;
  ASSERT_TRUE(Write(second, 32).Good());
  ASSERT_TRUE(Run(TCdb::SynchronizeCache()).Good());
  ASSERT_TRUE(Run(TCdb::Close(2, 0)).Good());

  TAnswer toc = In(TCdb::Toc(0));
  ASSERT_TRUE(toc.Good());
  EXPECT_EQ(toc.Data[2], 1);
  EXPECT_EQ(toc.Data[3], 2);
  EXPECT_EQ(Get32(toc.Data, 4 + 8 + 4), second);
  EXPECT_EQ(toc.Data[4 + 16 + 2], 0xAA);
  EXPECT_EQ(Get32(toc.Data, 4 + 16 + 4), second + 32) << "lead-out after the last track";
  TAnswer sessions = In(TCdb::Toc(1));
  EXPECT_EQ(sessions.Data[3], 2);
  EXPECT_EQ(Get32(sessions.Data, 8), second);
  TAnswer msf = In(TCdb::Toc(0, true));
  EXPECT_EQ(msf.Data[4 + 5], 0);
  EXPECT_EQ(msf.Data[4 + 6], 2) << "track 1 at 00:02:00";
  TAnswer capacity = In(TCdb::ReadCapacity());
  EXPECT_EQ(Get32(capacity.Data, 0), second + 31);
  EXPECT_EQ(Get32(capacity.Data, 4), 2048u);
}

TEST_F(DriveCommandsTest, AtipExistsOnlyOnRecordableCds) {
  Insert(TMediumKind::CdR);
  EXPECT_EQ(In(TCdb::Toc(4, true)).Data[6] & 0xC0, 0x80) << "CD-R in the ATIP";
  Insert(TMediumKind::CdRom);
  EXPECT_TRUE(In(TCdb::Toc(4, true)).Failed(sense::InvalidFieldInCdb()));
  EXPECT_TRUE(In(TCdb::Read10(100, 1)).Good()) << "a pressed disc reads everywhere";
}

TEST_F(DriveCommandsTest, FormatCapacitiesOfDvdRamListTheFullFormatWithBlockLength) {
  Insert(TMediumKind::DvdRam, std::nullopt);
  TAnswer answer = In(TCdb::FormatCapacities());
  ASSERT_TRUE(answer.Good());
  EXPECT_EQ(answer.Data[3], 16);
  EXPECT_EQ(Get32(answer.Data, 4), 2'236'704u);
  EXPECT_EQ(answer.Data[8] & 3, 2) << "formatted";
  EXPECT_EQ(TBytes(answer.Data.begin() + 16, answer.Data.begin() + 20), (TBytes{0x00, 0x00, 0x08, 0x00}));
}

TEST_F(DriveCommandsTest, BufferCapacityShowsDataWaitingUntilSynchronised) {
  Insert(TMediumKind::DvdPlusR);
  TAnswer empty = In(TCdb::BufferCapacity());
  ASSERT_TRUE(empty.Good());
  EXPECT_EQ(Get32(empty.Data, 4), 2048u * 1024);
  EXPECT_EQ(Get32(empty.Data, 8), 2048u * 1024);
  ASSERT_TRUE(Write(0, 32).Good());
  EXPECT_EQ(Get32(In(TCdb::BufferCapacity()).Data, 8), 2048u * 1024 - 65536);
  ASSERT_TRUE(Run(TCdb::SynchronizeCache()).Good());
  EXPECT_EQ(Get32(In(TCdb::BufferCapacity()).Data, 8), 2048u * 1024);
}

TEST_F(DriveCommandsTest, ReservedDvdRTrackIsWrittenThenPaddedWhenClosed) {
  Insert(TMediumKind::DvdR);
  SetWriteParameters(0, false, true);
  ASSERT_TRUE(Out(TBytes{0xBF, 0, 0, 0, 0, 0, 0, 0x0F, 0, 22, 0, 0}, TBytes(22, 0)).Good()) << "time stamp";
  ASSERT_TRUE(Run(TCdb::ReserveTrack(100)).Good());
  auto reserved = TrackInfo(1);
  ASSERT_TRUE(reserved);
  EXPECT_TRUE(reserved->Reserved);
  EXPECT_EQ(reserved->Size, 112u) << "whole ECC blocks";
  auto invisible = TrackInfo(255);
  ASSERT_TRUE(invisible);
  EXPECT_EQ(invisible->Number, 2u);
  EXPECT_EQ(invisible->Start, 112u);
  EXPECT_TRUE(Run(TCdb::ReserveTrack(1u << 30)).Failed(sense::InvalidFieldInCdb()));

  ASSERT_TRUE(Write(0, 32).Good());
  EXPECT_TRUE(Write(32, 96).Failed(sense::EndOfUserArea())) << "past the reservation";
  ASSERT_TRUE(Run(TCdb::SynchronizeCache()).Good());
  ASSERT_TRUE(Run(TCdb::Close(1, 1)).Good());
  EXPECT_FALSE(Run(TCdb::Close(1, 2)).Good()) << "the invisible track cannot be closed";
  ASSERT_TRUE(Run(TCdb::Close(2, 3)).Good());
  EXPECT_TRUE(ReadsBack(0, 32));
  TAnswer padding = In(TCdb::Read10(100, 1));
  ASSERT_TRUE(padding.Good());
  EXPECT_EQ(padding.Data, TBytes(kBlockSize, 0));
  EXPECT_EQ(DiscInfo().DiscStatus, 1) << "multi-session left the disc appendable";
}

TEST_F(DriveCommandsTest, WriteParametersMustFitTheMedium) {
  Insert(TMediumKind::DvdR);
  SetWriteParameters(1, false, false);
  EXPECT_TRUE(Write(0, 16).Failed(sense::IllegalModeForTrack())) << "DVD-R has no track at once";
  SetWriteParameters(0, false, false);
  EXPECT_TRUE(Write(0, 16).Good());
}

TEST_F(DriveCommandsTest, TestWriteRecordsNothing) {
  Insert(TMediumKind::CdR);
  SetWriteParameters(1, true, false);
  ASSERT_TRUE(Write(0, 32).Good());
  ASSERT_TRUE(Write(32, 32).Good());
  EXPECT_TRUE(Write(10, 32).Failed(sense::InvalidAddressForWrite())) << "addresses are still checked";
  ASSERT_TRUE(Run(TCdb::SynchronizeCache()).Good());
  ASSERT_TRUE(Run(TCdb::Close(2, 0)).Good());
  EXPECT_EQ(DiscInfo().DiscStatus, 0);
  EXPECT_FALSE(In(TCdb::Read10(0, 1)).Good());
  SetWriteParameters(1, false, false);
  EXPECT_TRUE(Write(0, 32).Good()) << "the disc is still blank";
}

TEST_F(DriveCommandsTest, TestWriteDoesNotApplyToDvdPlusR) {
  Insert(TMediumKind::DvdPlusR);
  SetWriteParameters(2, true, false);
  ASSERT_TRUE(Write(0, 32).Good());
  EXPECT_TRUE(ReadsBack(0, 32)) << "DVD+R has no simulation: the data is recorded";
}

TEST_F(DriveCommandsTest, ImmediateCloseReportsOperationInProgressWithProgress) {
  Insert(TMediumKind::DvdPlusR);
  ASSERT_TRUE(Write(0, 32).Good());
  ASSERT_TRUE(Run(TCdb::Close(2, 0, true)).Good());
  TAnswer poll = In(TCdb::DiscInformation());
  EXPECT_TRUE(poll.Failed(sense::OperationInProgress()));
  ASSERT_TRUE(poll.Result.Sense.Progress);
  TAnswer sensed = In(TCdb::RequestSense());
  ASSERT_TRUE(sensed.Good());
  EXPECT_EQ(sensed.Data[15], 0x80) << "progress indication valid";
  EXPECT_GT(Get16(sensed.Data, 16), 0);
  EXPECT_TRUE(In(TCdb::Inquiry()).Good()) << "identification still answers";
  EXPECT_EQ(PollsUntilReady(), 0);
  EXPECT_EQ(DiscInfo().Sessions, 2);
}

TEST_F(DriveCommandsTest, ANewMediumEndsTheOperationOfTheOldOne) {
  Insert(TMediumKind::CdRw);
  ASSERT_TRUE(Run(TCdb::Blank(false)).Good());
  Insert(TMediumKind::CdR);
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Good());
}

TEST_F(DriveCommandsTest, DvdPlusRwFormatsInTheBackgroundAndKeepsItsData) {
  Insert(TMediumKind::DvdPlusRw, std::nullopt);
  EXPECT_EQ(DiscInfo().Background, 0);
  TBytes list{0x00, 0x82, 0x00, 0x08, 0x00, 0x23, 0x05, 0x40, 0x98, 0x00, 0x00, 0x00};
  ASSERT_TRUE(Out(TCdb::FormatUnit(), list).Good());
  EXPECT_EQ(DiscInfo().Background, 2) << "in progress";
  ASSERT_TRUE(Write(0, 32).Good()) << "writing goes on while it formats";
  EXPECT_EQ(DiscInfo().Background, 3) << "completed";
  ASSERT_TRUE(Out(TCdb::FormatUnit(), list).Good());
  EXPECT_TRUE(ReadsBack(0, 32)) << "a reformat does not erase";
  EXPECT_EQ(DiscInfo().DiscStatus, 2);
}

TEST_F(DriveCommandsTest, FormatAndBlankAreRefusedWhereTheMediumDoesNotAllowThem) {
  Insert(TMediumKind::DvdPlusR);
  TBytes list{0x00, 0x82, 0x00, 0x08, 0, 0, 0, 0, 0x26 << 2, 0, 0, 0};
  EXPECT_TRUE(Out(TCdb::FormatUnit(), list).Failed(sense::CannotFormatIncompatible()));
  EXPECT_TRUE(Run(TCdb::Blank(true)).Failed(sense::CannotWriteIncompatible()));
  Insert(TMediumKind::DvdRam);
  EXPECT_TRUE(Out(TCdb::FormatUnit(), list).Failed(sense::InvalidFieldInParameters())) << "not a DVD-RAM format";
  EXPECT_TRUE(Out(TCdb::FormatUnit(), TBytes{0x00, 0x82, 0x00, 0x08}).Failed(sense::ParameterListLengthError()));
  EXPECT_TRUE(Run(TCdb::Blank(true)).Failed(sense::CannotWriteIncompatible()));
}

TEST_F(DriveCommandsTest, QuickFormatMakesASequentialDvdRwRestrictedOverwrite) {
  Insert(TMediumKind::DvdRwSequential);
  TBytes quick{0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
  ASSERT_TRUE(Out(TCdb::FormatUnit(), quick).Good());
  EXPECT_EQ(PollsUntilReady(), 2);
  EXPECT_EQ(Get16(In(TCdb::GetConfiguration(2, 0)).Data, 6), 0x13);
  auto track = TrackInfo(1);
  ASSERT_TRUE(track);
  EXPECT_EQ(track->NextWritable, 1000u) << "the next writable block ends the formatted area";
  EXPECT_TRUE(track->FixedPacket);
  ASSERT_TRUE(Write(0, 32).Good());
  ASSERT_TRUE(Write(992, 2000).Good()) << "the formatted area grows from its end";
  EXPECT_TRUE(Write(4000, 16).Failed(sense::InvalidAddressForWrite())) << "but leaves no gap";
  EXPECT_EQ(TrackInfo(1)->NextWritable, 2992u);
  EXPECT_TRUE(Write(8, 16).Failed(sense::InvalidAddressForWrite())) << "whole ECC blocks only";
}

TEST_F(DriveCommandsTest, ReadTwelveAndUnwrittenBlocks) {
  Insert(TMediumKind::DvdPlusR);
  ASSERT_TRUE(Write(0, 64).Good());
  TAnswer twelve = Run(TCdb::Read12(16, 16), TDirection::In, TBytes(16 * kBlockSize));
  ASSERT_TRUE(twelve.Good());
  EXPECT_EQ(twelve.Data, Pattern(16, 16, 1));
  EXPECT_TRUE(In(TCdb::Read10(64, 8)).Failed(sense::LbaOutOfRange()));
  EXPECT_FALSE(In(TCdb::Read10(60, 8)).Good()) << "the last four blocks are not recorded";
  EXPECT_TRUE(In(TCdb::Read10(0xFFFFFF00u, 1)).Failed(sense::LbaOutOfRange()));
  TAnswer tooSmall = Run(TCdb::Read10(0, 2), TDirection::In, TBytes(kBlockSize));
  EXPECT_TRUE(tooSmall.Result.Overrun) << "a host buffer smaller than the transfer";
}

TEST_F(DriveCommandsTest, RealtimeWritesTakeTheTimeOfTheSetSpeed) {
  TDriveConfig config = Drive.Config();
  config.Realtime = true;
  Drive.UpdateConfig(config);
  Insert(TMediumKind::CdR);
  ASSERT_TRUE(Run(TCdb::SetCdSpeed(0xFFFF, 1764)).Good());
  SetWriteParameters(1, false, false);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Write(0, 32).Good());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(35)) << "64 KiB at 1764 KB/s";
}

TEST_F(DriveCommandsTest, SynchronizeCacheEndsACdTrackWrittenTrackAtOnce) {
  Insert(TMediumKind::CdR);
  SetWriteParameters(1, false, true);
  ASSERT_TRUE(Write(0, 32).Good());
  EXPECT_FALSE(TrackInfo(255)->Blank) << "the incomplete track is the one being written";
  ASSERT_TRUE(Run(TCdb::SynchronizeCache()).Good());
  auto next = TrackInfo(255);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->Number, 2u);
  EXPECT_TRUE(next->Blank);
  EXPECT_EQ(TrackInfo(1)->Size, 32u);
}

}  // namespace
}  // namespace velmor::emu::test
