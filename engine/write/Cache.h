#pragma once
// The packet cache: the cache thread turns one session into a single ordered
// byte stream, cut into packets of 64 KiB, and queues them ahead of the
// writer, which takes them in order.
//
// The packets live in one ring of MaxPackets slots allocated when the cache
// is made: the producer reads straight into free slots with large reads
// and the writer writes straight from queued slots, so packet data is never
// copied and no buffer is allocated while the stream runs.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/image/TreeTypes.h"
#include "engine/platform/FileIO.h"
#include "engine/write/StreamPlan.h"

namespace kilnor {

// The packet table holds 10,000 entries, one of them the packet being filled.
inline constexpr std::uint32_t kPacketTableEntries = 10000;
inline constexpr std::uint32_t kMaxQueuedPackets = kPacketTableEntries - 1;

// Queued packets a cache of CacheSize bytes holds, capped to the table.
[[nodiscard]] std::uint32_t MaxPacketsFor(std::uint32_t CacheSize);

// How a stream ends. Either side can end it, and the other side sees why.
enum class TCacheEnd {
  Running,
  Done,            // the whole stream was queued; the writer drains what is left
  ProducerFailed,  // a source could not be read as laid out; the error is recorded
  ConsumerGone,    // the writer stopped (its output failed)
  Aborted,         // the operation's abort flag was raised
};

// Packets handed to the writer: Count whole packets, contiguous in memory,
// valid until ReleasePackets. Count 0: the stream is over (see End()).
struct TPackets {
  const std::uint8_t* Data = nullptr;
  std::size_t Size = 0;
  std::uint32_t Count = 0;
  std::int32_t FileId = -1;  // source file whose data completed the last packet
};

// Read-ahead pressure the cache thread would ask of the scheduler.
enum class TCachePriority { Idle, Lowest, Normal, Highest };

class TPacketCache {
 public:
  TPacketCache(std::uint32_t MaxPackets, const std::atomic<bool>& Aborted);
  TPacketCache(const TPacketCache&) = delete;
  TPacketCache& operator=(const TPacketCache&) = delete;

  // Producer. Waits for free room and returns it (at most MaxBytes, never
  // across the end of the ring); empty when the stream has ended or must stop.
  [[nodiscard]] std::span<std::uint8_t> WaitForRoom(std::size_t MaxBytes);
  // Hands on Bytes of the room last returned; completed packets are queued.
  void Commit(std::size_t Bytes, std::int32_t FileId);
  // Ends the stream from the producer's side (Done only on a whole packet).
  void EndStream(TCacheEnd End);

  // Consumer. Waits until MaxCount packets are queued (or what is left, or
  // what reaches the end of the ring) and hands them over.
  [[nodiscard]] TPackets TakePackets(std::uint32_t MaxCount);
  // Gives the packets of the last TakePackets back to the producer.
  void ReleasePackets();
  // The writer stops taking packets; the producer ends at its next step.
  void LeaveConsumer();

  // Either side: waits until the writer may begin (cache full for the first
  // time, or the whole stream queued) or the stream has ended otherwise.
  [[nodiscard]] bool WaitUntilCanStart();

  [[nodiscard]] TCacheEnd End() const;
  [[nodiscard]] std::uint32_t MaxPackets() const { return maxPackets_; }
  // Packets queued and not yet taken.
  [[nodiscard]] std::int32_t PacketCount() const;
  // Bytes read into the cache and not yet taken.
  [[nodiscard]] std::uint64_t BytesAvailable() const;
  [[nodiscard]] TCachePriority Priority() const;

 private:
  [[nodiscard]] bool StoppedLocked();  // lock_ held; notices an abort
  void EndLocked(TCacheEnd End);        // lock_ held

  const std::uint32_t maxPackets_;
  const std::uint32_t slots_;
  const std::atomic<bool>& aborted_;
  std::unique_ptr<std::uint8_t[]> arena_;
  std::vector<std::int32_t> fileIds_;

  mutable std::mutex lock_;
  std::condition_variable changed_;
  TCacheEnd end_ = TCacheEnd::Running;
  bool canStart_ = false;
  // Absolute counts since the start: bytes produced, packets taken by the
  // writer, and packets it gave back. Slot of packet k is k % slots_.
  std::uint64_t produced_ = 0;
  std::uint64_t taken_ = 0;
  std::uint64_t released_ = 0;
  // Who sleeps on changed_: the producer for room, the writer for the queued
  // count it waits for (0: not waiting). Wakes are sent only to a sleeper.
  bool producerWaiting_ = false;
  std::uint64_t consumerWaitsFor_ = 0;
};

// How reading one source into the cache ended: completely, stopped because
// the stream ended from elsewhere, or failed (the cause is kept).
enum class TSourceRead { Done, Stopped, Failed };

// The cache thread: streams a plan into its cache. Made by the write start,
// owned by whoever writes the stream, which joins it (the destructor does)
// before the write is reported.
class TCacheThread {
 public:
  // Starts the thread with a cache of MaxPackets packets (see MaxPacketsFor).
  // The plan is owned by the thread from here on.
  TCacheThread(TCDFiles& CDFiles, TStreamPlan Plan, std::uint32_t MaxPackets);
  ~TCacheThread();
  TCacheThread(const TCacheThread&) = delete;
  TCacheThread& operator=(const TCacheThread&) = delete;

  [[nodiscard]] TPacketCache& Cache() { return cache_; }
  // Waits for the thread to end; its buffers are freed by then.
  void Join();

 private:
  void Execute();
  [[nodiscard]] bool StreamItem(TStreamItem& Item);
  [[nodiscard]] bool StreamFile(const TStreamItem& Item);
  [[nodiscard]] bool StreamCompilationFiles(const TStreamItem& Item);
  [[nodiscard]] bool StreamEntry(TFileEntry& Entry, std::int32_t FileId);
  [[nodiscard]] TSourceRead StreamSourceFile(const std::string& Path, std::uint64_t Size, std::int32_t FileId);
  [[nodiscard]] TSourceRead StreamDataHandler(TFileEntry& Entry, std::int32_t FileId);
  [[nodiscard]] bool StreamBytes(TStreamItem& Item);
  [[nodiscard]] bool StreamGenerated(TStreamItem& Item);
  [[nodiscard]] bool StreamPadding();
  [[nodiscard]] std::span<std::uint8_t> Room(std::uint64_t Remaining);
  void CommitItemBytes(std::span<std::uint8_t> Room, std::uint64_t ItemBytes, std::int32_t FileId);
  // Ends the stream with error 2 naming Name (error 1 when it is empty);
  // always false.
  [[nodiscard]] bool FailOn(std::u16string_view Name, std::string_view Cause = {});
  [[nodiscard]] bool FailOnLayout();

  TCDFiles& cdFiles_;
  TStreamPlan plan_;
  TPacketCache cache_;
  TSourceFolder sources_;
  std::string readFailure_;  // why the last source read failed
  std::uint64_t streamed_ = 0;  // bytes of the stream committed so far
  std::thread thread_;
};

}  // namespace kilnor
