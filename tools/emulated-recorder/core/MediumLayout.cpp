#include "MediumLayout.h"

#include <algorithm>

namespace velmor::emu {

TMediumLayout::TMediumLayout(TMediumKind Kind, std::uint32_t Capacity)
    : MediumKind(Kind), Blocks(Capacity) {}

TDiscStatus TMediumLayout::DiscStatus() const {
  switch (Info().Recording) {
    case TRecording::ReadOnly: return TDiscStatus::Complete;
    case TRecording::Overwrite:
      if (!IsFormatted()) return TDiscStatus::Empty;
      // Random-access media report "other"; DVD+RW and restricted overwrite
      // report a complete disc once formatted.
      return MediumKind == TMediumKind::DvdPlusRw || MediumKind == TMediumKind::DvdRwRestricted
                 ? TDiscStatus::Complete
                 : TDiscStatus::Other;
    case TRecording::Sequential:
      if (Closed) return TDiscStatus::Complete;
      return TrackList.empty() ? TDiscStatus::Empty : TDiscStatus::Appendable;
  }
  return TDiscStatus::Other;
}

TSessionState TMediumLayout::LastSessionState() const {
  if (!IsSequential()) return IsFormatted() || !IsOverwrite() ? TSessionState::Complete : TSessionState::Empty;
  if (Closed) return TSessionState::Complete;
  const bool current = std::any_of(TrackList.begin(), TrackList.end(),
                                   [&](const TTrack& t) { return t.Session == CurrentSession(); });
  return current ? TSessionState::Incomplete : TSessionState::Empty;
}

std::uint32_t TMediumLayout::SessionCount() const {
  if (!IsSequential()) return 1;
  return Closed ? SessionsClosed : SessionsClosed + 1;
}

std::uint32_t TMediumLayout::FirstTrackOfLastSession() const {
  if (!IsSequential()) return 1;
  const std::uint32_t session = Closed ? SessionsClosed : CurrentSession();
  for (const auto& track : TrackList)
    if (track.Session == session) return track.Number;
  return static_cast<std::uint32_t>(TrackList.size()) + 1;
}

std::uint32_t TMediumLayout::LastTrackOfLastSession() const {
  if (!IsSequential()) return 1;
  const auto count = static_cast<std::uint32_t>(TrackList.size());
  return InvisibleTrack() ? count + 1 : std::max<std::uint32_t>(count, 1);
}

TTrackView TMediumLayout::View(const TTrack& Track) const {
  TTrackView view{Track, false, 0, 0};
  if (Track.Reserved != 0)
    view.Size = Track.Reserved;
  else if (Track.Closed)
    view.Size = Track.Recorded;
  else
    view.Size = Blocks - Track.Start;
  view.Free = Track.Closed ? 0 : view.Size - Track.Recorded;
  return view;
}

std::optional<TTrackView> TMediumLayout::TrackByNumber(std::uint32_t Number) const {
  if (!IsSequential()) {
    if (Number != 1) return std::nullopt;
    if (MediumKind == TMediumKind::DvdRwRestricted) {
      // The formatted area grows as it is written; the rest of the disc is free.
      TTrack grown{1, 1, 0, 0, Formatted, false};
      return TTrackView{grown, false, Formatted, Blocks - Formatted};
    }
    const std::uint32_t size = IsOverwrite() ? Formatted : Blocks;
    if (size == 0) return std::nullopt;
    TTrack whole{1, 1, 0, 0, IsOverwrite() ? WrittenEnd : size, !IsOverwrite()};
    return TTrackView{whole, false, size, IsOverwrite() ? size - std::min(size, WrittenEnd) : 0};
  }
  if (Number >= 1 && Number <= TrackList.size()) return View(TrackList[Number - 1]);
  auto invisible = InvisibleTrack();
  if (invisible && invisible->Track.Number == Number) return invisible;
  return std::nullopt;
}

std::optional<TTrackView> TMediumLayout::TrackContaining(std::uint32_t Lba) const {
  if (!IsSequential()) return TrackByNumber(1);
  for (const auto& track : TrackList) {
    const TTrackView view = View(track);
    if (Lba >= track.Start && Lba - track.Start < view.Size) return view;
  }
  auto invisible = InvisibleTrack();
  if (invisible && Lba >= invisible->Track.Start) return invisible;
  return std::nullopt;
}

std::optional<TTrackView> TMediumLayout::InvisibleTrack() const {
  if (!IsSequential() || Closed) return std::nullopt;
  if (!TrackList.empty() && !TrackList.back().Closed && TrackList.back().Reserved == 0)
    return std::nullopt;
  const std::uint32_t start = NextTrackStart();
  if (start >= Blocks) return std::nullopt;
  TTrack track{static_cast<std::uint32_t>(TrackList.size()) + 1, CurrentSession(), start, 0, 0, false};
  return TTrackView{track, true, Blocks - start, Blocks - start};
}

std::optional<TTrackView> TMediumLayout::OpenTrack() const {
  if (!IsSequential()) return std::nullopt;
  for (const auto& track : TrackList)
    if (!track.Closed) return View(track);
  return std::nullopt;
}

std::uint32_t TMediumLayout::RecordedEnd() const {
  if (IsOverwrite()) return WrittenEnd;
  std::uint32_t end = 0;
  for (const auto& track : TrackList) end = std::max(end, track.NextWritable());
  return end;
}

std::uint32_t TMediumLayout::AlignUp(std::uint32_t Lba) const {
  const std::uint32_t unit = Info().BlockAlignment;
  return (Lba + unit - 1) / unit * unit;
}

std::uint32_t TMediumLayout::NextTrackStart() const {
  if (TrackList.empty()) return 0;
  const TTrack& last = TrackList.back();
  std::uint64_t end = std::uint64_t{last.Start} + (last.Reserved != 0 ? last.Reserved : last.Recorded);
  if (last.Session <= SessionsClosed) end += Info().SessionGap;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(AlignUp(static_cast<std::uint32_t>(
                                                                std::min<std::uint64_t>(end, Blocks))),
                                                            Blocks));
}

