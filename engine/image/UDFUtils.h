#pragma once
// Helpers shared by the UDF structures: sealing a descriptor with its tag,
// identifiers as dstrings, and cutting an extent into allocation descriptors.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/image/ByteWriter.h"
#include "engine/image/UDFTypes.h"

namespace kilnor {

// ECMA-167 3/7.2: descriptor version of an NSR02 volume, tag serial number.
inline constexpr std::uint16_t kDescriptorVersion = 2;
inline constexpr std::uint16_t kTagSerialNumber = 1;

// Fills in the 16-byte tag at the start of a finished descriptor: its CRC
// covers every byte after the tag, its checksum the tag's other 15 bytes.
void SealDescriptor(std::span<std::uint8_t> descriptor, std::uint16_t tagIdentifier,
                    std::uint32_t tagLocation);

// Writes a descriptor record at the start of out and seals it; returns its
// size in bytes, or nothing when out is too small.
template <class Record>
[[nodiscard]] std::optional<std::size_t> WriteDescriptor(std::span<std::uint8_t> out,
                                                         const Record& record,
                                                         std::uint32_t tagLocation) {
  TByteWriter writer(out);
  Emit(writer, record);
  if (!writer.ok()) return std::nullopt;
  SealDescriptor(out.first(writer.position()), Record::kTagIdentifier, tagLocation);
  return writer.position();
}

// A dstring field of N bytes holding the CS0 form of text, cut between
// characters when it does not fit (the last byte holds the length).
template <std::size_t N>
[[nodiscard]] TDString<N> MakeDString(std::u16string_view text);

// A dstring holding CS0 bytes already compressed.
template <std::size_t N>
[[nodiscard]] TDString<N> DStringFromCS0(std::span<const std::uint8_t> cs0);

[[nodiscard]] constexpr std::uint64_t BlocksFor(std::uint64_t bytes) {
  return (bytes + kUDFBlockBytes - 1) / kUDFBlockBytes;
}

// Longest extent a short allocation descriptor records: below 2^30 (the top
// two bits of its length are the extent type) and a whole number of blocks,
// so the next extent starts on a block boundary.
inline constexpr std::uint32_t kMaxShortAdExtentBytes = (1u << 30) - kUDFBlockBytes;

// Cuts `length` bytes that start at logical block `firstBlock` into recorded
// extents; returns how many descriptors were filled, or nothing when out
// cannot hold them all or the blocks pass the end of the 32-bit block range.
[[nodiscard]] std::optional<std::size_t> SplitIntoExtents(std::uint64_t length,
                                                          std::uint32_t firstBlock,
                                                          std::span<TShortAd> out);

}  // namespace kilnor

#include "engine/image/UDFUtils.inl"
