#pragma once
// Upper-case mapping of UTF-16 code units, the same on every platform and in
// every locale, so that names compare alike wherever the engine runs.
namespace kilnor {

// Upper-case form of one UTF-16 code unit under the Unicode simple case
// mapping (Latin, Greek, Cyrillic, Armenian, full-width and enclosed letters);
// code units without an upper-case form are returned unchanged.
[[nodiscard]] char16_t UpCaseChar(char16_t unit);

}  // namespace kilnor
