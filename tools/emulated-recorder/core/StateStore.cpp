#include "StateStore.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "SystemFiles.h"

namespace velmor::emu {

namespace {

constexpr std::string_view kDrivePrefix = "drive-";
constexpr std::string_view kStateSuffix = ".json";
constexpr std::string_view kFaultsSuffix = ".faults.json";
constexpr std::string_view kClaimSuffix = ".lock";

const std::pair<TFamily, std::string_view> kFamilyNames[] = {
    {TFamily::Cd, "cd"}, {TFamily::Dvd, "dvd"}, {TFamily::Bd, "bd"}, {TFamily::HdDvd, "hd-dvd"}};

#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif

[[nodiscard]] std::optional<std::string> ReadText(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

[[nodiscard]] std::optional<TJson> ReadJson(const std::string& Path) {
  auto text = ReadText(Path);
  if (!text) return std::nullopt;
  return ParseJson(*text);
}

[[nodiscard]] TJson SpeedList(const std::vector<std::uint16_t>& Speeds) {
  return TJson(Speeds);
}

[[nodiscard]] std::vector<std::uint16_t> SpeedsFrom(const TJson& List) {
  std::vector<std::uint16_t> speeds;
  for (const auto& item : ItemsOf(List)) {
    const auto speed = IntOf(item);
    if (speed > 0 && speed <= 0xFFFF) speeds.push_back(static_cast<std::uint16_t>(speed));
  }
  std::sort(speeds.begin(), speeds.end(), std::greater<>());
  return speeds;
}

[[nodiscard]] std::uint32_t Count32(const TJson& Value) {
  const auto number = IntOf(Value);
  return number < 0 || number > 0xFFFFFFFFll ? 0 : static_cast<std::uint32_t>(number);
}

[[nodiscard]] TJson MediumToJson(const TLoadedMedium& Medium) {
  const auto stored = Medium.Committed.Store();
  TJson tracks = TJson::array();
  for (const auto& track : stored.Tracks) {
    tracks.push_back({{"number", track.Number},
                      {"session", track.Session},
                      {"start", track.Start},
                      {"reserved", track.Reserved},
                      {"recorded", track.Recorded},
                      {"closed", track.Closed}});
  }
  return {{"id", Medium.Id},
          {"kind", Traits(stored.Kind).Name},
          {"profile", Traits(stored.Kind).Profile},
          {"capacity", stored.Capacity},
          {"closed_sessions", stored.ClosedSessions},
          {"finalised", stored.Finalised},
          {"formatted", stored.Formatted},
          {"written_end", stored.WrittenEnd},
          {"tracks", tracks}};
}

[[nodiscard]] std::optional<TLoadedMedium> MediumFromJson(const TJson& Json, std::string& Error) {
  const auto kind = MediumKindByName(StringOf(MemberOf(Json, "kind")));
  const std::string id = StringOf(MemberOf(Json, "id"));
  const bool idIsPlain = !id.empty() && id.find_first_not_of("0123456789abcdef") == std::string::npos;
  if (!kind || !idIsPlain) {
    Error = "the medium description is damaged";
    return std::nullopt;
  }
  TMediumLayout::TStored stored{*kind,
                                Count32(MemberOf(Json, "capacity")),
                                {},
                                Count32(MemberOf(Json, "closed_sessions")),
                                BoolOf(MemberOf(Json, "finalised")),
                                Count32(MemberOf(Json, "formatted")),
                                Count32(MemberOf(Json, "written_end"))};
  for (const auto& item : ItemsOf(MemberOf(Json, "tracks"))) {
    stored.Tracks.push_back({Count32(MemberOf(item, "number")), Count32(MemberOf(item, "session")), Count32(MemberOf(item, "start")),
                             Count32(MemberOf(item, "reserved")), Count32(MemberOf(item, "recorded")), BoolOf(MemberOf(item, "closed"))});
  }
  auto layout = TMediumLayout::Restore(stored);
  if (!layout) {
    Error = "the medium's track list is inconsistent";
    return std::nullopt;
  }
  return TLoadedMedium{id, *layout, *layout};
}

}  // namespace

std::string TStateStore::DefaultDirectory() {
  if (const char* dir = std::getenv("VELMOR_EMULATOR_DIR"); dir && *dir) return dir;
#ifdef _WIN32
  if (const char* data = std::getenv("LOCALAPPDATA"); data && *data) return std::string(data) + "/velmor-emulator";
#endif
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) return std::string(data) + "/velmor-emulator";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/share/velmor-emulator";
  return "velmor-emulator";
}

bool TStateStore::Prepare(std::string& Error) const {
  if (sys::MakeFolders(Dir)) return true;
  Error = "cannot create the state directory " + Dir;
  return false;
}

std::vector<int> TStateStore::DriveNumbers() const {
  std::vector<int> numbers;
  DIR* dir = ::opendir(Dir.c_str());
  if (!dir) return numbers;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(kDrivePrefix) || !name.ends_with(kStateSuffix) || name.ends_with(kFaultsSuffix)) continue;
    const std::string_view digits = name.substr(kDrivePrefix.size(), name.size() - kDrivePrefix.size() - kStateSuffix.size());
    if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string_view::npos)
      continue;
    numbers.push_back(std::stoi(std::string(digits)));
  }
  ::closedir(dir);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

