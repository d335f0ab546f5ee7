// What is on the medium: disc and track information, the table of contents
// and ATIP, capacity and format capacities.
#include <algorithm>
#include <vector>

#include "Drive.h"

namespace velmor::emu {

namespace {

using enum TMediumKind;

constexpr std::uint32_t kNoAddress = 0xFFFFFFFF;

// CD addresses in disc information are minutes/seconds/frames; other media
// give block addresses.
std::uint32_t DiscAddress(const TMediumLayout& Layout, std::uint32_t Lba) {
  if (Lba == kNoAddress || Layout.Info().Family != TFamily::Cd) return Lba;
  const TMsf msf = LbaToMsf(Lba);
  return std::uint32_t{msf.Minute} << 16 | std::uint32_t{msf.Second} << 8 | msf.Frame;
}

void PutAddress(TReply& Reply, std::size_t At, std::uint32_t Lba, bool Msf) {
  if (!Msf) {
    Reply.Put32(At, Lba);
    return;
  }
  const TMsf msf = LbaToMsf(Lba);
  Reply.Put8(At, 0).Put8(At + 1, msf.Minute).Put8(At + 2, msf.Second).Put8(At + 3, msf.Frame);
}

bool IsRewritable(TMediumKind Kind) {
  return Kind == CdRw || Kind == DvdRwSequential || Kind == DvdRwRestricted || Kind == DvdPlusRw ||
         Kind == DvdRam || Kind == BdRe || Kind == HdDvdRam;
}

// The tracks a table of contents lists: those of complete sessions; DVD and
// later media also show the tracks of a session still open.
std::vector<TTrack> TocTracks(const TMediumLayout& Layout) {
  if (!Layout.IsSequential() && !(Layout.Info().Recording == TRecording::ReadOnly)) {
    if (Layout.FormattedBlocks() == 0 && Layout.Kind() != DvdRwRestricted) return {};
    return {TTrack{1, 1, 0, 0, std::max<std::uint32_t>(Layout.FormattedBlocks(), 1), true}};
  }
  std::vector<TTrack> tracks;
  for (const auto& track : Layout.Tracks())
    if (track.Session <= Layout.ClosedSessions() && track.Recorded > 0) tracks.push_back(track);
  if (tracks.empty() && Layout.Info().Family != TFamily::Cd)
    for (const auto& track : Layout.Tracks())
      if (track.Recorded > 0) tracks.push_back(track);
  return tracks;
}

}  // namespace

TCommandResult TDrive::ReadDiscInformation(const TRequest& Request) {
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  if ((Byte(Request.Cdb, 1) & 0x07) != 0) return Fail(sense::InvalidFieldInCdb());
  const TMediumLayout& layout = Loaded->Layout;
  const std::uint32_t sessions = layout.SessionCount();
  const std::uint32_t firstTrack = layout.FirstTrackOfLastSession();
  const std::uint32_t lastTrack = layout.LastTrackOfLastSession();
  std::uint8_t backgroundFormat = 0;
  if (layout.Kind() == DvdPlusRw || layout.Kind() == BdRe)
    backgroundFormat = !layout.IsFormatted() ? 0 : BackgroundFormatRunning ? 2 : 3;

  const auto invisible = layout.InvisibleTrack();
  const std::uint32_t leadIn = invisible ? invisible->Track.Start : kNoAddress;
  const std::uint32_t leadOut = layout.DiscStatus() == TDiscStatus::Complete ? kNoAddress : layout.Capacity();

  TReply reply(34);
  reply.Put16(0, 32)
      .Put8(2, static_cast<std::uint8_t>((IsRewritable(layout.Kind()) ? 0x10 : 0) |
                                         static_cast<std::uint8_t>(layout.LastSessionState()) << 2 |
                                         static_cast<std::uint8_t>(layout.DiscStatus())))
      .Put8(3, 1)
      .Put8(4, static_cast<std::uint8_t>(sessions))
      .Put8(5, static_cast<std::uint8_t>(firstTrack))
      .Put8(6, static_cast<std::uint8_t>(lastTrack))
      .Put8(7, static_cast<std::uint8_t>(0x20 | backgroundFormat))
      .Put8(8, 0x00)
      .Put8(9, static_cast<std::uint8_t>(sessions >> 8))
      .Put8(10, static_cast<std::uint8_t>(firstTrack >> 8))
      .Put8(11, static_cast<std::uint8_t>(lastTrack >> 8))
      .Put32(16, DiscAddress(layout, leadIn))
      .Put32(20, DiscAddress(layout, leadOut));
  return Reply(Request, reply, Be16(Request.Cdb, 7));
}

TCommandResult TDrive::ReadTrackInformation(const TRequest& Request) {
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  const auto cdb = Request.Cdb;
  const std::uint8_t addressType = Byte(cdb, 1) & 0x03;
  const std::uint32_t number = Be32(cdb, 2);
  const TMediumLayout& layout = Loaded->Layout;

  std::optional<TTrackView> found;
  switch (addressType) {
    case 0: found = layout.TrackContaining(number); break;
    case 1:
      if (number == 0xFF && layout.IsSequential()) {
        found = layout.InvisibleTrack();
        if (!found) found = layout.OpenTrack();
      } else if (number != 0) {
        found = layout.TrackByNumber(number);
      }
      break;
    case 2:
      for (const auto& track : layout.Tracks())
        if (track.Session == number) {
          found = layout.TrackByNumber(track.Number);
          break;
        }
      if (!found && number == layout.ClosedSessions() + 1) found = layout.InvisibleTrack();
      break;
    default: break;
  }
  if (!found) return Fail(sense::InvalidFieldInCdb());

  const TTrack& track = found->Track;
  const TMediumKind kind = layout.Kind();
  const bool fixedPacket = kind == DvdPlusRw || kind == DvdRwRestricted;
  const bool packet = fixedPacket || kind == DvdR || kind == DvdRwSequential;
  const bool blank = found->Invisible || (track.Recorded == 0 && layout.IsSequential());
  const bool writable = !track.Closed && (found->Free > 0 || kind == DvdRwRestricted) &&
                        !layout.Finalised() && Settings.CanWrite(kind) &&
                        (layout.IsSequential() || kind == DvdRwRestricted);
  std::uint8_t dataMode = blank ? 0x0F : 0x01;
  TReply reply(48);
  reply.Put16(0, 46)
      .Put8(2, static_cast<std::uint8_t>(track.Number))
      .Put8(3, static_cast<std::uint8_t>(track.Session))
      .Put8(5, static_cast<std::uint8_t>(kind == DvdR || kind == DvdRwSequential ? 0x05 : 0x04))
      .Put8(6, static_cast<std::uint8_t>((track.Reserved != 0 ? 0x80 : 0) | (blank ? 0x40 : 0) |
                                         (packet ? 0x20 : 0) | (fixedPacket ? 0x10 : 0) | dataMode))
      .Put8(7, static_cast<std::uint8_t>((track.Recorded > 0 ? 0x02 : 0) | (writable ? 0x01 : 0)))
      .Put32(8, track.Start)
      .Put32(12, writable ? track.NextWritable() : 0)
      .Put32(16, found->Free)
      .Put32(20, fixedPacket || packet ? layout.Info().BlockAlignment : 0)
      .Put32(24, found->Size)
      .Put32(28, track.Recorded > 0 ? track.Start + track.Recorded - 1 : 0)
      .Put8(32, static_cast<std::uint8_t>(track.Number >> 8))
      .Put8(33, static_cast<std::uint8_t>(track.Session >> 8));
  return Reply(Request, reply, Be16(cdb, 7));
}

TCommandResult TDrive::ReadTocPmaAtip(const TRequest& Request) {
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  const auto cdb = Request.Cdb;
  const bool msf = Byte(cdb, 1) & 0x02;
  const std::uint8_t format = Byte(cdb, 2) & 0x0F;
  const std::uint8_t number = Byte(cdb, 6);
  const TMediumLayout& layout = Loaded->Layout;
  TReply reply(4);

  if (format == 4) {  // ATIP: recordable CDs only
    if (layout.Kind() != CdR && layout.Kind() != CdRw) return Fail(sense::InvalidFieldInCdb());
    const TMsf leadIn{97, 26, 66};
    const TMsf leadOut = LbaToMsf(layout.Capacity());
    reply.Grow(28);
    reply.Put16(0, 26)
        .Put8(4, 0x55)
        .Put8(5, 0x40)
        .Put8(6, static_cast<std::uint8_t>(0x80 | (layout.Kind() == CdRw ? 0x40 : 0)))
        .Put8(8, leadIn.Minute).Put8(9, leadIn.Second).Put8(10, leadIn.Frame)
        .Put8(12, leadOut.Minute).Put8(13, leadOut.Second).Put8(14, leadOut.Frame);
    return Reply(Request, reply, Be16(cdb, 7));
  }

  const std::vector<TTrack> tracks = TocTracks(layout);
  if (tracks.empty()) return Fail(sense::InvalidFieldInCdb());
  switch (format) {
    case 0: {
      if (number > tracks.back().Number && number != 0xAA) return Fail(sense::InvalidFieldInCdb());
      reply.Put8(2, static_cast<std::uint8_t>(tracks.front().Number))
          .Put8(3, static_cast<std::uint8_t>(tracks.back().Number));
      for (const auto& track : tracks) {
        if (track.Number < number) continue;
        const std::size_t at = reply.Size();
        reply.Put8(at + 1, 0x14).Put8(at + 2, static_cast<std::uint8_t>(track.Number));
        PutAddress(reply, at + 4, track.Start, msf);
      }
      const std::size_t at = reply.Size();
      reply.Put8(at + 1, 0x14).Put8(at + 2, 0xAA);
      PutAddress(reply, at + 4, tracks.back().Start + tracks.back().Recorded, msf);
      break;
    }
    case 1: {
      const std::uint32_t lastSession = tracks.back().Session;
      const auto first = std::find_if(tracks.begin(), tracks.end(),
                                      [&](const TTrack& t) { return t.Session == lastSession; });
      reply.Put8(2, 1).Put8(3, static_cast<std::uint8_t>(lastSession));
      reply.Put8(5, 0x14).Put8(6, static_cast<std::uint8_t>(first->Number));
      PutAddress(reply, 8, first->Start, msf);
      break;
    }
    default: return Fail(sense::InvalidFieldInCdb());
  }
  reply.Put16(0, static_cast<std::uint16_t>(reply.Size() - 2));
  return Reply(Request, reply, Be16(cdb, 7));
}

TCommandResult TDrive::ReadCapacity(const TRequest& Request) {
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  const TMediumLayout& layout = Loaded->Layout;
  std::uint32_t end = layout.RecordedEnd();
  if (layout.IsOverwrite()) end = layout.FormattedBlocks();
  TReply reply(8);
  reply.Put32(0, end > 0 ? end - 1 : 0).Put32(4, kBlockSize);
  return Reply(Request, reply, 8);
}

TCommandResult TDrive::ReadFormatCapacities(const TRequest& Request) {
  constexpr std::uint8_t kUnformatted = 1;
  constexpr std::uint8_t kFormatted = 2;
  constexpr std::uint8_t kNoMedium = 3;
  TReply reply(4);
  const auto current = [&](std::uint32_t Blocks, std::uint8_t Type) {
    reply.Put32(4, Blocks).Put8(8, Type).Put24(9, kBlockSize);
  };
  const auto formattable = [&](std::uint32_t Blocks, std::uint8_t FormatType, std::uint32_t Parameter) {
    const std::size_t at = reply.Size();
    reply.Put32(at, Blocks).Put8(at + 4, static_cast<std::uint8_t>(FormatType << 2)).Put24(at + 5, Parameter);
  };

  if (MediumAbsent()) {
    current(Traits(DvdPlusRw).Capacity, kNoMedium);
  } else {
    const TMediumLayout& layout = Loaded->Layout;
    const std::uint32_t capacity = layout.Capacity();
    switch (layout.Kind()) {
      case DvdPlusRw:
        current(layout.IsFormatted() ? layout.FormattedBlocks() : capacity,
                layout.IsFormatted() ? kFormatted : kUnformatted);
        formattable(capacity, 0x26, 0);
        break;
      case DvdRam:
      case HdDvdRam:
        current(layout.IsFormatted() ? layout.FormattedBlocks() : capacity,
                layout.IsFormatted() ? kFormatted : kUnformatted);
        formattable(capacity, 0x00, kBlockSize);
        break;
      case BdRe:
        current(layout.IsFormatted() ? layout.FormattedBlocks() : capacity,
                layout.IsFormatted() ? kFormatted : kUnformatted);
        formattable(capacity, 0x00, 0);
        formattable(capacity, 0x30, 0);
        formattable(capacity, 0x31, 0);
        break;
      case DvdRwSequential:
      case DvdRwRestricted:
        current(capacity, layout.Kind() == DvdRwRestricted ? kFormatted : kUnformatted);
        formattable(capacity, 0x00, kBlockSize);
        formattable(capacity, 0x10, 16);
        if (layout.Kind() == DvdRwRestricted) formattable(capacity, 0x13, 16);
        formattable(capacity, 0x15, 16);
        break;
      default:
        if (layout.DiscStatus() == TDiscStatus::Complete)
          current(layout.RecordedEnd(), kFormatted);
        else
          current(capacity, kUnformatted);
    }
  }
  reply.Put8(3, static_cast<std::uint8_t>(reply.Size() - 4));
  return Reply(Request, reply, Be16(Request.Cdb, 7));
}

}  // namespace velmor::emu
