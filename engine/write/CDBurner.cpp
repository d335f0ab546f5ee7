#include "engine/write/CDBurner.h"

#include <algorithm>
#include <utility>

#include "engine/events/Completions.h"
#include "engine/image/ISO9660.h"
#include "engine/image/Tree.h"
#include "engine/platform/Unicode.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor {
namespace {

// An image file takes one packet a write. Larger writes let the file system
// back the image with large blocks of fresh memory, and when that memory is
// cold (on a virtual machine: handed back to the host) filling it costs
// several times the copy itself: a 4 GiB image took 4 to 9 s with 256 KiB
// writes against 1.3 s with one packet. The writer still takes 1 MiB from
// the cache at a time, so that it is woken once per MiB rather than once per
// packet. The cache stays small: the data then passes through the
// processor's cache on its way from source to image, and a file write never
// starves the way a drive can.
constexpr std::uint32_t kImagePacketsPerTake = 16;
constexpr std::uint32_t kImageCachePackets = 64;

constexpr char kOutputIsASource[] = "it is one of the files being recorded";

// Whether Target is the very file some entry is recorded from (through any
// name or link): writing the image there would destroy that entry's data.
// Only entries of Target's size can be it, so few are looked at.
[[nodiscard]] bool IsOneOfTheSources(const TCDFiles& CDFiles, const std::string& Target) {
  const std::int64_t size = FileSizeAt(Target);
  if (size < 0) return false;
  for (const auto& entry : CDFiles.Files) {
    if (entry->DirRecord != nullptr || !HasSourcePath(*entry) || entry->FileSize != size) continue;
    if (IsSameFile(Utf16ToUtf8(SourcePath(*entry)), Target)) return true;
  }
  return false;
}

// The write thread: takes the packets of one stream and writes them to the
// output. It owns the cache thread and joins it, freeing the cache, before it
// reports, so the completion never races the cache and a component without an
// owner still completes.
class TWriteThread {
 public:
  TWriteThread(TCDFiles& CDFiles, std::unique_ptr<TCacheThread> Cache, std::unique_ptr<TPacketSink> Output)
      : cdFiles_(CDFiles), cacheThread_(std::move(Cache)), output_(std::move(Output)) {}

  void Execute() {
    cdFiles_.ComponentStatus = stWriting;
    cdFiles_.BlocksWritten = 0;
    const bool started = output_->Begin();
    if (!started) cacheThread_->Cache().LeaveConsumer();
    const bool written = started && WritePackets();
    cdFiles_.ComponentStatus = written ? stClosingTrack : stBurnError;
    const bool failed = !CloseStream(written);
    ReportEnd(failed);
  }

 private:
  [[nodiscard]] bool WritePackets() {
    TPacketCache& cache = cacheThread_->Cache();
    for (;;) {
      const TPackets packets = cache.TakePackets(output_->PacketsPerTake());
      if (packets.Count == 0) return true;
      cdFiles_.WritingFile = packets.FileId;
      cdFiles_.PacketCount = cache.PacketCount();
      if (!output_->Write(packets)) {
        cache.LeaveConsumer();
        RecordOutputError();
        return false;
      }
      cdFiles_.BlocksWritten += static_cast<std::uint32_t>(packets.Size / kStreamSectorBytes);
      cache.ReleasePackets();
    }
  }

  // Decides the outcome from what happened: the output's own result, how the
  // stream ended, the abort flag and the sectors actually written.
  [[nodiscard]] bool CloseStream(bool Written) {
    cacheThread_->Join();
    const TCacheEnd end = cacheThread_->Cache().End();
    cacheThread_.reset();
    cdFiles_.PacketCount = 0;
    bool complete = Written && end == TCacheEnd::Done && !cdFiles_.Aborted &&
                    cdFiles_.BlocksWritten == cdFiles_.TotalImageSize;
    if (Written && end == TCacheEnd::Done && !complete) RecordError(cdFiles_, erIncompleteWrite);
    if (!output_->Finish(complete) && complete) {
      RecordOutputError();
      complete = false;
    }
    if (!complete) output_->Discard();
    output_.reset();
    return complete;
  }

  void RecordOutputError() {
    RecordFileError(cdFiles_, erFileCreate, cdFiles_.ISOFileName, output_->FailureCause());
  }

