#pragma once
// The user data of a medium: a sparse file of Capacity × 2048 bytes, so a
// 25 GB disc costs only the blocks written to it.
#include <cstdint>
#include <optional>
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
  TBackingFile(TBackingFile&& Other) noexcept;
  TBackingFile& operator=(TBackingFile&& Other) noexcept;

  // Opens (creating when missing) the file at Path sized for Capacity blocks.
  [[nodiscard]] bool Open(const std::string& Path, std::uint32_t Capacity);
  // Opens the existing file of a medium that has Recorded blocks on it and
  // sizes it for Capacity blocks. A missing file, or one too short to hold
  // what was recorded, is refused with the reason in Error: the medium's
  // data is gone, and must not read back as zeros.
  [[nodiscard]] bool OpenRecorded(const std::string& Path, std::uint32_t Capacity,
                                  std::uint32_t Recorded, std::string& Error);
  void Close();
  [[nodiscard]] bool IsOpen() const { return Fd >= 0; }

  [[nodiscard]] bool Read(std::uint32_t Lba, std::span<std::uint8_t> Into) const;
  [[nodiscard]] bool Write(std::uint32_t Lba, std::span<const std::uint8_t> From);
  [[nodiscard]] bool Flush();
  // Everything reads as zeros again; the space is given back.
  [[nodiscard]] bool Clear();
  // Copies blocks [0, Blocks) to a new file at Path, keeping holes.
  [[nodiscard]] bool ExportTo(const std::string& Path, std::uint32_t Blocks) const;
  // Fills the medium from an image file; the blocks it filled, or nothing
  // (with the reason in Error) when the image cannot be read or is larger
  // than the medium.
  [[nodiscard]] std::optional<std::uint32_t> ImportFrom(const std::string& Path, std::string& Error);

 private:
  [[nodiscard]] bool Resize(std::uint32_t Capacity);

  int Fd = -1;
  std::uint64_t Size = 0;
};

}  // namespace velmor::emu
