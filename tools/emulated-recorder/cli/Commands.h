#pragma once
// The subcommands of velmor-emulator, one per file, and what they share.
#include <cstddef>
#include <optional>
#include <string>

#include "Arguments.h"
#include "Emulator.h"

namespace velmor::emucli {

struct TContext {
  const TArguments& Arguments;
  std::string Directory;
};

// Index of the drive --drive names (its number), or of the first drive.
[[nodiscard]] std::optional<std::size_t> ChosenDrive(const TContext& Context, emu::TEmulator& Emulator);
int Fail(const std::string& Message);  // prints the message; returns the failure exit code
// 0 when every change to the state directory was saved; else prints why
// and returns the failure exit code.
[[nodiscard]] int Saved(emu::TEmulator& Emulator);

int RunList(const TContext& Context);
int RunInsert(const TContext& Context);
int RunEject(const TContext& Context);
int RunLoad(const TContext& Context);
int RunRemove(const TContext& Context);
int RunExport(const TContext& Context);
int RunFault(const TContext& Context);
int RunSet(const TContext& Context);
int RunAddDrive(const TContext& Context);
int RunReset(const TContext& Context);

}  // namespace velmor::emucli