std::string TStateStore::DrivePath(int Number) const {
  return Dir + "/" + std::string(kDrivePrefix) + std::to_string(Number) + std::string(kStateSuffix);
}

std::string TStateStore::FaultsPath(int Number) const {
  return Dir + "/" + std::string(kDrivePrefix) + std::to_string(Number) + std::string(kFaultsSuffix);
}

std::string TStateStore::ClaimPath(int Number) const {
  return Dir + "/" + std::string(kDrivePrefix) + std::to_string(Number) + std::string(kClaimSuffix);
}

bool TStateStore::Holds(const std::string& Path) const {
  const std::string::size_type slash = Path.find_last_of(kSeparators);
  const std::string parentPath = slash == std::string::npos ? "." : slash == 0 ? "/" : Path.substr(0, slash);
  if (sys::SameFile(parentPath, Dir)) return true;
  bool held = false;
  DIR* dir = ::opendir(Dir.c_str());
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && sys::SameFile(Dir + "/" + name, Path)) held = true;
  }
  ::closedir(dir);
  return held;
}

TFileStamp TStateStore::Stamp(const std::string& Path) {
  sys::TFileIdentity identity;
  if (!sys::Identify(Path, identity)) return {};
  return {identity.Id, identity.ModifiedNs, identity.Size};
}

bool TStateStore::WriteFile(const std::string& Path, const std::string& Text, bool Durable) const {
  const std::string fresh = Path + ".new." + std::to_string(sys::ProcessId());
  const int fd = sys::OpenFile(fresh, sys::TOpen::WriteTruncate);
  if (fd < 0) return false;
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < Text.size()) {
    const long long put = sys::WriteAt(fd, Text.data() + done, Text.size() - done, done);
    if (put < 0 && errno == EINTR) continue;
    ok = put > 0;
    if (ok) done += static_cast<std::size_t>(put);
  }
  if (Durable) ok = sys::Sync(fd) && ok;
  ok = sys::CloseFile(fd) == 0 && ok;
  if (ok) ok = sys::RenameOver(fresh, Path);
  if (!ok) sys::RemoveFile(fresh);
  return ok;
}