TTrack* TMediumLayout::FindOpenTrack() {
  for (auto& track : TrackList)
    if (!track.Closed && track.Reserved == 0) return &track;
  return nullptr;
}

std::optional<TSense> TMediumLayout::Write(std::uint32_t Lba, std::uint32_t Count) {
  if (Info().Recording == TRecording::ReadOnly) return sense::CannotWriteIncompatible();
  if (Lba >= Blocks) return sense::LbaOutOfRange();
  if (std::uint64_t{Lba} + Count > Blocks) return sense::EndOfUserArea();
  return IsSequential() ? WriteSequential(Lba, Count) : WriteOverwrite(Lba, Count);
}

std::optional<TSense> TMediumLayout::WriteSequential(std::uint32_t Lba, std::uint32_t Count) {
  if (Closed) return sense::InvalidAddressForWrite();
  for (auto& track : TrackList) {
    if (track.Closed || track.NextWritable() != Lba) continue;
    if (track.Reserved != 0 && track.Recorded + Count > track.Reserved) return sense::EndOfUserArea();
    track.Recorded += Count;
    return std::nullopt;
  }
  auto invisible = InvisibleTrack();
  if (!invisible || invisible->Track.Start != Lba) return sense::InvalidAddressForWrite();
  TTrack track = invisible->Track;
  track.Recorded = Count;
  TrackList.push_back(track);
  return std::nullopt;
}

std::optional<TSense> TMediumLayout::WriteOverwrite(std::uint32_t Lba, std::uint32_t Count) {
  if (!IsFormatted()) return sense::Make(sense::kIllegalRequest, 0x30, 0x10);
  if (MediumKind == TMediumKind::DvdRwRestricted) {
    // Restricted overwrite: whole ECC blocks, and the formatted area only
    // grows from its end, never leaving a gap.
    const std::uint32_t unit = Info().BlockAlignment;
    if (Lba % unit != 0 || Count % unit != 0 || Lba > Formatted) return sense::InvalidAddressForWrite();
    Formatted = std::max(Formatted, Lba + Count);
  } else if (std::uint64_t{Lba} + Count > Formatted) {
    return Lba >= Formatted ? sense::LbaOutOfRange() : sense::EndOfUserArea();
  }
  WrittenEnd = std::max(WrittenEnd, Lba + Count);
  return std::nullopt;
}

std::optional<TSense> TMediumLayout::Reserve(std::uint32_t Count) {
  if (!IsSequential() || Closed) return sense::CannotWriteIncompatible();
  if (FindOpenTrack() != nullptr) return sense::CommandSequenceError();
  auto invisible = InvisibleTrack();
  const std::uint32_t size = AlignUp(Count);
  if (!invisible || Count == 0 || size > invisible->Free) return sense::InvalidFieldInCdb();
  TTrack track = invisible->Track;
  track.Reserved = size;
  TrackList.push_back(track);
  return std::nullopt;
}

