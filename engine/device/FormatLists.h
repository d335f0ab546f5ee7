#pragma once
// FORMAT UNIT parameter lists (sent with format data, format code 1): a
// 4-byte header (format options valid, immediate; one 8-byte descriptor)
// and the descriptor (blocks, format type in bits 7-2, type-dependent
// parameter). Shared by erasing and by the preparation of a burn.
#include <cstdint>

namespace kilnor {

inline constexpr std::uint8_t kFormatDataCode1 = 0x11;

// DVD+RW (26h), the whole disc: what it held stays readable until overwritten.
inline constexpr std::uint8_t kDVDPlusRWFormatList[] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x23,
                                                        0x05, 0x40, 0x98, 0x00, 0x00, 0x00};
// DVD-RW quick format (15h) to restricted overwrite: 1,000 blocks without
// certification, and for a drive that refuses that, the size left to it.
inline constexpr std::uint8_t kDVDRWQuickFormatList[] = {0x00, 0xA2, 0x00, 0x08, 0x00, 0x00,
                                                         0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
inline constexpr std::uint8_t kDVDRWQuickFormatAnySizeList[] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00,
                                                                0x00, 0x00, 0x54, 0x00, 0x00, 0x10};
// DVD-RW restricted overwrite: quick grow of the last session (13h).
inline constexpr std::uint8_t kDVDRWGrowLastSessionList[] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00,
                                                             0x00, 0x00, 0x4C, 0x00, 0x00, 0x10};

}  // namespace kilnor