  // Last step of the thread: after the report, the handler may already run the
  // next write on these records.
  void ReportEnd(bool Failed) {
    TNotificationQueue* queue = cdFiles_.hWNDFE;
    const TWriteDoneEvent handler = cdFiles_.cbWriteDone;
    cdFiles_.ComponentStatus = stIdle;
    cdFiles_.WriteRunning = false;
    ReportWriteDone(queue, handler, this, Failed);
  }

  TCDFiles& cdFiles_;
  std::unique_ptr<TCacheThread> cacheThread_;
  std::unique_ptr<TPacketSink> output_;
};

}  // namespace

// ---- TImageFileSink -------------------------------------------------------------

std::unique_ptr<TImageFileSink> TImageFileSink::Create(const std::u16string& FileName, std::string* Cause) {
  TOutputFile file = TOutputFile::Open(Utf16ToUtf8(FileName));
  if (!file.IsOpen()) {
    if (Cause != nullptr) *Cause = file.FailureCause();
    return nullptr;
  }
  return std::unique_ptr<TImageFileSink>(new TImageFileSink(std::move(file)));
}

std::uint32_t TImageFileSink::PacketsPerTake() const { return kImagePacketsPerTake; }

std::uint32_t TImageFileSink::CachePackets(std::uint32_t Configured) const {
  return std::min(Configured, kImageCachePackets);
}

bool TImageFileSink::Write(const TPackets& Packets) {
  for (std::uint32_t i = 0; i < Packets.Count; ++i) {
    if (!file_.WriteAll(Packets.Data + std::size_t{i} * kPacketBytes, kPacketBytes)) return false;
  }
  return true;
}

bool TImageFileSink::Finish(bool Complete) { return Complete && file_.Commit(); }

void TImageFileSink::Discard() { file_.Discard(); }

std::string TImageFileSink::FailureCause() const { return file_.FailureCause(); }

// ---- Write start ------------------------------------------------------------------

bool StartWrite(TCDFiles& CDFiles, TStreamPlan Plan, std::unique_ptr<TPacketSink> Output, TWorkerRegistry& Workers,
                void* Component, const TWriteDoneEvent& OnWriteDone) {
  CDFiles.cbWriteDone = OnWriteDone;
  CDFiles.Aborted = false;
  CDFiles.WriteRunning = true;
  const std::uint32_t cachePackets = Output->CachePackets(MaxPacketsFor(CDFiles.CacheSize));
  auto cache = std::make_unique<TCacheThread>(CDFiles, std::move(Plan), cachePackets);
  if (!cache->Cache().WaitUntilCanStart()) {
    cache.reset();
    Output->Discard();
    CDFiles.WriteRunning = false;
    ReportWriteDone(CDFiles.hWNDFE, CDFiles.cbWriteDone, Component, true);
    return false;
  }
  // The write thread owns the cache thread and the output from here on.
  auto writer = std::make_shared<TWriteThread>(CDFiles, std::move(cache), std::move(Output));
  Workers.Start([writer](std::stop_token) { writer->Execute(); });
  return true;
}

bool BuildISOImage(TCDFiles& CDFiles, std::u16string_view FileName, TWorkerRegistry& Workers, void* Component,
                   const TWriteDoneEvent& OnWriteDone) {
  if (!NoWriteRunning(CDFiles)) return false;
  ClearError(CDFiles);
  CDFiles.ISOFileName.assign(FileName);
  CDFiles.BurnISOImage = false;
  CDFiles.SaveToISOImage = false;
  if (!LayoutIsCurrent(CDFiles)) {
    RecordError(CDFiles, erNotPrepared);
    return false;
  }
  CDFiles.FirstWritableSector = 0;
  CDFiles.VDImageSize = 0;
  if (!GenerateHeader(CDFiles)) {
    RecordError(CDFiles, erNotPrepared);
    return false;
  }
  TStreamPlan plan;
  if (!PlanSessionStream(CDFiles, plan)) return false;
  if (IsOneOfTheSources(CDFiles, Utf16ToUtf8(CDFiles.ISOFileName))) {
    RecordFileError(CDFiles, erFileCreate, CDFiles.ISOFileName, kOutputIsASource);
    return false;
  }
  std::string cause;
  auto output = TImageFileSink::Create(CDFiles.ISOFileName, &cause);
  if (!output) {
    RecordFileError(CDFiles, erFileCreate, CDFiles.ISOFileName, cause);
    return false;
  }
  CDFiles.SaveToISOImage = true;
  return StartWrite(CDFiles, std::move(plan), std::move(output), Workers, Component, OnWriteDone);
}

}  // namespace kilnor
