#pragma once
// What is recorded on a medium: tracks grouped in sessions on sequential
// media, the formatted area on overwritable ones. This is the state kept
// between runs; the data itself lives in the backing file.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "MediumKinds.h"
#include "Sense.h"

namespace velmor::emu {

struct TTrack {
  std::uint32_t Number = 1;
  std::uint32_t Session = 1;
  std::uint32_t Start = 0;
  std::uint32_t Reserved = 0;  // reserved size in blocks; 0 = grows with the data
  std::uint32_t Recorded = 0;  // blocks recorded from Start
  bool Closed = false;

  [[nodiscard]] std::uint32_t NextWritable() const { return Start + Recorded; }
};

enum class TDiscStatus : std::uint8_t { Empty = 0, Appendable = 1, Complete = 2, Other = 3 };
enum class TSessionState : std::uint8_t { Empty = 0, Incomplete = 1, Complete = 3 };

// A track as READ TRACK INFORMATION describes it, including the invisible one.
struct TTrackView {
  TTrack Track;
  bool Invisible = false;  // the blank area after the last track
  std::uint32_t Size = 0;  // track size in blocks
  std::uint32_t Free = 0;  // blocks still writable in it
};

class TMediumLayout {
 public:
  TMediumLayout() = default;
  TMediumLayout(TMediumKind Kind, std::uint32_t Capacity);

  [[nodiscard]] TMediumKind Kind() const { return MediumKind; }
  [[nodiscard]] const TMediumTraits& Info() const { return Traits(MediumKind); }
  [[nodiscard]] std::uint32_t Capacity() const { return Blocks; }
  [[nodiscard]] bool IsSequential() const { return Info().Recording == TRecording::Sequential; }
  [[nodiscard]] bool IsOverwrite() const { return Info().Recording == TRecording::Overwrite; }

  // Sequential media.
  [[nodiscard]] const std::vector<TTrack>& Tracks() const { return TrackList; }
  [[nodiscard]] bool Finalised() const { return Closed; }
  [[nodiscard]] std::uint32_t ClosedSessions() const { return SessionsClosed; }
  [[nodiscard]] TDiscStatus DiscStatus() const;
  [[nodiscard]] TSessionState LastSessionState() const;
  [[nodiscard]] std::uint32_t SessionCount() const;  // includes an empty or incomplete last one
  [[nodiscard]] std::uint32_t FirstTrackOfLastSession() const;
  [[nodiscard]] std::uint32_t LastTrackOfLastSession() const;
  [[nodiscard]] std::optional<TTrackView> TrackByNumber(std::uint32_t Number) const;
  [[nodiscard]] std::optional<TTrackView> TrackContaining(std::uint32_t Lba) const;
  [[nodiscard]] std::optional<TTrackView> InvisibleTrack() const;
  [[nodiscard]] std::optional<TTrackView> OpenTrack() const;  // the incomplete track, if any
  [[nodiscard]] std::uint32_t RecordedEnd() const;            // one past the last recorded block
  [[nodiscard]] bool IsBlank() const { return TrackList.empty() && Formatted == 0 && !Closed; }

  [[nodiscard]] std::optional<TSense> Write(std::uint32_t Lba, std::uint32_t Count);
  [[nodiscard]] std::optional<TSense> Reserve(std::uint32_t Count);
  [[nodiscard]] std::optional<TSense> CloseTrack(std::uint32_t Number);
  [[nodiscard]] std::optional<TSense> CloseSession(bool Finalise);

  // Overwritable media: the formatted area.
  // Restricted overwrite counts as formatted however little of it is.
  [[nodiscard]] bool IsFormatted() const {
    return Formatted != 0 || MediumKind == TMediumKind::DvdRwRestricted;
  }
  [[nodiscard]] std::uint32_t FormattedBlocks() const { return Formatted; }
  [[nodiscard]] std::uint32_t HighestWritten() const { return WrittenEnd; }
  void Format(std::uint32_t Blocks);

  // Both: make the medium new again. A DVD-RW returns to sequential recording.
  void Blank();
  // A DVD-RW becomes restricted overwrite with Blocks formatted.
  void FormatRestrictedOverwrite(std::uint32_t Blocks);
  // A medium that already holds Blocks of data from block 0: a pressed disc,
  // a recordable one with one closed session, an overwritable one formatted.
  void Preload(std::uint32_t Blocks);

  [[nodiscard]] bool Readable(std::uint32_t Lba, std::uint32_t Count) const;

  // Persistent form.
  struct TStored {
    TMediumKind Kind;
    std::uint32_t Capacity;
    std::vector<TTrack> Tracks;
    std::uint32_t ClosedSessions;
    bool Finalised;
    std::uint32_t Formatted;
    std::uint32_t WrittenEnd;
  };
  [[nodiscard]] TStored Store() const;
  // Nothing when the stored description is inconsistent (an edited or damaged file).
  [[nodiscard]] static std::optional<TMediumLayout> Restore(const TStored& Stored);

 private:
  [[nodiscard]] std::uint32_t CurrentSession() const { return SessionsClosed + 1; }
  [[nodiscard]] std::uint32_t NextTrackStart() const;
  [[nodiscard]] std::uint32_t AlignUp(std::uint32_t Lba) const;
  [[nodiscard]] TTrackView View(const TTrack& Track) const;
  [[nodiscard]] TTrack* FindOpenTrack();
  [[nodiscard]] std::optional<TSense> WriteSequential(std::uint32_t Lba, std::uint32_t Count);
  [[nodiscard]] std::optional<TSense> WriteOverwrite(std::uint32_t Lba, std::uint32_t Count);

  TMediumKind MediumKind = TMediumKind::CdR;
  std::uint32_t Blocks = 0;
  std::vector<TTrack> TrackList;
  std::uint32_t SessionsClosed = 0;
  bool Closed = false;
  std::uint32_t Formatted = 0;   // overwritable media: formatted blocks, 0 = not formatted
  std::uint32_t WrittenEnd = 0;  // overwritable media: one past the highest block written
};

}  // namespace velmor::emu
