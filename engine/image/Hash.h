#pragma once
// TMD5Stream: a write-only byte sink that computes the MD5 digest (RFC 1321)
// of everything written to it. Smart references and verification compare the
// digest text of a source file with that of another file or of the copy read
// back from the disc.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kilnor {

// The digest text: 32 upper-case hexadecimal characters, two per digest byte
// in the standard MD5 byte order.
inline constexpr std::size_t kDigestTextLength = 32;

class TMD5Stream {
 public:
  TMD5Stream();
  ~TMD5Stream();
  TMD5Stream(const TMD5Stream&) = delete;
  TMD5Stream& operator=(const TMD5Stream&) = delete;

  // Hashes Count bytes; returns Count. A Count of 0 hashes nothing.
  std::size_t Write(const void* Buffer, std::size_t Count);
  // The stream keeps nothing to read back.
  [[nodiscard]] std::size_t Read(void* Buffer, std::size_t Count);
  // Bytes hashed since the last Reset; the arguments are ignored.
  [[nodiscard]] std::int64_t Seek(std::int64_t Offset, int Origin) const;
  // Finishes the digest and resets the stream: a second read without new
  // writes gives the digest of the empty message.
  [[nodiscard]] std::string DigestString();
  void Reset();

 private:
  struct TContext;
  std::unique_ptr<TContext> context_;
  std::int64_t bytesHashed_ = 0;
};

}  // namespace kilnor
