#pragma once
// The command line of velmor-emulator: words, then --name value options.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velmor::emucli {

class TArguments {
 public:
  // Flags take no value; every other --name takes the next word.
  TArguments(int Count, char** Values, const std::set<std::string>& Flags);

  [[nodiscard]] bool Valid() const { return Problem.empty(); }
  [[nodiscard]] const std::string& Error() const { return Problem; }
  [[nodiscard]] const std::vector<std::string>& Words() const { return Positional; }
  [[nodiscard]] std::string Word(std::size_t Index) const {
    return Index < Positional.size() ? Positional[Index] : std::string();
  }
  [[nodiscard]] bool Has(const std::string& Name) const { return Options.count(Name) > 0; }
  [[nodiscard]] std::optional<std::string> Option(const std::string& Name) const;
  [[nodiscard]] std::vector<std::string> OptionNames() const;
  // A number option: decimal, or hexadecimal with 0x or a trailing h.
  [[nodiscard]] std::optional<std::uint64_t> Number(const std::string& Name, std::string& Error) const;

 private:
  std::vector<std::string> Positional;
  std::map<std::string, std::string> Options;
  std::string Problem;
};

[[nodiscard]] std::optional<std::uint64_t> ParseNumber(std::string Text);

}  // namespace velmor::emucli
