// Drive settings, new drives, and starting over.
#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "Commands.h"
#include "StateStore.h"

namespace velmor::emucli {

namespace {

[[nodiscard]] std::optional<std::vector<emu::TMediumKind>> KindList(const std::string& Text, std::string& Error) {
  std::vector<emu::TMediumKind> kinds;
  std::stringstream parts(Text);
  std::string name;
  while (std::getline(parts, name, ',')) {
    auto kind = emu::MediumKindByName(name);
    if (!kind || emu::Traits(*kind).Recording == emu::TRecording::ReadOnly) {
      Error = "\"" + name + "\" is not a writable medium kind";
      return std::nullopt;
    }
    kinds.push_back(*kind);
  }
  return kinds;
}

[[nodiscard]] std::optional<bool> OnOff(const std::string& Text) {
  if (Text == "on" || Text == "true" || Text == "1") return true;
  if (Text == "off" || Text == "false" || Text == "0") return false;
  return std::nullopt;
}

// Applies KEY VALUE to Config; an empty result means it was applied.
[[nodiscard]] std::string ApplySetting(emu::TDriveConfig& Config, const std::string& Key, const std::string& Value) {
  const auto number = ParseNumber(Value);
  const auto flag = OnOff(Value);
  if (Key == "realtime" && flag) Config.Realtime = *flag;
  else if (Key == "block-descriptor" && flag) Config.BlockDescriptor = *flag;
  else if (Key == "busy-polls" && number && *number <= 1000) Config.BusyPolls = static_cast<std::uint32_t>(*number);
  else if (Key == "loading-polls" && number && *number <= 1000) Config.LoadingPolls = static_cast<std::uint32_t>(*number);
  else if (Key == "buffer-kib" && number && *number >= 64 && *number <= (1u << 20)) Config.BufferKiB = static_cast<std::uint32_t>(*number);
  else if (Key == "vendor" && !Value.empty()) Config.Vendor = Value.substr(0, 8);
  else if (Key == "product" && !Value.empty()) Config.Product = Value.substr(0, 16);
  else if (Key == "revision" && !Value.empty()) Config.Revision = Value.substr(0, 4);
  else if (Key == "letter" && (Value.empty() || Value == "none")) Config.DriveLetter = 0;
  else if (Key == "letter" && Value.size() == 1 && Value[0] >= 'A' && Value[0] <= 'Z') Config.DriveLetter = Value[0];
  else if (Key == "writes") {
    std::string error;
    auto kinds = KindList(Value, error);
    if (!kinds) return error;
    Config.Writes = *kinds;
  } else {
    return "cannot set " + Key + " to \"" + Value + "\" (see velmor-emulator help)";
  }
  return {};
}

}  // namespace

int RunSet(const TContext& Context) {
  const std::string key = Context.Arguments.Word(1);
  if (key.empty() || Context.Arguments.Words().size() < 3) return Fail("set needs a KEY and a VALUE");
  emu::TEmulator emulator(Context.Directory);
  auto drive = ChosenDrive(Context, emulator);
  if (!drive) return 1;
  std::string error;
  emulator.WithDrive(*drive, [&](emu::TDrive& d) {
    emu::TDriveConfig config = d.Config();
    error = ApplySetting(config, key, Context.Arguments.Word(2));
    if (error.empty()) d.UpdateConfig(config);
  });
  return error.empty() ? Saved(emulator) : Fail(error);
}

int RunAddDrive(const TContext& Context) {
  std::string error;
  emu::TDriveConfig config = emu::TDriveConfig::Default();
  if (auto writes = Context.Arguments.Option("writes")) {
    auto kinds = KindList(*writes, error);
    if (!kinds) return Fail(error);
    config.Writes = *kinds;
  }
  if (auto product = Context.Arguments.Option("product")) config.Product = product->substr(0, 16);
  emu::TEmulator emulator(Context.Directory);  // a first drive exists before a second is added
  if (!emulator.Ready()) return Fail(emulator.Error());
  int number = 0;
  if (!emulator.AddDrive(config, number, error)) return Fail(error);
  std::printf("drive %d added (no medium)\n", number);
  return 0;
}

// Every file that cannot be removed is named, and the reset then fails. The
// drives' claim files stay: a process using a drive keeps its claim.
int RunReset(const TContext& Context) {
  std::vector<std::string> doomed;
  if (DIR* dir = ::opendir(Context.Directory.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if ((name.starts_with("drive-") && name.find(".json") != std::string::npos) ||
          (name.starts_with("medium-") && name.ends_with(".data")))
        doomed.push_back(Context.Directory + "/" + name);
    }
    ::closedir(dir);
  }
  int failures = 0;
  for (const auto& path : doomed) {
    if (std::remove(path.c_str()) == 0 || errno == ENOENT) continue;
    Fail("cannot remove " + path + ": " + std::strerror(errno));
    ++failures;
  }
  if (failures > 0) return Fail("reset is incomplete: remove those files by hand, then reset again");
  emu::TEmulator fresh(Context.Directory);
  if (!fresh.Ready()) return Fail(fresh.Error());
  std::printf("state reset: one drive with a blank dvd+rw in %s\n", fresh.Directory().c_str());
  return 0;
}

}  // namespace velmor::emucli
