#pragma once
// A session on the disc in the selected drive, read back for session import
// and the volume label: which session, where its track starts and ends, and
// its sectors through READ (10).
#include <cstdint>
#include <optional>
#include <string>

#include "engine/device/SCSILib.h"
#include "engine/image/SessionImport.h"

namespace kilnor {

class TDiscSectors final : public TSectorSource {
 public:
  explicit TDiscSectors(TSCSIDevice& Dev) : dev_(Dev) {}
  [[nodiscard]] bool ReadSectors(std::uint32_t LBA, std::uint32_t Count,
                                 std::span<std::uint8_t> Out) override;
  [[nodiscard]] std::uint64_t SectorLimit() const override { return std::uint64_t{1} << 32; }

 private:
  TSCSIDevice& dev_;
};

struct TDiscSession {
  std::int32_t Number = 0;
  TSessionPlace Place;
};

// Session SessionNo (0: the last closed one) of the disc: its track is asked
// for by session number, else by the track of that number when the drive
// says it belongs to the session. Nullopt, with the reason, for no medium, a
// blank disc, a session the disc does not hold, or a track that cannot be
// found or holds no data.
[[nodiscard]] std::optional<TDiscSession> LocateDiscSession(TSCSIDevice& Dev, std::uint16_t SessionNo,
                                                            std::string& Reason);

}  // namespace kilnor
