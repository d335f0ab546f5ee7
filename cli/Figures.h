#pragma once
// Numbers as the media-information window and the speed list show them.
#include <cstdint>
#include <string>

namespace velmor::cli {

// 22160 -> "22,160".
[[nodiscard]] std::string GroupedNumber(std::uint64_t Value);
// Blocks of 2,048 bytes as megabytes with two decimals: 2295104 -> "4,482.63".
[[nodiscard]] std::string GroupedMegabytes(std::uint64_t Blocks);

}  // namespace velmor::cli
