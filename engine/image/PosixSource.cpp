#include "engine/image/PosixSource.h"

#include "engine/platform/Unicode.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <vector>
#endif

namespace kilnor {

#ifndef _WIN32

namespace {

TPosixTime PosixTimeOf(const struct timespec& time) {
  return {static_cast<std::int64_t>(time.tv_sec), static_cast<std::uint32_t>(time.tv_nsec)};
}

// The target exactly as the link stores it; a target that grows while it is
// read is read again with room for it.
[[nodiscard]] bool ReadLinkTarget(const std::string& path, std::size_t sizeHint, std::string& target) {
  std::vector<char> buffer(sizeHint + 1);
  for (;;) {
    const ssize_t length = readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return false;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      target.assign(buffer.data(), static_cast<std::size_t>(length));
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

TPosixAttributesPtr ReadPosixAttributes(std::u16string_view path, bool followLinks) {
  const std::string source = Utf16ToUtf8(path);
  struct stat status {};
  if ((followLinks ? stat(source.c_str(), &status) : lstat(source.c_str(), &status)) != 0) return nullptr;
  auto attributes = std::make_shared<TPosixAttributes>();
  attributes->Mode = static_cast<std::uint32_t>(status.st_mode);
  attributes->Links = static_cast<std::uint32_t>(status.st_nlink);
  attributes->Uid = static_cast<std::uint32_t>(status.st_uid);
  attributes->Gid = static_cast<std::uint32_t>(status.st_gid);
  attributes->SerialNumber = static_cast<std::uint64_t>(status.st_ino);
  attributes->Modify = PosixTimeOf(status.st_mtim);
  attributes->Access = PosixTimeOf(status.st_atim);
  attributes->Change = PosixTimeOf(status.st_ctim);
  if (S_ISLNK(status.st_mode) &&
      !ReadLinkTarget(source, static_cast<std::size_t>(status.st_size), attributes->Names.edit().LinkTarget)) {
    return nullptr;
  }
  return attributes;
}

#else

TPosixAttributesPtr ReadPosixAttributes(std::u16string_view, bool) { return nullptr; }

#endif

}  // namespace kilnor
