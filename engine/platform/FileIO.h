#pragma once
// Plain file access: source files read in large sequential pieces, and
// output files written the same way. Every result is
// checked; a short read or write is reported, never hidden, and the system's
// reason for a failure is kept for the message a person reads.
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
  // Creates the file only when nothing of that name exists.
  [[nodiscard]] static TFile CreateNew(const std::string& Path);

  [[nodiscard]] bool IsOpen() const { return fd_ >= 0; }
  // Size of a regular file; -1 when it cannot be told.
  [[nodiscard]] std::int64_t Size() const;
  [[nodiscard]] bool IsRegular() const;
  // Asks for a larger read-ahead; worth a call only for large files.
  void AdviseSequential();
  // Starts writing Bytes from Offset to the medium without waiting for it.
  void StartWriteBack(std::uint64_t Offset, std::uint64_t Bytes);

  // Reads until Bytes have arrived or the file ends; the count read, -1 on an
  // I/O error.
  [[nodiscard]] std::int64_t ReadUpTo(void* Buffer, std::size_t Bytes);
  // One read of up to Bytes: the count read, -1 on an I/O error. A regular
  // file returns less than asked only at its end, so asking for one byte
  // more than expected reads a whole file and tells whether it ends there.
  [[nodiscard]] std::int64_t ReadOnce(void* Buffer, std::size_t Bytes);
  // Writes all Bytes; false on any error (disk full included).
  [[nodiscard]] bool WriteAll(const void* Buffer, std::size_t Bytes);
  // Writes what the system still holds for the file to the medium.
  [[nodiscard]] bool Flush();
  // Closes the file; false when the system reports that data was lost.
  [[nodiscard]] bool Close();

  // The system's error number of the last failure and its text ("No space
  // left on device"); 0 and empty when nothing failed.
  [[nodiscard]] int FailureError() const { return error_; }
  [[nodiscard]] std::string FailureCause() const;

 private:
  friend class TOutputFile;
  friend class TSourceFolder;
  explicit TFile(int fd);
  // Keeps errno as the reason of a failure; always false.
  [[nodiscard]] bool Failed();
  int fd_ = -1;
  int error_ = 0;
};

// A file that appears under its name only when complete. A regular file (or
// a name not yet taken) is written to a temporary file beside the target and
// renamed over it by Commit; until then, and after any failure, whatever
// stood at the target stays as it was. Anything else at the target (a
// device, a FIFO) cannot be replaced by a rename and is written directly.
class TOutputFile {
 public:
  TOutputFile() = default;
  ~TOutputFile();
  TOutputFile(TOutputFile&& other) noexcept;
  TOutputFile& operator=(TOutputFile&& other) noexcept;
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Opens the output for Target; check IsOpen, and FailureCause when not.
  [[nodiscard]] static TOutputFile Open(const std::string& Target);

  [[nodiscard]] bool IsOpen() const { return file_.IsOpen(); }
  // Writes all Bytes; a temporary file's data is handed to the medium as it
  // grows, so that Commit waits only for the last piece.
  [[nodiscard]] bool WriteAll(const void* Buffer, std::size_t Bytes);
  // Flushes, closes and puts the file in place of the target. False when any
  // step fails; the temporary file is gone then and the target untouched.
  [[nodiscard]] bool Commit();
  // Closes and removes the temporary file; the target stays as it was.
  void Discard();

  [[nodiscard]] std::string FailureCause() const { return openCause_.empty() ? file_.FailureCause() : openCause_; }
  // Where the bytes go until Commit: the temporary file, or the target itself.
  [[nodiscard]] const std::string& WritingPath() const { return writing_; }

 private:
  std::string target_;
  std::string writing_;
  TFile file_;
  std::string openCause_;  // why Open failed, when the system's text would mislead
  std::uint64_t written_ = 0;  // bytes written so far
  std::uint64_t handedOn_ = 0;  // bytes whose way to the medium has begun
};

// Opens source files for reading relative to their folder: files met in
// address order mostly share one folder, which is opened once, so a file
// costs one open, and with ReadOnce one read, and a close.
class TSourceFolder {
 public:
  TSourceFolder() = default;
  ~TSourceFolder();
  TSourceFolder(const TSourceFolder&) = delete;
  TSourceFolder& operator=(const TSourceFolder&) = delete;

  // Opens the file at Path (the file system's bytes) for reading; check
  // IsOpen, and FailureCause when not.
  [[nodiscard]] TFile Open(const std::string& Path);

 private:
  std::string folder_;  // the folder held open, with its final separator
  int fd_ = -1;
};

// Size of the regular file at Path; -1 when there is none.
[[nodiscard]] std::int64_t FileSizeAt(const std::string& Path);
// Whether both paths reach one file (same device and file number).
[[nodiscard]] bool IsSameFile(const std::string& A, const std::string& B);

// The system's text for an error number, in the form the file messages use.
[[nodiscard]] std::string SystemErrorText(int Error);

}  // namespace kilnor
