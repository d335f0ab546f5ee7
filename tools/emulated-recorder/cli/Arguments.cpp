#include "Arguments.h"

#include <charconv>

namespace velmor::emucli {

std::optional<std::string> TArguments::Option(const std::string& Name) const {
  auto found = Options.find(Name);
  if (found == Options.end()) return std::nullopt;
  return found->second;
}

std::optional<std::uint64_t> ParseNumber(std::string Text) {
  int base = 10;
  if (Text.starts_with("0x") || Text.starts_with("0X")) {
    Text = Text.substr(2);
    base = 16;
  } else if (!Text.empty() && (Text.back() == 'h' || Text.back() == 'H')) {
    Text.pop_back();
    base = 16;
  }
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value, base);
  if (Text.empty() || error != std::errc() || end != Text.data() + Text.size()) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> TArguments::Number(const std::string& Name, std::string& Error) const {
  auto text = Option(Name);
  if (!text) return std::nullopt;
  auto value = ParseNumber(*text);
  if (!value) Error = "--" + Name + " needs a number, not \"" + *text + "\"";
  return value;
}

}  // namespace velmor::emucli
