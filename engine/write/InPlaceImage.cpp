#include "engine/write/InPlaceImage.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engine/write/ErrorTexts.h"

namespace kilnor {
namespace {

// The buffer for everything the kernel does not copy: generated sectors,
// memory files, and source files where the kernel refuses. Large pieces keep
// the system calls few; one piece is still written long before an abort is
// noticed late.
constexpr std::size_t kBufferBytes = std::size_t{4} << 20;
// A kernel copy goes in steps of this size, so that progress shows and an
// abort stops a large file soon.
constexpr std::uint64_t kCopyStepBytes = std::uint64_t{64} << 20;
// Memory files are asked for at most one packet at a time, as through the ring.
constexpr std::size_t kMaxHandlerBytes = kPacketBytes;

}  // namespace

TInPlaceImageWriter::TInPlaceImageWriter(TCDFiles& CDFiles, TStreamPlan& Plan, TOutputFile& Output)
    : cdFiles_(CDFiles), plan_(Plan), output_(Output) {}

TCacheEnd TInPlaceImageWriter::Write() {
  cdFiles_.VerifySize = 0;
  if (!StreamPlanIsConsistent(plan_)) {
    RecordError(cdFiles_, erNotPrepared);
    return TCacheEnd::ProducerFailed;
  }
  for (TStreamItem& item : plan_.Items) {
    if (cdFiles_.Aborted) return TCacheEnd::Aborted;
    const TCacheEnd end = WriteItem(item, item.Sector * kStreamSectorBytes);
    if (end != TCacheEnd::Running) return end;
  }
  if (const TCacheEnd end = WriteClosingSector(); end != TCacheEnd::Running) return end;
  if (cdFiles_.Aborted) return TCacheEnd::Aborted;
  if (!output_.SetSize(plan_.TotalSectors * kStreamSectorBytes)) return TCacheEnd::ConsumerGone;
  cdFiles_.BlocksWritten = static_cast<std::uint32_t>(plan_.TotalSectors);
  return TCacheEnd::Done;
}

TCacheEnd TInPlaceImageWriter::WriteItem(TStreamItem& Item, std::uint64_t Offset) {
  switch (Item.Source) {
    case TStreamItem::TSource::Bytes: return WriteBytes(Item, Offset);
    case TStreamItem::TSource::File: return WriteFile(Item, Offset);
    case TStreamItem::TSource::DataHandler: return WriteDataHandler(Item, Offset);
    case TStreamItem::TSource::Generator: return WriteGenerated(Item, Offset);
  }
  return FailOn(Item);
}

// The file must hold exactly the size laid out for it: asking for one byte
// more shows a file that grew, a short count one that shrank.
TCacheEnd TInPlaceImageWriter::WriteFile(TStreamItem& Item, std::uint64_t Offset) {
  cdFiles_.ReadingFile = Item.FileId;
  cdFiles_.WritingFile = Item.FileId;
  cdFiles_.VerifySize += static_cast<std::uint32_t>(SectorsOf(Item.Size));
  TFile source = sources_.Open(Item.Path);
  if (!source.IsOpen()) return FailOn(Item, source.FailureCause());
  std::uint64_t done = 0;
  if (kernelCopies_) {
    const TCacheEnd end = CopyFile(source, Item, Offset, done);
    if (end == TCacheEnd::Done) return TCacheEnd::Running;
    if (end != TCacheEnd::Running) return end;
  }
  return ReadAndWriteFile(source, Item, Offset, done);
}

// Done when the whole file is in place; Running when the kernel failed to
// copy: the rest goes through the buffer, which also tells whether the source
// or the image was at fault.
TCacheEnd TInPlaceImageWriter::CopyFile(TFile& Source, TStreamItem& Item, std::uint64_t Offset, std::uint64_t& Done) {
  for (;;) {
    if (cdFiles_.Aborted) return TCacheEnd::Aborted;
    const std::uint64_t wanted = std::min(Item.Size + 1 - Done, kCopyStepBytes);
    const std::int64_t copied = Source.CopySomeTo(output_.InPlace(), Done, Offset + Done, wanted);
    if (copied < 0) {
      kernelCopies_ = !Source.KernelRefusedCopy();
      return TCacheEnd::Running;
    }
    Done += static_cast<std::uint64_t>(copied);
    Advance(Offset + std::min(Done, Item.Size));
    if (Done > Item.Size || copied == 0) break;
    // A short copy that reaches the laid-out size is the file's end.
    if (static_cast<std::uint64_t>(copied) < wanted && Done == Item.Size) break;
  }
  return Done == Item.Size ? TCacheEnd::Done : FailOn(Item, kChangedSizeCause);
}

TCacheEnd TInPlaceImageWriter::ReadAndWriteFile(TFile& Source, TStreamItem& Item, std::uint64_t Offset,
                                                std::uint64_t& Done) {
  for (;;) {
    if (cdFiles_.Aborted) return TCacheEnd::Aborted;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(Item.Size + 1 - Done, kBufferBytes));
    const std::int64_t got = Source.ReadUpToAt(Buffer(), wanted, Done);
    if (got < 0) return FailOn(Item, Source.FailureCause());
    const std::uint64_t placed = std::min(static_cast<std::uint64_t>(got), Item.Size - std::min(Done, Item.Size));
    if (const TCacheEnd end = Place(Buffer(), placed, Offset + Done); end != TCacheEnd::Running) return end;
    Done += static_cast<std::uint64_t>(got);
    if (Done > Item.Size || static_cast<std::size_t>(got) < wanted) break;
  }
  return Done == Item.Size ? TCacheEnd::Running : FailOn(Item, kChangedSizeCause);
}

