#include "engine/image/PosixSource.h"

#include "engine/platform/FileSearch.h"
#include "engine/platform/Unicode.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <vector>
#endif

namespace kilnor {

#ifndef _WIN32

namespace {

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

[[nodiscard]] TPosixAttributesPtr AttributesOfStatus(const TItemStatus& status, std::u16string_view path) {
  TPosixAttributes attributes;
  static_cast<TPosixStatus&>(attributes) = status;
  if (S_ISLNK(status.Mode)) {
    std::string& target = attributes.Names.edit().LinkTarget;
    if (!ReadLinkTarget(Utf16ToUtf8(path), static_cast<std::size_t>(status.Size), target)) return nullptr;
  }
  return TPosixAttributesPtr(std::move(attributes));
}

}  // namespace

TPosixAttributesPtr ReadPosixAttributes(std::u16string_view path, bool followLinks) {
  const std::string source = Utf16ToUtf8(path);
  struct stat status {};
  if ((followLinks ? stat(source.c_str(), &status) : lstat(source.c_str(), &status)) != 0) return nullptr;
  return AttributesOfStatus(StatusOf(status), path);
}

TPosixAttributesPtr PosixAttributesOf(const TItemStatus* known, std::u16string_view path, bool followLinks) {
  if (known == nullptr || (followLinks && S_ISLNK(known->Mode))) return ReadPosixAttributes(path, followLinks);
  return AttributesOfStatus(*known, path);
}

#else

TPosixAttributesPtr ReadPosixAttributes(std::u16string_view, bool) { return nullptr; }
TPosixAttributesPtr PosixAttributesOf(const TItemStatus*, std::u16string_view, bool) { return nullptr; }

#endif

}  // namespace kilnor
