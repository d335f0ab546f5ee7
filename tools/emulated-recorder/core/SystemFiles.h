#pragma once
// The few file calls of the state directory and the backing files that
// differ between systems: positioned reads and writes, sizing, syncing,
// replacing by rename, locks, and telling whether two names reach one file.
// Paths are UTF-8; descriptors are the C library's.
#include <cstdint>
#include <string>

namespace velmor::emu::sys {

enum class TOpen : std::uint8_t { Read, ReadWrite, ReadWriteCreate, WriteTruncate };

// A descriptor not inherited by child processes, in binary mode; -1 (errno
// set) on failure.
[[nodiscard]] int OpenFile(const std::string& Path, TOpen Mode);
int CloseFile(int Fd);
// One read or write at Offset, the descriptor's position untouched: the
// count moved, -1 (errno set) on failure.
[[nodiscard]] long long ReadAt(int Fd, void* Into, std::size_t Length, std::uint64_t Offset);
[[nodiscard]] long long WriteAt(int Fd, const void* From, std::size_t Length, std::uint64_t Offset);
// The next bytes from the descriptor's position on, for images read once
// from start to end: the count read, 0 at the end, -1 (errno set) on failure.
[[nodiscard]] long long ReadNext(int Fd, void* Into, std::size_t Length);
[[nodiscard]] std::int64_t SizeOf(int Fd);
[[nodiscard]] bool Resize(int Fd, std::uint64_t Size);
// Data only, or data and the file's attributes too.
[[nodiscard]] bool SyncData(int Fd);
[[nodiscard]] bool Sync(int Fd);
// The next stretch [Start, End) at or after At and before Length that holds
// data; End == Start when none is left. Without hole information the whole
// rest counts as data.
struct TExtent {
  std::uint64_t Start = 0;
  std::uint64_t End = 0;
};
[[nodiscard]] TExtent NextDataExtent(int Fd, std::uint64_t At, std::uint64_t Length);

// Puts From in the place of To, replacing what was there.
[[nodiscard]] bool RenameOver(const std::string& From, const std::string& To);
void RemoveFile(const std::string& Path);
// Creates the folder and every missing one above it; true when it exists
// afterwards.
[[nodiscard]] bool MakeFolders(const std::string& Path);

// An exclusive lock that never waits: false when another holder has it
// (errno EWOULDBLOCK) or the call failed.
[[nodiscard]] bool TryLock(int Fd);
void Unlock(int Fd);
// The descriptor a folder's lock is taken on: the folder itself where the
// system allows, else a lock file inside it.
[[nodiscard]] int OpenFolderLock(const std::string& Folder);

// Whether the open file and the name, or the two names, reach one file.
[[nodiscard]] bool SameFile(int Fd, const std::string& Path);
[[nodiscard]] bool SameFile(const std::string& A, const std::string& B);

// What tells a changed file: identity, modification time and size.
struct TFileIdentity {
  std::uint64_t Id = 0;
  std::int64_t ModifiedNs = 0;
  std::int64_t Size = -1;
};
[[nodiscard]] bool Identify(const std::string& Path, TFileIdentity& Identity);

[[nodiscard]] int ProcessId();

}  // namespace velmor::emu::sys
