#include "SystemFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace velmor::emu::sys {

#ifdef _WIN32

namespace {

// Larger pieces go through in steps; the system counts in 32 bits.
constexpr std::size_t kMaxStep = std::size_t{1} << 30;

[[nodiscard]] std::wstring Wide(const std::string& Path) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, Path.data(), static_cast<int>(Path.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Path.data(), static_cast<int>(Path.size()), wide.data(), length);
  return wide;
}

[[nodiscard]] HANDLE HandleOf(int Fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(Fd)); }

[[nodiscard]] OVERLAPPED At(std::uint64_t Offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(Offset);
  position.OffsetHigh = static_cast<DWORD>(Offset >> 32);
  return position;
}

[[nodiscard]] bool InformationOf(HANDLE Handle, BY_HANDLE_FILE_INFORMATION& Information) {
  return Handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(Handle, &Information) != 0;
}

[[nodiscard]] bool InformationAt(const std::string& Path, BY_HANDLE_FILE_INFORMATION& Information) {
  // Folders open only with backup semantics; nothing is read or changed.
  const HANDLE handle = CreateFileW(Wide(Path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool known = InformationOf(handle, Information);
  if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  return known;
}

[[nodiscard]] bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& A, const BY_HANDLE_FILE_INFORMATION& B) {
  return A.dwVolumeSerialNumber == B.dwVolumeSerialNumber && A.nFileIndexHigh == B.nFileIndexHigh &&
         A.nFileIndexLow == B.nFileIndexLow;
}

}  // namespace

int OpenFile(const std::string& Path, TOpen Mode) {
  int flags = _O_BINARY | _O_NOINHERIT;
  switch (Mode) {
    case TOpen::Read: flags |= _O_RDONLY; break;
    case TOpen::ReadWrite: flags |= _O_RDWR; break;
    case TOpen::ReadWriteCreate: flags |= _O_RDWR | _O_CREAT; break;
    case TOpen::WriteTruncate: flags |= _O_WRONLY | _O_CREAT | _O_TRUNC; break;
  }
  return _wopen(Wide(Path).c_str(), flags, _S_IREAD | _S_IWRITE);
}

int CloseFile(int Fd) { return _close(Fd); }

long long ReadAt(int Fd, void* Into, std::size_t Length, std::uint64_t Offset) {
  OVERLAPPED position = At(Offset);
  DWORD got = 0;
  if (ReadFile(HandleOf(Fd), Into, static_cast<DWORD>(std::min(Length, kMaxStep)), &got, &position)) return got;
  if (GetLastError() == ERROR_HANDLE_EOF) return 0;
  errno = EIO;
  return -1;
}

long long WriteAt(int Fd, const void* From, std::size_t Length, std::uint64_t Offset) {
  OVERLAPPED position = At(Offset);
  DWORD put = 0;
  if (WriteFile(HandleOf(Fd), From, static_cast<DWORD>(std::min(Length, kMaxStep)), &put, &position)) return put;
  errno = GetLastError() == ERROR_DISK_FULL ? ENOSPC : EIO;
  return -1;
}

long long ReadNext(int Fd, void* Into, std::size_t Length) {
  return _read(Fd, Into, static_cast<unsigned>(std::min(Length, kMaxStep)));
}

std::int64_t SizeOf(int Fd) { return _filelengthi64(Fd); }

