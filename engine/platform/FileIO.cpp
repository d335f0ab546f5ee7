#include "engine/platform/FileIO.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>
#include <utility>

#include "engine/platform/Unicode.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace kilnor {
namespace {

// Large pieces go through in bounded steps; some platforms count in 32 bits.
constexpr std::size_t kMaxStep = std::size_t{1} << 30;

#ifdef _WIN32
constexpr int kReadFlags = _O_RDONLY | _O_BINARY;
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY;
constexpr int kCreateNewFlags = _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY;

int OpenPath(const std::string& path, int flags) {
  const std::u16string wide = Utf8ToUtf16(path);
  return ::_wopen(reinterpret_cast<const wchar_t*>(wide.c_str()), flags, _S_IREAD | _S_IWRITE);
}
bool StatOf(int fd, std::int64_t& size, bool& regular) {
  struct _stat64 st {};
  if (::_fstat64(fd, &st) != 0) return false;
  size = st.st_size;
  regular = (st.st_mode & _S_IFMT) == _S_IFREG;
  return true;
}
long long ReadSome(int fd, void* buffer, std::size_t bytes) { return ::_read(fd, buffer, static_cast<unsigned>(bytes)); }
long long WriteSome(int fd, const void* buffer, std::size_t bytes) {
  return ::_write(fd, buffer, static_cast<unsigned>(bytes));
}
int CloseFd(int fd) { return ::_close(fd); }
int FlushFd(int fd) { return ::_commit(fd); }
bool RenameOver(const std::string& from, const std::string& to) {
  const std::u16string wideFrom = Utf8ToUtf16(from);
  const std::u16string wideTo = Utf8ToUtf16(to);
  if (::MoveFileExW(reinterpret_cast<const wchar_t*>(wideFrom.c_str()), reinterpret_cast<const wchar_t*>(wideTo.c_str()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  errno = ::GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
}
void FlushFolderOf(const std::string&) {}
#else
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC;
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
constexpr int kCreateNewFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC;

int OpenPath(const std::string& path, int flags) { return ::open(path.c_str(), flags, 0666); }
bool StatOf(int fd, std::int64_t& size, bool& regular) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  size = st.st_size;
  regular = S_ISREG(st.st_mode);
  return true;
}
long long ReadSome(int fd, void* buffer, std::size_t bytes) { return ::read(fd, buffer, bytes); }
long long WriteSome(int fd, const void* buffer, std::size_t bytes) { return ::write(fd, buffer, bytes); }
int CloseFd(int fd) { return ::close(fd); }
int FlushFd(int fd) { return ::fsync(fd); }
bool RenameOver(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }
// The rename itself lasts only once the folder that holds it is on the medium.
void FlushFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  (void)::fsync(fd);
  ::close(fd);
}
#endif

// Outputs replaced by a rename: a regular file, or nothing yet.
bool ReplacedByRename(const std::string& target) {
  std::error_code error;
  const auto status = std::filesystem::status(std::filesystem::path(Utf8ToUtf16(target)), error);
  return !std::filesystem::exists(status) || std::filesystem::is_regular_file(status);
}

// The file a link at the target leads to: the image replaces that file, as
// writing through the link would, and the link stays.
std::string WithoutLink(const std::string& target) {
  std::error_code error;
  const std::filesystem::path path(Utf8ToUtf16(target));
  if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, error))) return target;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
  return error ? target : Utf16ToUtf8(resolved.u16string());
}

#ifdef _WIN32
constexpr char kSeparators[] = "\\/:";
#else
constexpr char kSeparators[] = "/";
#endif
// Room kept in a temporary name for the target's own name: enough to tell
// whose it is, short enough that the name stays within the system's limit.
constexpr std::size_t kKeptNameBytes = 120;

// A name beside the target that no other writer picks: the target's name, a
// counter and a random part; the file is created only if it is new.
std::string TemporaryNameFor(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937 random{std::random_device{}()};
  const std::size_t slash = target.find_last_of(kSeparators);
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  const std::string_view name = std::string_view(target).substr(nameStart);
  return target.substr(0, nameStart) + ".~" + std::string(name.substr(0, Utf8PrefixLength(name, kKeptNameBytes))) +
         "." + std::to_string(counter++) + "-" + std::to_string(random()) + ".part";
}

}  // namespace

