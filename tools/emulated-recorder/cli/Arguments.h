#pragma once
// The command line of velmor-emulator as the command sees it: its words
// (the command's name first) and the --name value options given.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmor::emucli {

class TArguments {
 public:
  // Flags are given with an empty value.
  TArguments(std::vector<std::string> Words, std::map<std::string, std::string> Options)
      : Positional(std::move(Words)), Options(std::move(Options)) {}

  [[nodiscard]] const std::vector<std::string>& Words() const { return Positional; }
  [[nodiscard]] std::string Word(std::size_t Index) const {
    return Index < Positional.size() ? Positional[Index] : std::string();
  }
  [[nodiscard]] bool Has(const std::string& Name) const { return Options.count(Name) > 0; }
  [[nodiscard]] std::optional<std::string> Option(const std::string& Name) const;
  // A number option: decimal, or hexadecimal with 0x or a trailing h.
  [[nodiscard]] std::optional<std::uint64_t> Number(const std::string& Name, std::string& Error) const;

 private:
  std::vector<std::string> Positional;
  std::map<std::string, std::string> Options;
};

[[nodiscard]] std::optional<std::uint64_t> ParseNumber(std::string Text);

}  // namespace velmor::emucli
