#include "engine/image/Hash.h"

#include <openssl/evp.h>

#include <array>
#include <new>

namespace kilnor {

// OpenSSL's MD5 runs the rounds in tuned assembly, faster than a portable
// rewrite; the stream only adds the text form and the byte count.
struct TMD5Stream::TContext {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  ~TContext() { EVP_MD_CTX_free(md); }
};

TMD5Stream::TMD5Stream() : context_(std::make_unique<TContext>()) {
  if (context_->md == nullptr) throw std::bad_alloc();
  Reset();
}

TMD5Stream::~TMD5Stream() = default;

void TMD5Stream::Reset() {
  EVP_DigestInit_ex(context_->md, EVP_md5(), nullptr);
  bytesHashed_ = 0;
}

std::size_t TMD5Stream::Write(const void* Buffer, std::size_t Count) {
  if (Count == 0) return 0;
  EVP_DigestUpdate(context_->md, Buffer, Count);
  bytesHashed_ += static_cast<std::int64_t>(Count);
  return Count;
}

std::size_t TMD5Stream::Read(void*, std::size_t) { return 0; }

std::int64_t TMD5Stream::Seek(std::int64_t, int) const { return bytesHashed_; }

std::string TMD5Stream::DigestString() {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(context_->md, digest.data(), &length);
  Reset();
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(kDigestTextLength);
  for (unsigned int i = 0; i < length; ++i) {
    text.push_back(kHexDigits[digest[i] >> 4]);
    text.push_back(kHexDigits[digest[i] & 0x0F]);
  }
  return text;
}

}  // namespace kilnor