TCacheEnd TInPlaceImageWriter::WriteDataHandler(TStreamItem& Item, std::uint64_t Offset) {
  cdFiles_.ReadingFile = Item.FileId;
  cdFiles_.WritingFile = Item.FileId;
  cdFiles_.VerifySize += static_cast<std::uint32_t>(SectorsOf(Item.Size));
  if (Item.Size >= kMaxMemoryFileBytes || !Item.Entry || !Item.Entry->mfcbFunction) return FailOn(Item);
  for (std::uint64_t done = 0; done < Item.Size;) {
    if (cdFiles_.Aborted) return TCacheEnd::Aborted;
    const std::uint64_t wanted = std::min<std::uint64_t>(kMaxHandlerBytes, RoundUpToSector(Item.Size - done));
    const std::uint64_t needed = std::min(wanted, Item.Size - done);
    std::uint32_t delivered = static_cast<std::uint32_t>(wanted);
    Item.Entry->mfcbFunction(this, Item.Entry, static_cast<std::uint32_t>(done), Buffer(), delivered);
    if (delivered < needed) return FailOn(Item);
    if (const TCacheEnd end = Place(Buffer(), needed, Offset + done); end != TCacheEnd::Running) return end;
    done += needed;
  }
  return TCacheEnd::Running;
}

TCacheEnd TInPlaceImageWriter::WriteGenerated(TStreamItem& Item, std::uint64_t Offset) {
  const std::uint64_t total = SectorsOf(Item.Size) * kStreamSectorBytes;
  for (std::uint64_t done = 0; done < total;) {
    if (cdFiles_.Aborted) return TCacheEnd::Aborted;
    const std::uint64_t n = std::min<std::uint64_t>(total - done, kBufferBytes);
    if (!Item.Generate || !Item.Generate(Buffer(), static_cast<std::uint32_t>(n / kStreamSectorBytes))) {
      return FailOn(Item);
    }
    if (const TCacheEnd end = Place(Buffer(), n, Offset + done); end != TCacheEnd::Running) return end;
    done += n;
  }
  return TCacheEnd::Running;
}

TCacheEnd TInPlaceImageWriter::WriteBytes(TStreamItem& Item, std::uint64_t Offset) {
  if (Item.Bytes.size() < Item.Size) return FailOn(Item);
  const TCacheEnd end = Place(Item.Bytes.data(), Item.Size, Offset);
  std::vector<std::uint8_t>().swap(Item.Bytes);
  return end;
}

// The closing structure in the session's last sector; the sectors before it
// are padding, which the final size leaves zero.
TCacheEnd TInPlaceImageWriter::WriteClosingSector() {
  if (!plan_.FinishLastSector) return TCacheEnd::Running;
  std::array<std::uint8_t, kStreamSectorBytes> sector{};
  plan_.FinishLastSector(sector.data());
  return Place(sector.data(), sector.size(), (plan_.TotalSectors - 1) * kStreamSectorBytes);
}

TCacheEnd TInPlaceImageWriter::Place(const std::uint8_t* Bytes, std::uint64_t Size, std::uint64_t Offset) {
  if (Size > 0 && !output_.WriteAllAt(Bytes, static_cast<std::size_t>(Size), Offset)) return TCacheEnd::ConsumerGone;
  Advance(Offset + Size);
  return TCacheEnd::Running;
}

void TInPlaceImageWriter::Advance(std::uint64_t End) {
  output_.Placed(End);
  cdFiles_.BlocksWritten = static_cast<std::uint32_t>(SectorsOf(End));
}

std::uint8_t* TInPlaceImageWriter::Buffer() {
  if (!buffer_) buffer_.reset(new std::uint8_t[kBufferBytes]);
  return buffer_.get();
}

TCacheEnd TInPlaceImageWriter::FailOn(const TStreamItem& Item, std::string_view Cause) {
  RecordStreamItemError(cdFiles_, Item, Cause);
  return TCacheEnd::ProducerFailed;
}

}  // namespace kilnor