std::optional<TSense> TMediumLayout::CloseTrack(std::uint32_t Number) {
  if (!IsSequential()) return std::nullopt;
  if (Number == 0 || Number > TrackList.size()) return sense::InvalidFieldInCdb();
  TTrack& track = TrackList[Number - 1];
  // A reserved track is padded to its reserved size when it is closed.
  if (track.Reserved != 0) track.Recorded = track.Reserved;
  track.Closed = true;
  return std::nullopt;
}

std::optional<TSense> TMediumLayout::CloseSession(bool Finalise) {
  if (!IsSequential()) return std::nullopt;
  if (Closed) return sense::CommandSequenceError();
  bool anyInSession = false;
  for (auto& track : TrackList) {
    if (track.Session != CurrentSession()) continue;
    anyInSession = true;
    if (track.Reserved != 0) track.Recorded = track.Reserved;
    track.Closed = true;
  }
  if (!anyInSession) {
    if (!Finalise || TrackList.empty()) return sense::CommandSequenceError();
    Closed = true;
    return std::nullopt;
  }
  ++SessionsClosed;
  if (Finalise || NextTrackStart() >= Blocks) Closed = true;
  return std::nullopt;
}

void TMediumLayout::Format(std::uint32_t FormattedSize) {
  Formatted = std::min(FormattedSize, Blocks);
  WrittenEnd = 0;
}

void TMediumLayout::Blank() {
  if (MediumKind == TMediumKind::DvdRwRestricted) MediumKind = TMediumKind::DvdRwSequential;
  TrackList.clear();
  SessionsClosed = 0;
  Closed = false;
  Formatted = 0;
  WrittenEnd = 0;
}

void TMediumLayout::FormatRestrictedOverwrite(std::uint32_t FormattedSize) {
  Blank();
  MediumKind = TMediumKind::DvdRwRestricted;
  Formatted = std::min(FormattedSize, Blocks);
}

void TMediumLayout::Preload(std::uint32_t Count) {
  Count = std::min(Count, Blocks);
  switch (Info().Recording) {
    case TRecording::ReadOnly:
      TrackList = {TTrack{1, 1, 0, 0, Count, true}};
      SessionsClosed = 1;
      Closed = true;
      break;
    case TRecording::Sequential:
      TrackList = {TTrack{1, 1, 0, 0, Count, true}};
      SessionsClosed = 1;
      Closed = NextTrackStart() >= Blocks;
      break;
    case TRecording::Overwrite:
      Formatted = std::max(Formatted, MediumKind == TMediumKind::DvdRwRestricted ? AlignUp(Count) : Blocks);
      WrittenEnd = Count;
      break;
  }
}

bool TMediumLayout::Readable(std::uint32_t Lba, std::uint32_t Count) const {
  const std::uint64_t end = std::uint64_t{Lba} + Count;
  if (IsOverwrite()) return end <= Formatted;
  for (const auto& track : TrackList)
    if (Lba >= track.Start && end <= std::uint64_t{track.Start} + track.Recorded) return true;
  return Count == 0;
}

TMediumLayout::TStored TMediumLayout::Store() const {
  return {MediumKind, Blocks, TrackList, SessionsClosed, Closed, Formatted, WrittenEnd};
}

std::optional<TMediumLayout> TMediumLayout::Restore(const TStored& Stored) {
  if (Stored.Capacity == 0) return std::nullopt;
  std::uint64_t previousEnd = 0;
  for (std::size_t i = 0; i < Stored.Tracks.size(); ++i) {
    const TTrack& track = Stored.Tracks[i];
    const std::uint64_t end = std::uint64_t{track.Start} + std::max(track.Recorded, track.Reserved);
    if (track.Number != i + 1 || track.Start < previousEnd || end > Stored.Capacity ||
        (track.Reserved != 0 && track.Recorded > track.Reserved) || track.Session == 0 ||
        track.Session > Stored.ClosedSessions + 1)
      return std::nullopt;
    previousEnd = end;
  }
  TMediumLayout layout(Stored.Kind, Stored.Capacity);
  layout.TrackList = Stored.Tracks;
  layout.SessionsClosed = Stored.ClosedSessions;
  layout.Closed = Stored.Finalised;
  layout.Formatted = std::min(Stored.Formatted, Stored.Capacity);
  layout.WrittenEnd = std::min(Stored.WrittenEnd, Stored.Capacity);
  return layout;
}

}  // namespace velmor::emu
