#pragma once
// Write start and write thread: a prepared session goes through the packet
// cache to its output, and the end is reported through the component's
// notification queue (OnWriteDone).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/image/TreeTypes.h"
#include "engine/platform/Workers.h"
#include "engine/write/Cache.h"
#include "engine/platform/FileIO.h"
#include "engine/write/StreamPlan.h"

namespace kilnor {

// Where the packets of a write go.
class TPacketSink {
 public:
  virtual ~TPacketSink() = default;
  // On the write thread, before the first packet; false, with the reason
  // recorded, when the output cannot take the stream.
  [[nodiscard]] virtual bool Begin() { return true; }
  // Packets the writer takes from the cache at a time, that is per wake-up;
  // Write gets them together.
  [[nodiscard]] virtual std::uint32_t PacketsPerTake() const = 0;
  // Packets the cache holds for this sink, given the configured count.
  [[nodiscard]] virtual std::uint32_t CachePackets(std::uint32_t Configured) const = 0;
  [[nodiscard]] virtual bool Write(const TPackets& Packets) = 0;
  // After the last packet. Complete: the whole stream was taken and nothing
  // failed or was aborted. An image file is kept only when complete; a disc
  // closes its track and session either way. False when the output is not
  // complete after all.
  [[nodiscard]] virtual bool Finish(bool Complete) = 0;
  // The write failed: nothing may be left that looks complete.
  virtual void Discard() = 0;
  // Why the last Write or Finish failed, in the system's words; empty when
  // the sink cannot tell.
  [[nodiscard]] virtual std::string FailureCause() const { return {}; }
};

// A new ISO image file; the session is written from sector 0. The image
// appears under its name only when complete (see TOutputFile).
class TImageFileSink final : public TPacketSink {
 public:
  // Opens the output for the image; null when that fails, with the system's
  // reason in Cause when given.
  [[nodiscard]] static std::unique_ptr<TImageFileSink> Create(const std::u16string& FileName,
                                                              std::string* Cause = nullptr);

  [[nodiscard]] std::uint32_t PacketsPerTake() const override;
  [[nodiscard]] std::uint32_t CachePackets(std::uint32_t Configured) const override;
  [[nodiscard]] bool Write(const TPackets& Packets) override;
  [[nodiscard]] bool Finish(bool Complete) override;
  void Discard() override;
  [[nodiscard]] std::string FailureCause() const override;

 private:
  explicit TImageFileSink(TOutputFile File) : file_(std::move(File)) {}
  TOutputFile file_;
};

// Starts the cache thread on Plan, waits until the writer may begin, then
// starts the write thread on Workers. False when the stream ended before the
// writer could begin (abort, unreadable source); the completion is reported
// then too, with Component as sender. The sink and the plan are owned by the
// write from here on.
[[nodiscard]] bool StartWrite(TCDFiles& CDFiles, TStreamPlan Plan, std::unique_ptr<TPacketSink> Output,
                              TWorkerRegistry& Workers, void* Component, const TWriteDoneEvent& OnWriteDone);

// Writes the prepared compilation to a new image file, session at sector 0.
// Fails with error 1 when the compilation is not prepared (before the file is
// touched) and with error 3 when the file cannot be created or is one of the
// files being recorded (refused before it is touched); the cause of error 3
// is kept beside it (FileErrorCause).
[[nodiscard]] bool BuildISOImage(TCDFiles& CDFiles, std::u16string_view FileName, TWorkerRegistry& Workers,
                                 void* Component, const TWriteDoneEvent& OnWriteDone);

}  // namespace kilnor
