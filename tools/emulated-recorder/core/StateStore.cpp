#include "StateStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace velmor::emu {

namespace {

constexpr std::string_view kDrivePrefix = "drive-";
constexpr std::string_view kStateSuffix = ".json";
constexpr std::string_view kFaultsSuffix = ".faults.json";
constexpr std::string_view kClaimSuffix = ".lock";

const std::pair<TFamily, std::string_view> kFamilyNames[] = {
    {TFamily::Cd, "cd"}, {TFamily::Dvd, "dvd"}, {TFamily::Bd, "bd"}, {TFamily::HdDvd, "hd-dvd"}};

[[nodiscard]] bool MakeDirectories(const std::string& Path) {
  std::string partial;
  std::stringstream parts(Path);
  std::string part;
  if (!Path.empty() && Path[0] == '/') partial = "/";
  while (std::getline(parts, part, '/')) {
    if (part.empty()) continue;
    partial += part + "/";
    if (::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

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
  return TJson::Parse(*text);
}

[[nodiscard]] TJson SpeedList(const std::vector<std::uint16_t>& Speeds) {
  TJson list = TJson::Array();
  for (auto speed : Speeds) list.Push(TJson(std::int64_t{speed}));
  return list;
}

[[nodiscard]] std::vector<std::uint16_t> SpeedsFrom(const TJson& List) {
  std::vector<std::uint16_t> speeds;
  for (const auto& item : List.Items()) {
    const auto speed = item.Int(0);
    if (speed > 0 && speed <= 0xFFFF) speeds.push_back(static_cast<std::uint16_t>(speed));
  }
  std::sort(speeds.begin(), speeds.end(), std::greater<>());
  return speeds;
}

[[nodiscard]] std::uint32_t Count32(const TJson& Value) {
  const auto number = Value.Int(0);
  return number < 0 || number > 0xFFFFFFFFll ? 0 : static_cast<std::uint32_t>(number);
}

[[nodiscard]] TJson MediumToJson(const TLoadedMedium& Medium) {
  const auto stored = Medium.Committed.Store();
  TJson tracks = TJson::Array();
  for (const auto& track : stored.Tracks) {
    tracks.Push(TJson::Object()
                    .Set("number", track.Number)
                    .Set("session", track.Session)
                    .Set("start", track.Start)
                    .Set("reserved", track.Reserved)
                    .Set("recorded", track.Recorded)
                    .Set("closed", track.Closed));
  }
  return TJson::Object()
      .Set("id", Medium.Id)
      .Set("kind", std::string(Traits(stored.Kind).Name))
      .Set("profile", std::int64_t{Traits(stored.Kind).Profile})
      .Set("capacity", stored.Capacity)
      .Set("closed_sessions", stored.ClosedSessions)
      .Set("finalised", stored.Finalised)
      .Set("formatted", stored.Formatted)
      .Set("written_end", stored.WrittenEnd)
      .Set("tracks", tracks);
}

[[nodiscard]] std::optional<TLoadedMedium> MediumFromJson(const TJson& Json, std::string& Error) {
  const auto kind = MediumKindByName(Json["kind"].String());
  const std::string id = Json["id"].String();
  const bool idIsPlain = !id.empty() && id.find_first_not_of("0123456789abcdef") == std::string::npos;
  if (!kind || !idIsPlain) {
    Error = "the medium description is damaged";
    return std::nullopt;
  }
  TMediumLayout::TStored stored{*kind,
                                Count32(Json["capacity"]),
                                {},
                                Count32(Json["closed_sessions"]),
                                Json["finalised"].Bool(),
                                Count32(Json["formatted"]),
                                Count32(Json["written_end"])};
  for (const auto& item : Json["tracks"].Items()) {
    stored.Tracks.push_back({Count32(item["number"]), Count32(item["session"]), Count32(item["start"]),
                             Count32(item["reserved"]), Count32(item["recorded"]), item["closed"].Bool()});
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
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) return std::string(data) + "/velmor-emulator";
  if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/share/velmor-emulator";
  return "velmor-emulator";
}

bool TStateStore::Prepare(std::string& Error) const {
  if (MakeDirectories(Dir)) return true;
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
  struct stat directory {}, parent {}, target {};
  if (::stat(Dir.c_str(), &directory) != 0) return false;
  const std::string::size_type slash = Path.find_last_of('/');
  const std::string parentPath = slash == std::string::npos ? "." : slash == 0 ? "/" : Path.substr(0, slash);
  if (::stat(parentPath.c_str(), &parent) == 0 && parent.st_dev == directory.st_dev &&
      parent.st_ino == directory.st_ino)
    return true;
  if (::stat(Path.c_str(), &target) != 0) return false;
  bool held = false;
  DIR* dir = ::opendir(Dir.c_str());
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir)) {
    struct stat own {};
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && ::stat((Dir + "/" + name).c_str(), &own) == 0 &&
        own.st_dev == target.st_dev && own.st_ino == target.st_ino)
      held = true;
  }
  ::closedir(dir);
  return held;
}