TJson ConfigToJson(const TDriveConfig& Config) {
  TJson writes = TJson::array();
  for (auto kind : Config.Writes) writes.push_back(Traits(kind).Name);
  TJson speeds = TJson::object();
  for (const auto& [family, name] : kFamilyNames) {
    auto found = Config.Speeds.find(family);
    if (found == Config.Speeds.end()) continue;
    speeds[name] = {{"read", SpeedList(found->second.Read)}, {"write", SpeedList(found->second.Write)}};
  }
  return {{"vendor", Config.Vendor},
          {"product", Config.Product},
          {"revision", Config.Revision},
          {"serial", Config.Serial},
          {"writes", writes},
          {"speeds", speeds},
          {"buffer_kib", Config.BufferKiB},
          {"busy_polls", Config.BusyPolls},
          {"loading_polls", Config.LoadingPolls},
          {"realtime", Config.Realtime},
          {"block_descriptor", Config.BlockDescriptor},
          {"drive_letter", Config.DriveLetter ? std::string(1, Config.DriveLetter) : std::string()}};
}

std::optional<TDriveConfig> ConfigFromJson(const TJson& Json, std::string& Error) {
  TDriveConfig config;
  config.Vendor = StringOf(MemberOf(Json, "vendor"), config.Vendor).substr(0, 8);
  config.Product = StringOf(MemberOf(Json, "product"), config.Product).substr(0, 16);
  config.Revision = StringOf(MemberOf(Json, "revision"), config.Revision).substr(0, 4);
  config.Serial = StringOf(MemberOf(Json, "serial"), config.Serial).substr(0, 32);
  for (const auto& item : ItemsOf(MemberOf(Json, "writes"))) {
    auto kind = MediumKindByName(StringOf(item));
    if (!kind || Traits(*kind).Recording == TRecording::ReadOnly) {
      Error = "unknown writable medium \"" + StringOf(item) + "\"";
      return std::nullopt;
    }
    config.Writes.push_back(*kind);
  }
  for (const auto& [family, name] : kFamilyNames) {
    const TJson& entry = MemberOf(MemberOf(Json, "speeds"), name);
    if (entry.is_null()) continue;
    TSpeeds speeds{SpeedsFrom(MemberOf(entry, "read")), SpeedsFrom(MemberOf(entry, "write"))};
    if (speeds.Read.empty() || speeds.Write.empty()) {
      Error = "the " + std::string(name) + " speed lists need at least one speed each";
      return std::nullopt;
    }
    config.Speeds[family] = speeds;
  }
  config.BufferKiB = std::clamp<std::uint32_t>(Count32(MemberOf(Json, "buffer_kib")), 64, 1 << 20);
  config.BusyPolls = std::min<std::uint32_t>(Count32(MemberOf(Json, "busy_polls")), 1000);
  config.LoadingPolls = std::min<std::uint32_t>(Count32(MemberOf(Json, "loading_polls")), 1000);
  config.Realtime = BoolOf(MemberOf(Json, "realtime"));
  config.BlockDescriptor = BoolOf(MemberOf(Json, "block_descriptor"));
  const std::string letter = StringOf(MemberOf(Json, "drive_letter"));
  config.DriveLetter = letter.size() == 1 && letter[0] >= 'A' && letter[0] <= 'Z' ? letter[0] : 0;
  return config;
}

std::optional<TSense> ParseSense(const std::string& Text) {
  unsigned key = 0, asc = 0, ascq = 0;
  char tail = 0;
  if (std::sscanf(Text.c_str(), "%x/%x/%x%c", &key, &asc, &ascq, &tail) != 3 || key > 0xF || asc > 0xFF ||
      ascq > 0xFF)
    return std::nullopt;
  return sense::Make(static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(asc), static_cast<std::uint8_t>(ascq));
}

TJson FaultToJson(const TFault& Fault) {
  char senseText[16];
  std::snprintf(senseText, sizeof senseText, "%X/%02X/%02X", Fault.Sense.Key, Fault.Sense.Asc, Fault.Sense.Ascq);
  TJson json = {{"type", FaultTypeName(Fault.Type)},
                {"count", Fault.Count},
                {"lba", Fault.Lba},
                {"sense", std::string(senseText)}};
  if (Fault.Opcode) json["opcode"] = *Fault.Opcode;
  return json;
}

