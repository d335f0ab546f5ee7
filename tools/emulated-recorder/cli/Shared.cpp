#include <cstdio>

#include "Commands.h"

namespace velmor::emucli {

int Fail(const std::string& Message) {
  std::fprintf(stderr, "velmor-emulator: %s\n", Message.c_str());
  return 1;
}

int Saved(emu::TEmulator& Emulator) {
  const std::string problem = Emulator.TakeProblem();
  return problem.empty() ? 0 : Fail(problem);
}

std::optional<std::size_t> ChosenDrive(const TContext& Context, emu::TEmulator& Emulator) {
  if (!Emulator.Ready()) {
    Fail(Emulator.Error());
    return std::nullopt;
  }
  std::string error;
  const auto number = Context.Arguments.Number("drive", error);
  if (!error.empty()) {
    Fail(error);
    return std::nullopt;
  }
  for (std::size_t i = 0; i < Emulator.DriveCount(); ++i)
    if (!number || static_cast<std::uint64_t>(Emulator.DriveNumber(i)) == *number) return i;
  Fail(number ? "there is no drive " + std::to_string(*number) : std::string("there is no drive"));
  return std::nullopt;
}

}  // namespace velmor::emucli
