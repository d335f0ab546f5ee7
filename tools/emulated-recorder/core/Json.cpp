#include "Json.h"

#include <cmath>
#include <limits>

namespace velmor::emu {

namespace {

const TJson kNull;
const TJson kNoItems = TJson::array();

}  // namespace

std::int64_t IntOf(const TJson& Value, std::int64_t Fallback) {
  if (Value.is_number_integer()) return Value.get<std::int64_t>();
  if (!Value.is_number_float()) return Fallback;
  const double real = Value.get<double>();
  // A fraction outside the 64-bit range has no integer value to give.
  constexpr double kLimit = 9223372036854775808.0;
  if (!std::isfinite(real) || real >= kLimit || real < -kLimit) return Fallback;
  return static_cast<std::int64_t>(real);
}

bool BoolOf(const TJson& Value, bool Fallback) {
  return Value.is_boolean() ? Value.get<bool>() : Fallback;
}

std::string StringOf(const TJson& Value, std::string_view Fallback) {
  return Value.is_string() ? Value.get<std::string>() : std::string(Fallback);
}

const TJson& MemberOf(const TJson& Object, std::string_view Key) {
  if (!Object.is_object()) return kNull;
  const auto found = Object.find(Key);
  return found == Object.end() ? kNull : *found;
}

const TJson& ItemsOf(const TJson& Array) { return Array.is_array() ? Array : kNoItems; }

std::string DumpJson(const TJson& Value) {
  // Bytes that are not UTF-8 are written as U+FFFD instead of failing the
  // whole save.
  return Value.dump(2, ' ', false, TJson::error_handler_t::replace) + '\n';
}

std::optional<TJson> ParseJson(std::string_view Text) {
  TJson value = TJson::parse(Text, nullptr, false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

}  // namespace velmor::emu
