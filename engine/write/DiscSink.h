#pragma once
// The medium in the drive as the output of the write thread: the drive set
// up for the medium, every packet written with its own WRITE (10) straight
// from the cache slot, the drive buffer polled, and the session closed.
#include <cstdint>
#include <vector>

#include "engine/write/CDBurner.h"
#include "engine/write/DiscTarget.h"

namespace kilnor {

class TDiscSink final : public TPacketSink {
 public:
  TDiscSink(TCDFiles& CDFiles, TSCSIDevice& Device, const TDiscTarget& Target);

  [[nodiscard]] bool Begin() override;
  [[nodiscard]] std::uint32_t PacketsPerTake() const override;
  [[nodiscard]] std::uint32_t CachePackets(std::uint32_t Configured) const override;
  [[nodiscard]] bool Write(const TPackets& Packets) override;
  // Closes the track and session; true when every sector of the session is
  // on the medium and the closing that decides it succeeded.
  [[nodiscard]] bool Finish(bool Complete) override;
  // The closing already ran in Finish; a disc keeps what was recorded.
  void Discard() override {}

 private:
  void PollDriveBuffer();

  TCDFiles& cdFiles_;
  TSCSIDevice& device_;
  TDiscTarget target_;
  std::vector<std::uint8_t> firstPacket_;  // kept while a growing volume's session is written
  std::uint32_t next_ = 0;                 // sector of the next write
  std::uint32_t written_ = 0;              // sectors the drive took
  int pollCountdown_ = 2;
  bool failed_ = false;
};

}  // namespace kilnor
