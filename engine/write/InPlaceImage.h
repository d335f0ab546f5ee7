#pragma once
// An image file written without the packet ring: each source file's data is
// copied by the kernel straight to its laid-out offset in the image, and the
// other items (header, boot image, UDF file structures, memory files) are
// written at their offsets from one large buffer; the file gets its final
// size at the end, so sector tails and padding read zero without being
// written. Where the kernel cannot copy between the two files, the data is
// read into the buffer and written from there.
#include <cstdint>
#include <memory>

#include "engine/image/TreeTypes.h"
#include "engine/platform/FileIO.h"
#include "engine/write/Cache.h"
#include "engine/write/StreamPlan.h"

namespace kilnor {

class TInPlaceImageWriter {
 public:
  // Writes Plan into Output, which takes bytes in place. Progress goes to
  // CDFiles as for a write through the ring (BlocksWritten, ReadingFile,
  // WritingFile).
  TInPlaceImageWriter(TCDFiles& CDFiles, TStreamPlan& Plan, TOutputFile& Output);

  // Done when every item is in place and the file has its final size;
  // ProducerFailed with the source named in the error when a source cannot
  // be read as laid out; ConsumerGone when the output failed (its reason in
  // the output's FailureCause); Aborted when the abort flag was raised.
  [[nodiscard]] TCacheEnd Write();

 private:
  [[nodiscard]] TCacheEnd WriteItem(TStreamItem& Item, std::uint64_t Offset);
  [[nodiscard]] TCacheEnd WriteFile(TStreamItem& Item, std::uint64_t Offset);
  [[nodiscard]] TCacheEnd CopyFile(TFile& Source, TStreamItem& Item, std::uint64_t Offset, std::uint64_t& Done);
  [[nodiscard]] TCacheEnd ReadAndWriteFile(TFile& Source, TStreamItem& Item, std::uint64_t Offset,
                                           std::uint64_t& Done);
  [[nodiscard]] TCacheEnd WriteDataHandler(TStreamItem& Item, std::uint64_t Offset);
  [[nodiscard]] TCacheEnd WriteGenerated(TStreamItem& Item, std::uint64_t Offset);
  [[nodiscard]] TCacheEnd WriteBytes(TStreamItem& Item, std::uint64_t Offset);
  [[nodiscard]] TCacheEnd WriteClosingSector();
  [[nodiscard]] TCacheEnd Place(const std::uint8_t* Bytes, std::uint64_t Size, std::uint64_t Offset);
  void Advance(std::uint64_t End);
  [[nodiscard]] std::uint8_t* Buffer();  // allocated at first use
  [[nodiscard]] TCacheEnd FailOn(const TStreamItem& Item, std::string_view Cause = {});

  TCDFiles& cdFiles_;
  TStreamPlan& plan_;
  TOutputFile& output_;
  TSourceFolder sources_;
  std::unique_ptr<std::uint8_t[]> buffer_;
  bool kernelCopies_ = true;  // cleared once the kernel refuses to copy into the image
};

}  // namespace kilnor
