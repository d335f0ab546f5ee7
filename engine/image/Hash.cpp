#include "engine/image/Hash.h"

#include <algorithm>
#include <array>
#include <limits>
#include <new>

#ifdef _WIN32
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace kilnor {

namespace {
constexpr std::size_t kDigestBytes = 16;
using TDigest = std::array<unsigned char, kDigestBytes>;
}  // namespace

#ifdef _WIN32

// The system's cryptography provider runs the MD5 rounds; the stream only
// adds the text form and the byte count.
struct TMD5Stream::TContext {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;

  TContext() {
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0) != 0) throw std::bad_alloc();
  }
  ~TContext() {
    Close();
    BCryptCloseAlgorithmProvider(algorithm, 0);
  }
  void Close() {
    if (hash) BCryptDestroyHash(hash);
    hash = nullptr;
  }
  void Begin() {
    Close();
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) throw std::bad_alloc();
  }
  void Add(const void* Buffer, std::size_t Count) {
    // The provider counts in 32 bits; larger writes go through in steps.
    auto* bytes = static_cast<unsigned char*>(const_cast<void*>(Buffer));
    while (Count > 0) {
      const auto step = static_cast<ULONG>(std::min<std::size_t>(Count, std::numeric_limits<ULONG>::max()));
      BCryptHashData(hash, bytes, step, 0);
      bytes += step;
      Count -= step;
    }
  }
  TDigest Finish() {
    TDigest digest{};
    BCryptFinishHash(hash, digest.data(), kDigestBytes, 0);
    return digest;
  }
};

#else

// OpenSSL's MD5 runs the rounds in tuned assembly, faster than a portable
// rewrite; the stream only adds the text form and the byte count.
struct TMD5Stream::TContext {
  EVP_MD_CTX* md = EVP_MD_CTX_new();

  TContext() {
    if (md == nullptr) throw std::bad_alloc();
  }
  ~TContext() { EVP_MD_CTX_free(md); }
  void Begin() { EVP_DigestInit_ex(md, EVP_md5(), nullptr); }
  void Add(const void* Buffer, std::size_t Count) { EVP_DigestUpdate(md, Buffer, Count); }
  TDigest Finish() {
    TDigest digest{};
    unsigned int length = 0;
    EVP_DigestFinal_ex(md, digest.data(), &length);
    return digest;
  }
};

#endif

TMD5Stream::TMD5Stream() : context_(std::make_unique<TContext>()) { Reset(); }

TMD5Stream::~TMD5Stream() = default;

void TMD5Stream::Reset() {
  context_->Begin();
  bytesHashed_ = 0;
}

std::size_t TMD5Stream::Write(const void* Buffer, std::size_t Count) {
  if (Count == 0) return 0;
  context_->Add(Buffer, Count);
  bytesHashed_ += static_cast<std::int64_t>(Count);
  return Count;
}

std::size_t TMD5Stream::Read(void*, std::size_t) { return 0; }

std::int64_t TMD5Stream::Seek(std::int64_t, int) const { return bytesHashed_; }

std::string TMD5Stream::DigestString() {
  const TDigest digest = context_->Finish();
  Reset();
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(kDigestTextLength);
  for (const unsigned char byte : digest) {
    text.push_back(kHexDigits[byte >> 4]);
    text.push_back(kHexDigits[byte & 0x0F]);
  }
  return text;
}

}  // namespace kilnor
