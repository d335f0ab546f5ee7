#pragma once
// Plain file access for the write pipeline: source files read in large
// sequential pieces, and the image file written the same way. Every result is
// checked; a short read or write is reported, never hidden.
#include <cstdint>
#include <string>

namespace kilnor {

class TFile {
 public:
  TFile() = default;
  ~TFile();
  TFile(TFile&& other) noexcept;
  TFile& operator=(TFile&& other) noexcept;
  TFile(const TFile&) = delete;
  TFile& operator=(const TFile&) = delete;

  // Opens an existing file for sequential reading; Path is in the file
  // system's bytes (UTF-8 here).
  [[nodiscard]] static TFile OpenForReading(const std::string& Path);
  // Creates the file, or truncates the one that exists.
  [[nodiscard]] static TFile Create(const std::string& Path);

  [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
  // Size of a regular file; -1 when it cannot be told.
  [[nodiscard]] std::int64_t Size() const;
  [[nodiscard]] bool IsRegular() const;
  // Asks for a larger read-ahead; worth a call only for large files.
  void AdviseSequential();

  // Reads until Bytes have arrived or the file ends; the count read, -1 on an
  // I/O error.
  [[nodiscard]] std::int64_t ReadUpTo(void* Buffer, std::size_t Bytes);
  // Writes all Bytes; false on any error (disk full included).
  [[nodiscard]] bool WriteAll(const void* Buffer, std::size_t Bytes);
  // Closes the file; false when the system reports that data was lost.
  [[nodiscard]] bool Close();

 private:
  explicit TFile(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Removes a file; used for an image that must not be left looking complete.
void RemoveFile(const std::string& Path);

}  // namespace kilnor
