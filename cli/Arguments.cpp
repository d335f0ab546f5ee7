#include "cli/Arguments.h"

namespace velmor::cli {

std::string TParsedArguments::Value(std::string_view Option, std::string Default) const {
  const auto found = Values.find(Option);
  return found == Values.end() ? Default : found->second;
}

std::optional<TParsedArguments> ParseArguments(const TArguments& Args,
                                               const std::set<std::string_view>& ValueOptions,
                                               const std::set<std::string_view>& FlagOptions,
                                               std::string& Error) {
  TParsedArguments parsed;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      parsed.Positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    if (ValueOptions.contains(name)) {
      if (equals != std::string::npos) {
        parsed.Values[name] = arg.substr(equals + 1);
      } else if (i + 1 < Args.size()) {
        parsed.Values[name] = Args[++i];
      } else {
        Error = "option " + name + " needs a value";
        return std::nullopt;
      }
    } else if (FlagOptions.contains(arg)) {
      parsed.Flags.insert(arg);
    } else {
      Error = "unknown option '" + arg + "'";
      return std::nullopt;
    }
  }
  return parsed;
}

}  // namespace velmor::cli
