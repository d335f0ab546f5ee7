#pragma once
// The state directory: one JSON file per drive (its description, tray and
// the medium's recorded layout), one per drive for its armed faults, and one
// sparse data file per medium. Files are replaced whole (written beside,
// then renamed), so a crash leaves either the old or the new state.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Drive.h"
#include "Json.h"

namespace velmor::emu {

// Identifies one version of a file: a replaced file has a new inode.
struct TFileStamp {
  std::uint64_t Inode = 0;
  std::int64_t ModifiedNs = 0;
  std::int64_t Size = -1;
  friend bool operator==(const TFileStamp&, const TFileStamp&) = default;
};

class TStateStore {
 public:
  explicit TStateStore(std::string Directory) : Dir(std::move(Directory)) {}

  // VELMOR_EMULATOR_DIR, else the user's data directory.
  [[nodiscard]] static std::string DefaultDirectory();

  [[nodiscard]] const std::string& Directory() const { return Dir; }
  [[nodiscard]] bool Prepare(std::string& Error) const;  // creates the directory
  [[nodiscard]] std::vector<int> DriveNumbers() const;
  [[nodiscard]] std::string DrivePath(int Number) const;
  [[nodiscard]] std::string FaultsPath(int Number) const;
  [[nodiscard]] std::string ClaimPath(int Number) const;
  // True when Path lies in the state directory itself (however it is
  // spelt), or is one of its files under another name.
  [[nodiscard]] bool Holds(const std::string& Path) const;
  [[nodiscard]] static TFileStamp Stamp(const std::string& Path);

  [[nodiscard]] std::unique_ptr<TDrive> LoadDrive(int Number, std::string& Error) const;
  [[nodiscard]] bool ReloadDrive(int Number, TDrive& Drive, std::string& Error) const;
  [[nodiscard]] bool LoadFaults(int Number, TDrive& Drive) const;
  [[nodiscard]] bool SaveState(int Number, const TDrive& Drive) const;
  [[nodiscard]] bool SaveFaults(int Number, const TDrive& Drive) const;
  // A new drive with the given description and, optionally, a new medium.
  [[nodiscard]] bool CreateDrive(int Number, const TDriveConfig& Config, std::optional<TMediumKind> Medium,
                                 std::string& Error) const;

 private:
  // Durable files are flushed to the disk before they replace the old one.
  [[nodiscard]] bool WriteFile(const std::string& Path, const std::string& Text, bool Durable) const;
  std::string Dir;
};

// Conversions between the records and their JSON form.
[[nodiscard]] TJson ConfigToJson(const TDriveConfig& Config);
[[nodiscard]] std::optional<TDriveConfig> ConfigFromJson(const TJson& Json, std::string& Error);
[[nodiscard]] TJson FaultToJson(const TFault& Fault);
[[nodiscard]] std::optional<TFault> FaultFromJson(const TJson& Json);
[[nodiscard]] std::optional<TSense> ParseSense(const std::string& Text);  // "3/0C/00"

}  // namespace velmor::emu
