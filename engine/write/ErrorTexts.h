#pragma once
// The one way the engine's error numbers are read (reading consumes them),
// and the texts an application shows for them.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/device/SCSILib.h"
#include "engine/image/ErrorNumbers.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

// Longest texts, without their terminating zero.
inline constexpr std::size_t kErrorTextBytes = 256;
inline constexpr std::size_t kErrorTextUnits = 258;

// Returns the pending engine error, else the drive's last sense code, and
// clears what it returned.
[[nodiscard]] std::uint32_t TakeErrorNumber(TCDFiles& CDFiles, TSCSIDevice& Device);
// TakeErrorNumber, then the text of that number.
[[nodiscard]] std::string TakeErrorString(TCDFiles& CDFiles, TSCSIDevice& Device);
[[nodiscard]] std::u16string TakeErrorStringW(TCDFiles& CDFiles, TSCSIDevice& Device);

// The texts of one number; FileName is used by errors 2 and 3 (null or empty:
// the bare text).
[[nodiscard]] std::string ErrorText(std::uint32_t Number, const std::u16string* FileName);
[[nodiscard]] std::u16string ErrorTextW(std::uint32_t Number, const std::u16string* FileName);

}  // namespace kilnor