std::optional<TFault> FaultFromJson(const TJson& Json) {
  auto type = FaultTypeByName(StringOf(MemberOf(Json, "type")));
  auto senseValue = ParseSense(StringOf(MemberOf(Json, "sense"), "2/04/01"));
  if (!type || !senseValue) return std::nullopt;
  TFault fault;
  fault.Type = *type;
  fault.Count = Count32(MemberOf(Json, "count"));
  fault.Lba = Count32(MemberOf(Json, "lba"));
  fault.Sense = *senseValue;
  const auto opcode = IntOf(MemberOf(Json, "opcode"), -1);
  if (opcode >= 0 && opcode <= 0xFF) fault.Opcode = static_cast<std::uint8_t>(opcode);
  return fault;
}

std::unique_ptr<TDrive> TStateStore::LoadDrive(int Number, std::string& Error) const {
  auto json = ReadJson(DrivePath(Number));
  if (!json || !json->is_object()) {
    Error = "cannot read " + DrivePath(Number);
    return nullptr;
  }
  auto config = ConfigFromJson(MemberOf(*json, "drive"), Error);
  if (!config) return nullptr;
  auto drive = std::make_unique<TDrive>(*config, Dir);
  if (!ReloadDrive(Number, *drive, Error)) return nullptr;
  if (!LoadFaults(Number, *drive)) std::fprintf(stderr, "velmor-emulator: ignoring damaged %s\n", FaultsPath(Number).c_str());
  return drive;
}

bool TStateStore::ReloadDrive(int Number, TDrive& Drive, std::string& Error) const {
  auto json = ReadJson(DrivePath(Number));
  if (!json || !json->is_object()) {
    Error = "cannot read " + DrivePath(Number);
    return false;
  }
  auto config = ConfigFromJson(MemberOf(*json, "drive"), Error);
  if (!config) return false;
  Drive.MutableConfig() = *config;
  std::optional<TLoadedMedium> medium;
  if (const TJson& stored = MemberOf(*json, "medium"); !stored.is_null()) {
    medium = MediumFromJson(stored, Error);
    if (!medium) return false;
  }
  return Drive.Restore(BoolOf(MemberOf(*json, "tray_open")), std::move(medium), Error);
}

bool TStateStore::LoadFaults(int Number, TDrive& Drive) const {
  std::deque<TFault> faults;
  if (auto json = ReadJson(FaultsPath(Number))) {
    for (const auto& item : ItemsOf(MemberOf(*json, "faults"))) {
      auto fault = FaultFromJson(item);
      if (!fault) return false;
      faults.push_back(*fault);
    }
  } else if (Stamp(FaultsPath(Number)).Size >= 0) {
    return false;
  }
  Drive.Faults().Replace(std::move(faults));
  return true;
}

bool TStateStore::SaveState(int Number, const TDrive& Drive) const {
  const TJson json = {{"drive", ConfigToJson(Drive.Config())},
                      {"tray_open", Drive.TrayOpen()},
                      {"medium", Drive.Medium() ? MediumToJson(*Drive.Medium()) : TJson()}};
  return WriteFile(DrivePath(Number), DumpJson(json), true);
}

bool TStateStore::SaveFaults(int Number, const TDrive& Drive) const {
  TJson list = TJson::array();
  for (const auto& fault : Drive.Faults().Armed()) list.push_back(FaultToJson(fault));
  // Fault counters move with every command; losing the last count in a
  // crash is harmless, so they are not flushed each time.
  return WriteFile(FaultsPath(Number), DumpJson({{"faults", list}}), false);
}

bool TStateStore::CreateDrive(int Number, const TDriveConfig& Config, std::optional<TMediumKind> Medium,
                              std::string& Error) const {
  if (!Prepare(Error)) return false;
  TDrive drive(Config, Dir);
  if (Medium && !drive.InsertNew(*Medium, std::nullopt, {}, Error)) return false;
  if (!SaveState(Number, drive) || !SaveFaults(Number, drive)) {
    Error = "cannot write the state of drive " + std::to_string(Number) + " in " + Dir;
    return false;
  }
  return true;
}

}  // namespace velmor::emu