TFileStamp TStateStore::Stamp(const std::string& Path) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0) return {};
  return {static_cast<std::uint64_t>(info.st_ino),
          static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
          static_cast<std::int64_t>(info.st_size)};
}

bool TStateStore::WriteFile(const std::string& Path, const std::string& Text, bool Durable) const {
  const std::string fresh = Path + ".new." + std::to_string(::getpid());
  const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  bool ok = true;
  while (ok && done < Text.size()) {
    const ssize_t put = ::write(fd, Text.data() + done, Text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    ok = put > 0;
    if (ok) done += static_cast<std::size_t>(put);
  }
  if (Durable) ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (ok) ok = std::rename(fresh.c_str(), Path.c_str()) == 0;
  if (!ok) std::remove(fresh.c_str());
  return ok;
}

TJson ConfigToJson(const TDriveConfig& Config) {
  TJson writes = TJson::Array();
  for (auto kind : Config.Writes) writes.Push(std::string(Traits(kind).Name));
  TJson speeds = TJson::Object();
  for (const auto& [family, name] : kFamilyNames) {
    auto found = Config.Speeds.find(family);
    if (found == Config.Speeds.end()) continue;
    speeds.Set(name, TJson::Object().Set("read", SpeedList(found->second.Read)).Set("write", SpeedList(found->second.Write)));
  }
  return TJson::Object()
      .Set("vendor", Config.Vendor)
      .Set("product", Config.Product)
      .Set("revision", Config.Revision)
      .Set("serial", Config.Serial)
      .Set("writes", writes)
      .Set("speeds", speeds)
      .Set("buffer_kib", Config.BufferKiB)
      .Set("busy_polls", Config.BusyPolls)
      .Set("loading_polls", Config.LoadingPolls)
      .Set("realtime", Config.Realtime)
      .Set("block_descriptor", Config.BlockDescriptor)
      .Set("drive_letter", Config.DriveLetter ? std::string(1, Config.DriveLetter) : std::string());
}

std::optional<TDriveConfig> ConfigFromJson(const TJson& Json, std::string& Error) {
  TDriveConfig config;
  config.Vendor = Json["vendor"].String(config.Vendor).substr(0, 8);
  config.Product = Json["product"].String(config.Product).substr(0, 16);
  config.Revision = Json["revision"].String(config.Revision).substr(0, 4);
  config.Serial = Json["serial"].String(config.Serial).substr(0, 32);
  for (const auto& item : Json["writes"].Items()) {
    auto kind = MediumKindByName(item.String());
    if (!kind || Traits(*kind).Recording == TRecording::ReadOnly) {
      Error = "unknown writable medium \"" + item.String() + "\"";
      return std::nullopt;
    }
    config.Writes.push_back(*kind);
  }
  for (const auto& [family, name] : kFamilyNames) {
    const TJson& entry = Json["speeds"][name];
    if (entry.IsNull()) continue;
    TSpeeds speeds{SpeedsFrom(entry["read"]), SpeedsFrom(entry["write"])};
    if (speeds.Read.empty() || speeds.Write.empty()) {
      Error = "the " + std::string(name) + " speed lists need at least one speed each";
      return std::nullopt;
    }
    config.Speeds[family] = speeds;
  }
  config.BufferKiB = std::clamp<std::uint32_t>(Count32(Json["buffer_kib"]), 64, 1 << 20);
  config.BusyPolls = std::min<std::uint32_t>(Count32(Json["busy_polls"]), 1000);
  config.LoadingPolls = std::min<std::uint32_t>(Count32(Json["loading_polls"]), 1000);
  config.Realtime = Json["realtime"].Bool();
  config.BlockDescriptor = Json["block_descriptor"].Bool();
  const std::string letter = Json["drive_letter"].String();
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
  TJson json = TJson::Object()
                   .Set("type", std::string(FaultTypeName(Fault.Type)))
                   .Set("count", Fault.Count)
                   .Set("lba", Fault.Lba)
                   .Set("sense", std::string(senseText));
  if (Fault.Opcode) json.Set("opcode", std::int64_t{*Fault.Opcode});
  return json;
}

std::optional<TFault> FaultFromJson(const TJson& Json) {
  auto type = FaultTypeByName(Json["type"].String());
  auto senseValue = ParseSense(Json["sense"].String("2/04/01"));
  if (!type || !senseValue) return std::nullopt;
  TFault fault;
  fault.Type = *type;
  fault.Count = Count32(Json["count"]);
  fault.Lba = Count32(Json["lba"]);
  fault.Sense = *senseValue;
  const auto opcode = Json["opcode"].Int(-1);
  if (opcode >= 0 && opcode <= 0xFF) fault.Opcode = static_cast<std::uint8_t>(opcode);
  return fault;
}

std::unique_ptr<TDrive> TStateStore::LoadDrive(int Number, std::string& Error) const {
  auto json = ReadJson(DrivePath(Number));
  if (!json || !json->IsObject()) {
    Error = "cannot read " + DrivePath(Number);
    return nullptr;
  }
  auto config = ConfigFromJson((*json)["drive"], Error);
  if (!config) return nullptr;
  auto drive = std::make_unique<TDrive>(*config, Dir);
  if (!ReloadDrive(Number, *drive, Error)) return nullptr;
  if (!LoadFaults(Number, *drive)) std::fprintf(stderr, "velmor-emulator: ignoring damaged %s\n", FaultsPath(Number).c_str());
  return drive;
}

bool TStateStore::ReloadDrive(int Number, TDrive& Drive, std::string& Error) const {
  auto json = ReadJson(DrivePath(Number));
  if (!json || !json->IsObject()) {
    Error = "cannot read " + DrivePath(Number);
    return false;
  }
  auto config = ConfigFromJson((*json)["drive"], Error);
  if (!config) return false;
  Drive.MutableConfig() = *config;
  std::optional<TLoadedMedium> medium;
  if (!(*json)["medium"].IsNull()) {
    medium = MediumFromJson((*json)["medium"], Error);
    if (!medium) return false;
  }
  return Drive.Restore((*json)["tray_open"].Bool(), std::move(medium), Error);
}

bool TStateStore::LoadFaults(int Number, TDrive& Drive) const {
  std::deque<TFault> faults;
  if (auto json = ReadJson(FaultsPath(Number))) {
    for (const auto& item : (*json)["faults"].Items()) {
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
  TJson json = TJson::Object()
                   .Set("drive", ConfigToJson(Drive.Config()))
                   .Set("tray_open", Drive.TrayOpen())
                   .Set("medium", Drive.Medium() ? MediumToJson(*Drive.Medium()) : TJson());
  return WriteFile(DrivePath(Number), json.Dump(), true);
}

bool TStateStore::SaveFaults(int Number, const TDrive& Drive) const {
  TJson list = TJson::Array();
  for (const auto& fault : Drive.Faults().Armed()) list.Push(FaultToJson(fault));
  // Fault counters move with every command; losing the last count in a
  // crash is harmless, so they are not flushed each time.
  return WriteFile(FaultsPath(Number), TJson::Object().Set("faults", list).Dump(), false);
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