TFile::TFile(int fd) : fd_(fd), error_(fd < 0 ? errno : 0) {}

bool TFile::Failed() {
  error_ = errno;
  return false;
}

std::string TFile::FailureCause() const { return error_ != 0 ? SystemErrorText(error_) : std::string(); }

TFile::~TFile() {
  if (fd_ >= 0) CloseFd(fd_);
}

TFile::TFile(TFile&& other) noexcept : fd_(std::exchange(other.fd_, -1)), error_(other.error_) {}

TFile& TFile::operator=(TFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) CloseFd(fd_);
    fd_ = std::exchange(other.fd_, -1);
    error_ = other.error_;
  }
  return *this;
}

TFile TFile::OpenForReading(const std::string& Path) { return TFile(OpenPath(Path, kReadFlags)); }

TFile TFile::Create(const std::string& Path) { return TFile(OpenPath(Path, kCreateFlags)); }

TFile TFile::CreateNew(const std::string& Path) { return TFile(OpenPath(Path, kCreateNewFlags)); }

void TFile::AdviseSequential() {
#if !defined(_WIN32) && defined(POSIX_FADV_SEQUENTIAL)
  if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

void TFile::StartWriteBack(std::uint64_t Offset, std::uint64_t Bytes) {
#ifdef __linux__
  if (fd_ >= 0) (void)::sync_file_range(fd_, static_cast<off_t>(Offset), static_cast<off_t>(Bytes), SYNC_FILE_RANGE_WRITE);
#else
  (void)Offset;
  (void)Bytes;
#endif
}

std::int64_t TFile::Size() const {
  std::int64_t size = -1;
  bool regular = false;
  return fd_ >= 0 && StatOf(fd_, size, regular) && regular ? size : -1;
}

bool TFile::IsRegular() const {
  std::int64_t size = -1;
  bool regular = false;
  return fd_ >= 0 && StatOf(fd_, size, regular) && regular;
}

std::int64_t TFile::ReadUpTo(void* Buffer, std::size_t Bytes) {
  auto* out = static_cast<char*>(Buffer);
  std::size_t done = 0;
  while (done < Bytes) {
    const long long got = ReadSome(fd_, out + done, std::min(Bytes - done, kMaxStep));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      (void)Failed();
      return -1;
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t TFile::ReadOnce(void* Buffer, std::size_t Bytes) {
  for (;;) {
    const long long got = ReadSome(fd_, Buffer, std::min(Bytes, kMaxStep));
    if (got >= 0) return got;
    if (errno != EINTR) {
      (void)Failed();
      return -1;
    }
  }
}

bool TFile::WriteAll(const void* Buffer, std::size_t Bytes) {
  const auto* in = static_cast<const char*>(Buffer);
  while (Bytes > 0) {
    const long long put = WriteSome(fd_, in, std::min(Bytes, kMaxStep));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return Failed();
    if (put == 0) {
      errno = ENOSPC;
      return Failed();
    }
    in += put;
    Bytes -= static_cast<std::size_t>(put);
  }
  return true;
}

bool TFile::Flush() { return fd_ >= 0 && (FlushFd(fd_) == 0 || Failed()); }

bool TFile::Close() {
  if (fd_ < 0) return true;
  return CloseFd(std::exchange(fd_, -1)) == 0 || Failed();
}

namespace {

void RemoveFile(const std::string& Path) {
#ifdef _WIN32
  const std::u16string wide = Utf8ToUtf16(Path);
  ::_wremove(reinterpret_cast<const wchar_t*>(wide.c_str()));
#else
  std::remove(Path.c_str());
#endif
}

// A new temporary file beside Target; a name taken meanwhile is passed over.
TFile CreateTemporaryFor(const std::string& Target, std::string& Path) {
  for (;;) {
    Path = TemporaryNameFor(Target);
    TFile file = TFile::CreateNew(Path);
    if (file.IsOpen() || file.FailureError() != EEXIST) return file;
  }
}

}  // namespace

// ---- TOutputFile ----------------------------------------------------------------

// Pieces a temporary file hands to the medium while it is written: the
// flush before the rename then waits for one piece, not the whole image.
constexpr std::uint64_t kWriteBackBytes = std::uint64_t{32} << 20;

TOutputFile TOutputFile::Open(const std::string& Target) {
  TOutputFile output;
  output.target_ = WithoutLink(Target);
  if (ReplacedByRename(output.target_)) {
    output.file_ = CreateTemporaryFor(output.target_, output.writing_);
  } else {
    output.writing_ = output.target_;
    output.file_ = TFile::Create(output.target_);
  }
  // The target itself need not exist: only a missing folder makes the name unreachable.
  if (!output.IsOpen() && output.file_.FailureError() == ENOENT) output.openCause_ = "the folder it goes in does not exist";
  return output;
}

TOutputFile::~TOutputFile() { Discard(); }

TOutputFile::TOutputFile(TOutputFile&& other) noexcept
    : target_(std::move(other.target_)),
      writing_(std::exchange(other.writing_, {})),
      file_(std::move(other.file_)),
      openCause_(std::move(other.openCause_)),
      written_(other.written_),
      handedOn_(other.handedOn_) {}

TOutputFile& TOutputFile::operator=(TOutputFile&& other) noexcept {
  if (this != &other) {
    Discard();
    target_ = std::move(other.target_);
    writing_ = std::exchange(other.writing_, {});
    file_ = std::move(other.file_);
    openCause_ = std::move(other.openCause_);
    written_ = other.written_;
    handedOn_ = other.handedOn_;
  }
  return *this;
}

bool TOutputFile::WriteAll(const void* Buffer, std::size_t Bytes) {
  if (!file_.WriteAll(Buffer, Bytes)) return false;
  written_ += Bytes;
  if (writing_ != target_ && written_ - handedOn_ >= kWriteBackBytes) {
    file_.StartWriteBack(handedOn_, written_ - handedOn_);
    handedOn_ = written_;
  }
  return true;
}

bool TOutputFile::Commit() {
  const bool temporary = writing_ != target_;
  const bool stored = (!temporary || file_.Flush()) && file_.Close();
  if (stored && (!temporary || RenameOver(writing_, target_) || file_.Failed())) {
    if (temporary) FlushFolderOf(target_);
    writing_.clear();
    return true;
  }
  Discard();
  return false;
}

void TOutputFile::Discard() {
  (void)file_.Close();
  if (!writing_.empty() && writing_ != target_) RemoveFile(writing_);
  writing_.clear();
}

// ---- TSourceFolder ----------------------------------------------------------------

#ifdef O_PATH
// A folder held only to open files in it needs no right to list it.
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#elif !defined(_WIN32)
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

TSourceFolder::~TSourceFolder() {
  if (fd_ >= 0) CloseFd(fd_);
}

#ifdef _WIN32
TFile TSourceFolder::Open(const std::string& Path) { return TFile::OpenForReading(Path); }
#else
TFile TSourceFolder::Open(const std::string& Path) {
  const std::size_t slash = Path.rfind('/');
  if (slash == std::string::npos) return TFile::OpenForReading(Path);
  const std::string_view folder = std::string_view(Path).substr(0, slash + 1);
  if (fd_ < 0 || folder != folder_) {
    if (fd_ >= 0) CloseFd(std::exchange(fd_, -1));
    folder_ = folder;
    fd_ = ::open(folder_.c_str(), kFolderFlags);
    // A folder that cannot be held open may still let its files be opened by full path.
    if (fd_ < 0) return TFile::OpenForReading(Path);
  }
  return TFile(::openat(fd_, Path.c_str() + slash + 1, kReadFlags));
}
#endif

std::int64_t FileSizeAt(const std::string& Path) {
  std::error_code error;
  const std::filesystem::path path(Utf8ToUtf16(Path));
  if (!std::filesystem::is_regular_file(path, error)) return -1;
  const auto size = std::filesystem::file_size(path, error);
  return error ? -1 : static_cast<std::int64_t>(size);
}

bool IsSameFile(const std::string& A, const std::string& B) {
  std::error_code error;
  return std::filesystem::equivalent(std::filesystem::path(Utf8ToUtf16(A)), std::filesystem::path(Utf8ToUtf16(B)),
                                     error);
}

std::string SystemErrorText(int Error) { return std::generic_category().message(Error); }

}  // namespace kilnor
