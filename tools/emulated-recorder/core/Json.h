#pragma once
// The state files of the emulated recorder are JSON documents read and
// written with nlohmann-json. Reads are lenient: a member that is missing or
// of another type yields the fallback, so a hand-edited or older file loads
// with defaults instead of failing.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace velmor::emu {

using TJson = nlohmann::json;

// Typed reads with a fallback for a missing or mistyped value.
[[nodiscard]] std::int64_t IntOf(const TJson& Value, std::int64_t Fallback = 0);
[[nodiscard]] bool BoolOf(const TJson& Value, bool Fallback = false);
[[nodiscard]] std::string StringOf(const TJson& Value, std::string_view Fallback = {});

// Object member access; a missing member (or a value that is no object)
// reads as null.
[[nodiscard]] const TJson& MemberOf(const TJson& Object, std::string_view Key);
// The items of an array; anything else has none.
[[nodiscard]] const TJson& ItemsOf(const TJson& Array);

// The text of a state file: members sorted by key, two-space indentation,
// a final line break.
[[nodiscard]] std::string DumpJson(const TJson& Value);
// Nothing for text that is not one complete JSON document.
[[nodiscard]] std::optional<TJson> ParseJson(std::string_view Text);

}  // namespace velmor::emu
