#pragma once
// The user data of a medium: a sparse file of Capacity × 2048 bytes, so a
// 25 GB disc costs only the blocks written to it.
#include <cstdint>
#include <span>
#include <string>

namespace velmor::emu {

inline constexpr std::uint32_t kBlockSize = 2048;

class TBackingFile {
 public:
  TBackingFile() = default;
  ~TBackingFile();
  TBackingFile(const TBackingFile&) = delete;
  TBackingFile& operator=(const TBackingFile&) = delete;

  // Opens (creating when missing) the file at Path sized for Capacity blocks.
  [[nodiscard]] bool Open(const std::string& Path, std::uint32_t Capacity);
  void Close();
  [[nodiscard]] bool IsOpen() const { return Fd >= 0; }

  [[nodiscard]] bool Read(std::uint32_t Lba, std::span<std::uint8_t> Into) const;
  [[nodiscard]] bool Write(std::uint32_t Lba, std::span<const std::uint8_t> From);
  [[nodiscard]] bool Flush();
  // Everything reads as zeros again; the space is given back.
  [[nodiscard]] bool Clear();
  // Copies blocks [0, Blocks) to a new file at Path, keeping holes.
  [[nodiscard]] bool ExportTo(const std::string& Path, std::uint32_t Blocks) const;
  // Fills the medium from an image file; returns the blocks it filled, or -1.
  [[nodiscard]] std::int64_t ImportFrom(const std::string& Path);

 private:
  int Fd = -1;
  std::uint64_t Size = 0;
};

}  // namespace velmor::emu
