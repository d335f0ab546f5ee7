// Reading and recording: READ, WRITE, RESERVE TRACK, SYNCHRONIZE CACHE,
// CLOSE TRACK/SESSION, BLANK, FORMAT UNIT and SEND DVD STRUCTURE.
#include <algorithm>
#include <thread>

#include "Drive.h"

namespace velmor::emu {

namespace {

using enum TMediumKind;
using namespace std::chrono_literals;

// Write parameters page fields.
constexpr std::uint8_t kWriteTypePacket = 0;
constexpr std::uint8_t kWriteTypeTrackAtOnce = 1;
constexpr std::uint8_t kWriteTypeSessionAtOnce = 2;
constexpr std::uint8_t kDataBlockMode1 = 8;

// CLOSE TRACK/SESSION functions.
constexpr std::uint8_t kCloseTrack = 1;
constexpr std::uint8_t kCloseSession = 2;
constexpr std::uint8_t kCloseSessionOrStopFormat = 3;
constexpr std::uint8_t kFinaliseMinimalRadius = 5;
constexpr std::uint8_t kFinalise = 6;

// FORMAT UNIT format types.
constexpr std::uint8_t kFormatFull = 0x00;
constexpr std::uint8_t kFormatDvdRwFull = 0x10;
constexpr std::uint8_t kFormatQuickGrowLastSession = 0x13;
constexpr std::uint8_t kFormatDvdRwQuick = 0x15;
constexpr std::uint8_t kFormatDvdPlusRw = 0x26;
constexpr std::uint8_t kFormatBdReWithSpare = 0x30;
constexpr std::uint8_t kFormatBdReWithoutSpare = 0x31;
constexpr std::uint8_t kSubtypeQuickReformat = 0;

constexpr std::uint8_t kDvdStructureTimeStamp = 0x0F;

[[nodiscard]] bool SupportsTestWrite(TMediumKind Kind) {
  return Kind == CdR || Kind == CdRw || Kind == DvdR || Kind == DvdRwSequential;
}

[[nodiscard]] std::chrono::milliseconds FullPassDuration(std::uint32_t Blocks, std::uint32_t KBps) {
  if (KBps == 0) return 1s;
  return std::chrono::milliseconds(std::uint64_t{Blocks} * 2 * 1000 / KBps);
}

}  // namespace

bool TDrive::TestWriteActive() const {
  return Loaded && (PageFive[2] & 0x10) && SupportsTestWrite(Loaded->Layout.Kind());
}

TMediumLayout& TDrive::RecordingLayout() {
  if (!TestWriteActive()) return Loaded->Layout;
  if (!Simulation) Simulation = Loaded->Layout;
  return *Simulation;
}

std::optional<TSense> TDrive::CheckWriteParameters() const {
  const TMediumTraits& info = Loaded->Layout.Info();
  if (!info.WritesByPageFive) return std::nullopt;
  const std::uint8_t writeType = PageFive[2] & 0x0F;
  const std::uint8_t blockType = PageFive[4] & 0x0F;
  const bool typeFits = info.Family == TFamily::Cd
                            ? writeType <= kWriteTypeSessionAtOnce
                            : writeType == kWriteTypePacket || writeType == kWriteTypeSessionAtOnce;
  if (!typeFits || blockType != kDataBlockMode1) return sense::IllegalModeForTrack();
  return std::nullopt;
}

TCommandResult TDrive::Read(const TRequest& Request, std::uint32_t Lba, std::uint32_t Blocks) {
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  const TMediumLayout& layout = Loaded->Layout;
  if (!Settings.CanRead(layout.Kind())) return Fail(sense::CannotReadIncompatible());
  if (Blocks == 0) return Good();
  const std::uint64_t bytes = std::uint64_t{Blocks} * kBlockSize;
  if (Request.Direction != TDirection::In || Request.Data.size() < bytes)
    return TCommandResult{kStatusGood, {}, 0, true};
  if (std::uint64_t{Lba} + Blocks > layout.Capacity()) return Fail(sense::LbaOutOfRange());
  if (!layout.Readable(Lba, Blocks)) {
    // Past everything recorded the address does not exist yet; inside the
    // recorded area an unwritten block cannot be read back.
    if (layout.IsOverwrite() || Lba >= layout.RecordedEnd()) return Fail(sense::LbaOutOfRange());
    TSense failure = sense::UnrecoveredReadError();
    failure.Information = Lba;
    return Fail(failure);
  }
  if (!Backing.Read(Lba, Request.Data.first(bytes))) {
    TSense failure = sense::UnrecoveredReadError();
    failure.Information = Lba;
    return Fail(failure);
  }
  PaceTransfer(bytes, ReadSpeed);
  TCommandResult result;
  result.Transferred = static_cast<std::uint32_t>(bytes);
  return result;
}

TCommandResult TDrive::Write(const TRequest& Request, std::uint32_t Lba, std::uint32_t Blocks) {
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  if (!Settings.CanWrite(Loaded->Layout.Kind())) return Fail(sense::CannotWriteIncompatible());
  if (Blocks == 0) return Good();
  const std::uint64_t bytes = std::uint64_t{Blocks} * kBlockSize;
  if (Request.Direction != TDirection::Out || Request.Data.size() < bytes)
    return TCommandResult{kStatusGood, {}, 0, true};
  if (auto wrong = CheckWriteParameters()) return Fail(*wrong);

  if (Loaded->Layout.Kind() == DvdPlusRw && !Loaded->Layout.IsFormatted()) {
    // A blank DVD+RW: the drive starts its background format on the first write.
    Loaded->Layout.Format(Loaded->Layout.Capacity());
    BackgroundFormatRunning = true;
    BackgroundFormatPolls = Settings.BusyPolls;
  }
  const bool simulated = TestWriteActive();
  TMediumLayout next = RecordingLayout();
  if (auto refused = next.Write(Lba, Blocks)) return Fail(*refused);
  if (!simulated && !Backing.Write(Lba, Request.Data.first(bytes))) {
    TSense failure = sense::WriteError();
    failure.Information = Lba;
    return Fail(failure);
  }
  RecordingLayout() = std::move(next);
  if (!simulated) BytesSinceSync += bytes;
  PaceTransfer(bytes, WriteSpeed);
  TCommandResult result;
  result.Transferred = static_cast<std::uint32_t>(bytes);
  return result;
}

TCommandResult TDrive::ReserveTrack(const TRequest& Request) {
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  if (!Settings.CanWrite(Loaded->Layout.Kind())) return Fail(sense::CannotWriteIncompatible());
  if (Byte(Request.Cdb, 1) & 0x01) return Fail(sense::InvalidFieldInCdb());  // reservation by address
  if (auto refused = RecordingLayout().Reserve(Be32(Request.Cdb, 5))) return Fail(*refused);
  if (!TestWriteActive()) Commit();
  return Good();
}

TCommandResult TDrive::SynchronizeCache() {
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  if (TestWriteActive()) return Good();
  // Track at once on CD: flushing the cache ends the track being written.
  TMediumLayout& layout = Loaded->Layout;
  if (layout.Info().Family == TFamily::Cd && (PageFive[2] & 0x0F) == kWriteTypeTrackAtOnce) {
    if (auto open = layout.OpenTrack(); open && open->Track.Reserved == 0 && open->Track.Recorded > 0)
      static_cast<void>(layout.CloseTrack(open->Track.Number));
  }
  if (!Backing.Flush()) return Fail(sense::WriteError());
  Commit();
  return Good();
}

TCommandResult TDrive::CloseTrackSession(const TRequest& Request) {
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  const auto cdb = Request.Cdb;
  const bool immediate = Byte(cdb, 1) & 0x01;
  const std::uint8_t function = Byte(cdb, 2) & 0x07;
  const std::uint16_t trackNumber = Be16(cdb, 4);
  const TMediumTraits& info = Loaded->Layout.Info();
  if (info.Recording == TRecording::ReadOnly || !Settings.CanWrite(info.Kind))
    return Fail(sense::CannotWriteIncompatible());

  if (info.Recording == TRecording::Overwrite) {
    // Closing on overwritable media ends a background format; nothing else
    // needs closing.
    if (function < kCloseTrack || function > kCloseSessionOrStopFormat) return Fail(sense::InvalidFieldInCdb());
    BackgroundFormatRunning = false;
    return Good();
  }

  const bool simulated = TestWriteActive();
  TMediumLayout& layout = RecordingLayout();
  std::optional<TSense> refused;
  bool closesSession = true;
  switch (function) {
    case kCloseTrack: {
      std::uint32_t number = trackNumber;
      if (number == 0xFF) {
        auto open = layout.OpenTrack();
        number = open ? open->Track.Number : 0;
      }
      refused = layout.CloseTrack(number);
      closesSession = false;
      break;
    }
    case kCloseSession: {
      // CD and DVD-R/-RW take the choice from the multi-session field of the
      // write parameters; the other media close the session and stay appendable.
      const bool finalise = info.WritesByPageFive && (PageFive[3] & 0xC0) == 0;
      refused = layout.CloseSession(finalise);
      break;
    }
    case kFinaliseMinimalRadius:
    case kFinalise:
      if (info.WritesByPageFive) return Fail(sense::InvalidFieldInCdb());
      refused = layout.CloseSession(true);
      break;
    default: return Fail(sense::InvalidFieldInCdb());
  }
  if (refused) return Fail(*refused);
  if (simulated) {
    if (closesSession) Simulation.reset();
    return Good();
  }
  if (!Backing.Flush()) return Fail(sense::WriteError());
  Commit();
  if (immediate && closesSession) StartLongOperation(sense::OperationInProgress(), 3s);
  return Good();
}

TCommandResult TDrive::Blank(const TRequest& Request) {
  constexpr std::uint8_t kBlankDisc = 0;
  constexpr std::uint8_t kBlankMinimal = 1;
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  const auto cdb = Request.Cdb;
  const bool immediate = Byte(cdb, 1) & 0x10;
  const std::uint8_t type = Byte(cdb, 1) & 0x07;
  TMediumLayout& layout = Loaded->Layout;
  if (!layout.Info().Blankable || !Settings.CanWrite(layout.Kind())) return Fail(sense::CannotWriteIncompatible());
  if (type != kBlankDisc && type != kBlankMinimal) return Fail(sense::InvalidFieldInCdb());
  if (!Backing.Clear()) return Fail(sense::WriteError());
  layout.Blank();
  Simulation.reset();
  Commit();
  const auto duration = type == kBlankMinimal ? 2s : FullPassDuration(layout.Capacity(), WriteSpeed);
  if (immediate)
    StartLongOperation(sense::OperationInProgress(), duration);
  else if (Settings.Realtime)
    std::this_thread::sleep_for(duration);
  return Good();
}

std::optional<TSense> TDrive::FormatOverwritable(std::uint8_t FormatType, std::uint8_t Subtype,
                                                 std::uint32_t Blocks, bool& Background) {
  TMediumLayout& layout = Loaded->Layout;
  const std::uint32_t capacity = layout.Capacity();
  const TMediumKind kind = layout.Kind();
  if (Blocks > capacity) return sense::InvalidFieldInParameters();
  const std::uint32_t size = Blocks == 0 ? capacity : Blocks;
  Background = false;
  switch (kind) {
    case DvdRwSequential:
    case DvdRwRestricted:
      if (FormatType == kFormatFull || FormatType == kFormatDvdRwFull) {
        if (!Backing.Clear()) return sense::WriteError();
        layout.FormatRestrictedOverwrite(capacity);
        return std::nullopt;
      }
      if (FormatType == kFormatDvdRwQuick) {
        if (!Backing.Clear()) return sense::WriteError();
        layout.FormatRestrictedOverwrite(Blocks);
        return std::nullopt;
      }
      if (FormatType == kFormatQuickGrowLastSession && kind == DvdRwRestricted) return std::nullopt;
      return sense::InvalidFieldInParameters();
    case DvdPlusRw:
      if (FormatType != kFormatDvdPlusRw) return sense::InvalidFieldInParameters();
      // Formatting a DVD+RW lays down its structure in the background; what
      // was recorded stays readable until it is overwritten.
      if (!layout.IsFormatted()) layout.Format(capacity);
      Background = true;
      return std::nullopt;
    case BdRe:
      if (FormatType != kFormatFull && FormatType != kFormatBdReWithSpare && FormatType != kFormatBdReWithoutSpare)
        return sense::InvalidFieldInParameters();
      if (FormatType == kFormatBdReWithSpare && Subtype == kSubtypeQuickReformat && layout.IsFormatted()) {
        Background = true;
        return std::nullopt;
      }
      break;
    case DvdRam:
    case HdDvdRam:
      if (FormatType != kFormatFull) return sense::InvalidFieldInParameters();
      break;
    default: return sense::CannotFormatIncompatible();
  }
  if (!Backing.Clear()) return sense::WriteError();
  layout.Format(size);
  return std::nullopt;
}

TCommandResult TDrive::FormatUnit(const TRequest& Request) {
  constexpr std::size_t kHeaderLength = 4;
  constexpr std::size_t kDescriptorLength = 8;
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  const std::uint8_t control = Byte(Request.Cdb, 1);
  const bool formatData = control & 0x10;
  const std::uint8_t formatCode = control & 0x07;
  const TMediumTraits& info = Loaded->Layout.Info();
  if (!info.Formattable || !Settings.CanWrite(info.Kind)) return Fail(sense::CannotFormatIncompatible());
  if (!formatData || formatCode != 1) return Fail(sense::InvalidFieldInCdb());

  auto header = Parameters(Request, kHeaderLength);
  if (!header) return Fail(sense::ParameterListLengthError());
  const std::uint16_t listLength = Be16(*header, 2);
  if (listLength < kDescriptorLength) return Fail(sense::ParameterListLengthError());
  auto list = Parameters(Request, kHeaderLength + listLength);
  if (!list) return Fail(sense::ParameterListLengthError());
  const bool immediate = (*header)[1] & 0x02;
  const auto descriptor = list->subspan(kHeaderLength, kDescriptorLength);
  const std::uint32_t blocks = Be32(descriptor, 0);
  const std::uint8_t formatType = descriptor[4] >> 2;
  const std::uint8_t subtype = descriptor[4] & 0x03;

  bool background = false;
  if (auto refused = FormatOverwritable(formatType, subtype, blocks, background)) return Fail(*refused);
  Simulation.reset();
  Commit();
  if (background) {
    BackgroundFormatRunning = true;
    BackgroundFormatPolls = Settings.BusyPolls;
    return Good();
  }
  const auto duration = FullPassDuration(Loaded->Layout.Capacity(), WriteSpeed);
  if (immediate)
    StartLongOperation(sense::FormatInProgress(), duration);
  else if (Settings.Realtime)
    std::this_thread::sleep_for(duration);
  return Good();
}

TCommandResult TDrive::SendDvdStructure(const TRequest& Request) {
  constexpr std::size_t kHeaderLength = 4;
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  const auto cdb = Request.Cdb;
  const std::uint8_t format = Byte(cdb, 7);
  const std::uint16_t length = Be16(cdb, 8);
  if (format != kDvdStructureTimeStamp) return Fail(sense::InvalidFieldInCdb());
  const TMediumKind kind = Loaded->Layout.Kind();
  if (kind != DvdR && kind != DvdRwSequential) return Fail(sense::CannotWriteIncompatible());
  if (length < kHeaderLength) return Fail(sense::ParameterListLengthError());
  if (!Parameters(Request, length)) return Fail(sense::ParameterListLengthError());
  return Good();
}

}  // namespace velmor::emu
