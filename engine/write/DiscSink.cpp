#include "engine/write/DiscSink.h"

#include "engine/write/DiscClosing.h"
#include "engine/write/DiscSetUp.h"
#include "engine/write/PacketWrite.h"

namespace kilnor {
namespace {

// The writer takes 1 MiB from the cache at a time, so that it is woken once
// per MiB rather than once per packet, and sends each packet with its own
// WRITE (10).
constexpr std::uint32_t kPacketsPerTake = 16;
// The drive buffer is read after the third packet, then after every sixth.
constexpr int kPollEvery = 5;

}  // namespace

TDiscSink::TDiscSink(TCDFiles& CDFiles, TSCSIDevice& Device, const TDiscTarget& Target)
    : cdFiles_(CDFiles), device_(Device), target_(Target), next_(Target.Start) {}

bool TDiscSink::Begin() { return SetUpDrive(cdFiles_, device_, target_); }
std::uint32_t TDiscSink::PacketsPerTake() const { return kPacketsPerTake; }

std::uint32_t TDiscSink::CachePackets(std::uint32_t Configured) const { return Configured; }

bool TDiscSink::Write(const TPackets& Packets) {
  for (std::uint32_t i = 0; i < Packets.Count; ++i) {
    const std::span<const std::uint8_t> packet(Packets.Data + std::size_t{i} * kPacketBytes, kPacketBytes);
    if (target_.GrowsVolume && next_ == target_.Start) firstPacket_.assign(packet.begin(), packet.end());
    if (!WritePacket(cdFiles_, device_, next_, packet)) {
      failed_ = true;
      return false;
    }
    next_ += kPacketSectors;
    written_ += kPacketSectors;
    PollDriveBuffer();
  }
  return true;
}

void TDiscSink::PollDriveBuffer() {
  if (--pollCountdown_ >= 0) return;
  ReadDriveBuffer(device_);
  pollCountdown_ = kPollEvery;
}

bool TDiscSink::Finish(bool Complete) {
  const bool complete = Complete && !failed_ && written_ == target_.Sectors;
  const bool closed = CloseDisc(cdFiles_, device_, target_, complete, firstPacket_);
  return complete && closed;
}

}  // namespace kilnor
