#pragma once
// What a drive's sense data means, in the words of the SCSI primary and
// multimedia command standards, so that a failure reads as something a
// person can act on: "sense 2/3A/02: medium not present, tray open".
#include <cstdint>
#include <string>
#include <string_view>

namespace kilnor {

// The name of a sense key (low four bits), e.g. "not ready".
[[nodiscard]] std::string_view SenseKeyName(std::uint8_t SenseKey);
// The meaning of an additional sense code and qualifier; a code whose
// qualifier is not listed gets its family's meaning; empty when the code is
// not known at all (vendor-specific codes among them).
[[nodiscard]] std::string_view AdditionalSenseMeaning(std::uint8_t Asc, std::uint8_t Ascq);
// "sense K/AA/QQ: meaning" (hexadecimal), the sense key's name standing in
// for a code that is not known.
[[nodiscard]] std::string SenseDescription(std::uint8_t SenseKey, std::uint8_t Asc,
                                           std::uint8_t Ascq);

}  // namespace kilnor