bool Resize(int Fd, std::uint64_t Size) {
  // A sparse file costs only the blocks written to it, and growing it
  // writes no zeros (the C library's _chsize would).
  const HANDLE handle = HandleOf(Fd);
  DWORD returned = 0;
  DeviceIoControl(handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(Size);
  return SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
}

bool SyncData(int Fd) { return FlushFileBuffers(HandleOf(Fd)) != 0; }

bool Sync(int Fd) { return FlushFileBuffers(HandleOf(Fd)) != 0; }

TExtent NextDataExtent(int, std::uint64_t At, std::uint64_t Length) {
  return At < Length ? TExtent{At, Length} : TExtent{At, At};
}

bool RenameOver(const std::string& From, const std::string& To) {
  return MoveFileExW(Wide(From).c_str(), Wide(To).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveFile(const std::string& Path) { _wremove(Wide(Path).c_str()); }

bool MakeFolders(const std::string& Path) {
  std::error_code error;
  const std::filesystem::path folder(Wide(Path));
  std::filesystem::create_directories(folder, error);
  return std::filesystem::is_directory(folder, error);
}

bool TryLock(int Fd) {
  OVERLAPPED whole{};
  if (LockFileEx(HandleOf(Fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole))
    return true;
  errno = GetLastError() == ERROR_LOCK_VIOLATION ? EWOULDBLOCK : EIO;
  return false;
}

void Unlock(int Fd) {
  OVERLAPPED whole{};
  UnlockFileEx(HandleOf(Fd), 0, MAXDWORD, MAXDWORD, &whole);
}

// A folder cannot be opened as a file here: its lock lives in a file inside.
int OpenFolderLock(const std::string& Folder) { return OpenFile(Folder + "/.lock", TOpen::ReadWriteCreate); }

bool SameFile(int Fd, const std::string& Path) {
  BY_HANDLE_FILE_INFORMATION open{}, named{};
  return InformationOf(HandleOf(Fd), open) && InformationAt(Path, named) && SameIdentity(open, named);
}

bool SameFile(const std::string& A, const std::string& B) {
  BY_HANDLE_FILE_INFORMATION first{}, second{};
  return InformationAt(A, first) && InformationAt(B, second) && SameIdentity(first, second);
}

bool Identify(const std::string& Path, TFileIdentity& Identity) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (!InformationAt(Path, information)) return false;
  // File times count 100 ns steps from 1601.
  constexpr std::int64_t kUnixEpochTicks = 116444736000000000;
  const auto ticks = static_cast<std::int64_t>(std::uint64_t{information.ftLastWriteTime.dwHighDateTime} << 32 |
                                               information.ftLastWriteTime.dwLowDateTime);
  Identity = {std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow,
              (ticks - kUnixEpochTicks) * 100,
              static_cast<std::int64_t>(std::uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow)};
  return true;
}

int ProcessId() { return static_cast<int>(GetCurrentProcessId()); }

#else

namespace {

[[nodiscard]] int Flags(TOpen Mode) {
  switch (Mode) {
    case TOpen::Read: return O_RDONLY | O_CLOEXEC;
    case TOpen::ReadWrite: return O_RDWR | O_CLOEXEC;
    case TOpen::ReadWriteCreate: return O_RDWR | O_CREAT | O_CLOEXEC;
    case TOpen::WriteTruncate: break;
  }
  return O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
}

[[nodiscard]] bool SameIdentity(const struct stat& A, const struct stat& B) {
  return A.st_dev == B.st_dev && A.st_ino == B.st_ino;
}

}  // namespace

int OpenFile(const std::string& Path, TOpen Mode) { return ::open(Path.c_str(), Flags(Mode), 0644); }

int CloseFile(int Fd) { return ::close(Fd); }

long long ReadAt(int Fd, void* Into, std::size_t Length, std::uint64_t Offset) {
  return ::pread(Fd, Into, Length, static_cast<off_t>(Offset));
}

long long WriteAt(int Fd, const void* From, std::size_t Length, std::uint64_t Offset) {
  return ::pwrite(Fd, From, Length, static_cast<off_t>(Offset));
}

long long ReadNext(int Fd, void* Into, std::size_t Length) { return ::read(Fd, Into, Length); }

std::int64_t SizeOf(int Fd) {
  struct stat info {};
  return ::fstat(Fd, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

bool Resize(int Fd, std::uint64_t Size) { return ::ftruncate(Fd, static_cast<off_t>(Size)) == 0; }

bool SyncData(int Fd) { return ::fdatasync(Fd) == 0; }

bool Sync(int Fd) { return ::fsync(Fd) == 0; }

TExtent NextDataExtent(int Fd, std::uint64_t At, std::uint64_t Length) {
  const off_t data = ::lseek(Fd, static_cast<off_t>(At), SEEK_DATA);
  if (data < 0 || static_cast<std::uint64_t>(data) >= Length) return {At, At};
  const off_t hole = ::lseek(Fd, data, SEEK_HOLE);
  const std::uint64_t end = hole < 0 ? Length : std::min(static_cast<std::uint64_t>(hole), Length);
  return {static_cast<std::uint64_t>(data), end};
}

bool RenameOver(const std::string& From, const std::string& To) {
  return std::rename(From.c_str(), To.c_str()) == 0;
}

void RemoveFile(const std::string& Path) { std::remove(Path.c_str()); }

bool MakeFolders(const std::string& Path) {
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

bool TryLock(int Fd) { return ::flock(Fd, LOCK_EX | LOCK_NB) == 0; }

void Unlock(int Fd) { ::flock(Fd, LOCK_UN); }

int OpenFolderLock(const std::string& Folder) { return ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

bool SameFile(int Fd, const std::string& Path) {
  struct stat open {}, named {};
  return ::fstat(Fd, &open) == 0 && ::stat(Path.c_str(), &named) == 0 && SameIdentity(open, named);
}

bool SameFile(const std::string& A, const std::string& B) {
  struct stat first {}, second {};
  return ::stat(A.c_str(), &first) == 0 && ::stat(B.c_str(), &second) == 0 && SameIdentity(first, second);
}

bool Identify(const std::string& Path, TFileIdentity& Identity) {
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0) return false;
  Identity = {static_cast<std::uint64_t>(info.st_ino),
              static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec,
              static_cast<std::int64_t>(info.st_size)};
  return true;
}

int ProcessId() { return static_cast<int>(::getpid()); }

#endif

}  // namespace velmor::emu::sys
