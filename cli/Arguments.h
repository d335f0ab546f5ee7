#pragma once
// The arguments of one subcommand as the command line gave them: positional
// words, options that take a value (--name VALUE or --name=VALUE; the last
// one given counts) and flags (--name).
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace velmor::cli {

// The names of a subcommand's options, as typed ("--speed", "-o").
using TOptionNames = std::vector<std::string_view>;

[[nodiscard]] inline TOptionNames operator+(TOptionNames Names, const TOptionNames& More) {
  Names.insert(Names.end(), More.begin(), More.end());
  return Names;
}

struct TParsedArguments {
  std::vector<std::string> Positional;
  std::map<std::string, std::string, std::less<>> Values;
  std::set<std::string, std::less<>> Flags;

  [[nodiscard]] std::string Value(std::string_view Option, std::string Default = {}) const {
    const auto found = Values.find(Option);
    return found == Values.end() ? Default : found->second;
  }
  [[nodiscard]] bool Has(std::string_view Flag) const { return Flags.contains(Flag); }
};

}  // namespace velmor::cli
