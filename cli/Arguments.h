#pragma once
// The arguments of one subcommand: positional words, options that take a
// value (--name VALUE or --name=VALUE) and flags (--name).
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Command.h"

namespace velmor::cli {

struct TParsedArguments {
  std::vector<std::string> Positional;
  std::map<std::string, std::string, std::less<>> Values;
  std::set<std::string, std::less<>> Flags;

  [[nodiscard]] std::string Value(std::string_view Option, std::string Default = {}) const;
  [[nodiscard]] bool Has(std::string_view Flag) const { return Flags.contains(Flag); }
};

// Parses Args against the options a command knows; "--" ends the options.
// An unknown option or a value option without its value sets Error.
[[nodiscard]] std::optional<TParsedArguments> ParseArguments(
    const TArguments& Args, const std::set<std::string_view>& ValueOptions,
    const std::set<std::string_view>& FlagOptions, std::string& Error);

}  // namespace velmor::cli
