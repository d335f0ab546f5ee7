#pragma once
// The digest of an entry's source data, as smart references and verification
// need it: over exactly the entry's FileSize bytes, read from its source file
// or asked of its data callback. Only a complete digest is one; a source that
// cannot be read, that ends early or runs on, or an abort, gives none.
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "engine/image/TreeTypes.h"

namespace kilnor {

enum class TDigestOutcome { Complete, Unreadable, SizeChanged, Aborted };

struct TSourceDigest {
  TDigestOutcome Outcome = TDigestOutcome::Unreadable;
  std::string Digest;  // the digest text; empty unless Complete
  std::string Cause;   // why there is none, in words ("No such file or directory")
};

// Called after each piece with the sectors it covered.
using TDigestProgress = std::function<void(std::uint32_t Sectors)>;

// Reads the source in pieces of Buffer's size (a multiple of 2,048 bytes);
// Aborted is looked at after each piece.
[[nodiscard]] TSourceDigest DigestOfSource(TFileEntry& Entry, std::span<std::uint8_t> Buffer,
                                           const std::atomic<bool>& Aborted,
                                           const TDigestProgress& Progress);

// Whether the sources of A and B hold the same FileSize bytes, read again in
// pieces of the buffers' size. False when the sizes differ, when either
// source cannot be read in full, or when Aborted is raised: equal digests do
// not prove equal content, so data is shared only after this says so.
[[nodiscard]] bool SameSourceData(TFileEntry& A, TFileEntry& B, std::span<std::uint8_t> BufferA,
                                  std::span<std::uint8_t> BufferB, const std::atomic<bool>& Aborted);

}  // namespace kilnor
