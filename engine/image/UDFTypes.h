#pragma once
// The elements every UDF structure is built from (ECMA-167 parts 1, 3 and 4),
// how each is written, and the UDF bridge state kept in the compilation and
// its entries. Every element is written field by field through a byte writer;
// emitters are templates over the writer so that running one over a byte
// counter at compile time checks it against the size its standard gives it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>

namespace kilnor {

struct TFileEntry;

inline constexpr std::size_t kUDFBlockBytes = 2048;

// Stands in for the byte writer and only counts.
class TByteCounter {
 public:
  constexpr void put_u8(std::uint8_t) { count_ += 1; }
  constexpr void put_le16(std::uint16_t) { count_ += 2; }
  constexpr void put_le32(std::uint32_t) { count_ += 4; }
  constexpr void put_bytes(std::span<const std::uint8_t> bytes) { count_ += bytes.size(); }
  constexpr void put_zeros(std::size_t count) { count_ += count; }
  [[nodiscard]] constexpr std::size_t count() const { return count_; }

 private:
  std::size_t count_ = 0;
};

// Bytes the emitter of Record writes for a default record.
template <class Record>
[[nodiscard]] consteval std::size_t EncodedSize() {
  TByteCounter counter;
  Emit(counter, Record{});
  return counter.count();
}

template <class Writer>
constexpr void put_le64(Writer& w, std::uint64_t value) {
  w.put_le32(static_cast<std::uint32_t>(value));
  w.put_le32(static_cast<std::uint32_t>(value >> 32));
}

// ECMA-167 1/7.3 timestamp.
struct TUDFTimestamp {
  std::uint16_t TypeAndTimezone = 0;   // type in bits 12-15, offset in minutes in bits 0-11
  std::int16_t Year = 0;
  std::uint8_t Month = 0;
  std::uint8_t Day = 0;
  std::uint8_t Hour = 0;
  std::uint8_t Minute = 0;
  std::uint8_t Second = 0;
  std::uint8_t Centiseconds = 0;
  std::uint8_t HundredsOfMicroseconds = 0;
  std::uint8_t Microseconds = 0;
  bool operator==(const TUDFTimestamp&) const = default;
};
template <class Writer>
constexpr void Emit(Writer& w, const TUDFTimestamp& t) {
  w.put_le16(t.TypeAndTimezone);
  w.put_le16(static_cast<std::uint16_t>(t.Year));
  for (const std::uint8_t part : {t.Month, t.Day, t.Hour, t.Minute, t.Second, t.Centiseconds,
                                  t.HundredsOfMicroseconds, t.Microseconds}) {
    w.put_u8(part);
  }
}
static_assert(EncodedSize<TUDFTimestamp>() == 12);

// ECMA-167 1/7.2.1 character set specification (charspec).
struct TCharspec {
  std::uint8_t CharacterSetType = 0;
  std::array<std::uint8_t, 63> CharacterSetInformation{};
};
template <class Writer>
constexpr void Emit(Writer& w, const TCharspec& c) {
  w.put_u8(c.CharacterSetType);
  w.put_bytes(c.CharacterSetInformation);
}
static_assert(EncodedSize<TCharspec>() == 64);

// ECMA-167 1/7.4 entity identifier (regid).
struct TEntityIdentifier {
  std::uint8_t Flags = 0;
  std::array<std::uint8_t, 23> Identifier{};
  std::array<std::uint8_t, 8> IdentifierSuffix{};
};
template <class Writer>
constexpr void Emit(Writer& w, const TEntityIdentifier& r) {
  w.put_u8(r.Flags);
  w.put_bytes(r.Identifier);
  w.put_bytes(r.IdentifierSuffix);
}
static_assert(EncodedSize<TEntityIdentifier>() == 32);

// ECMA-167 3/7.1 extent descriptor (extent_ad); Location is an absolute sector.
struct TExtentAd {
  std::uint32_t Length = 0;
  std::uint32_t Location = 0;
};
template <class Writer>
constexpr void Emit(Writer& w, const TExtentAd& e) {
  w.put_le32(e.Length);
  w.put_le32(e.Location);
}
static_assert(EncodedSize<TExtentAd>() == 8);

// ECMA-167 4/7.1 recorded address (lb_addr).
struct TLbAddr {
  std::uint32_t LogicalBlockNumber = 0;
  std::uint16_t PartitionReferenceNumber = 0;
};
template <class Writer>
constexpr void Emit(Writer& w, const TLbAddr& a) {
  w.put_le32(a.LogicalBlockNumber);
  w.put_le16(a.PartitionReferenceNumber);
}
static_assert(EncodedSize<TLbAddr>() == 6);

// ECMA-167 4/14.14.1 short allocation descriptor (short_ad). The two top bits
// of the length are the extent type, so a length stays below 2^30.
struct TShortAd {
  std::uint32_t ExtentLength = 0;
  std::uint32_t ExtentPosition = 0;
};
template <class Writer>
constexpr void Emit(Writer& w, const TShortAd& a) {
  w.put_le32(a.ExtentLength);
  w.put_le32(a.ExtentPosition);
}
static_assert(EncodedSize<TShortAd>() == 8);

// ECMA-167 4/14.14.2 long allocation descriptor (long_ad).
struct TLongAd {
  std::uint32_t ExtentLength = 0;
  TLbAddr ExtentLocation;
  std::array<std::uint8_t, 6> ImplementationUse{};
};
template <class Writer>
constexpr void Emit(Writer& w, const TLongAd& a) {
  w.put_le32(a.ExtentLength);
  Emit(w, a.ExtentLocation);
  w.put_bytes(a.ImplementationUse);
}
static_assert(EncodedSize<TLongAd>() == 16);

// ECMA-167 3/7.2 descriptor tag. The checksum and CRC are filled in by
// SealDescriptor once the rest of the descriptor is final.
struct TDescriptorTag {
  std::uint16_t TagIdentifier = 0;
  std::uint16_t DescriptorVersion = 0;
  std::uint8_t TagChecksum = 0;
  std::uint16_t TagSerialNumber = 0;
  std::uint16_t DescriptorCRC = 0;
  std::uint16_t DescriptorCRCLength = 0;
  std::uint32_t TagLocation = 0;
};
template <class Writer>
constexpr void Emit(Writer& w, const TDescriptorTag& t) {
  w.put_le16(t.TagIdentifier);
  w.put_le16(t.DescriptorVersion);
  w.put_u8(t.TagChecksum);
  w.put_u8(0);
  w.put_le16(t.TagSerialNumber);
  w.put_le16(t.DescriptorCRC);
  w.put_le16(t.DescriptorCRCLength);
  w.put_le32(t.TagLocation);
}
inline constexpr std::size_t kDescriptorTagBytes = 16;
static_assert(EncodedSize<TDescriptorTag>() == kDescriptorTagBytes);

// ECMA-167 1/7.2.12 dstring: CS0 bytes, zero padding, their count in the last byte.
template <std::size_t N>
using TDString = std::array<std::uint8_t, N>;

// UDF state of a file's entry: where its file entry lies.
struct UDFFileInformation {
  std::uint32_t FileICB_LSOffsetWRTSession = 0;   // session sector
};

// UDF state of a directory.
struct UDFDirectoryInformation {
  std::uint16_t FileLinkCount = 0;                // 1 + subdirectories
  std::uint64_t InformationLength = 0;            // bytes of its identifier descriptors
  std::uint32_t DirICB_LSOffsetWRTSession = 0;    // session sector of its file entry
  std::uint32_t DirData_LSOffsetWRTSession = 0;   // session sector of its first data block
};

// UDF bridge layout of the compilation, computed by Prepare and only read
// afterwards: writing the same prepared compilation twice gives the same bytes.
struct UDFBridgeInformation {
  TDString<32> VolumeIdentifier{};                 // the label as a dstring
  std::uint32_t NumberOfDirectories = 0;           // root included
  std::uint32_t NumberOfFiles = 0;
  std::uint32_t VolumeRecognitionSequence_LSAWRTSession = 0;
  // Absolute sector where the partition starts: 257, or the lowest imported
  // extent when an earlier session's data lies below that.
  std::uint32_t PartitionStarting_LSA = 0;
  // Sectors of the partition up to the last anchor, without the session start.
  std::uint32_t LengthOfPartitionPortionInSession_LBS = 0;
  std::uint32_t RootDirectoryICB_LSAWRTSession = 0;
  std::uint32_t NumberOfBlocksRequiredForFileDirStructures = 0;
  std::uint32_t ISODataPortionStarting_LSAWRTSession = 0;
  std::uint32_t LastAnchorVolumeDescriptorPointer_LSAWRTSession = 0;
  // The session before the closing anchor fills whole packets, so the anchor
  // needs a packet of its own.
  bool IsNewPacketRequiredForLastAVDP = false;
  TUDFTimestamp UDFTimeStamp;                      // the one time of the session
  // Names too long for a file identifier, shortened and unique in their directory.
  std::unordered_map<const TFileEntry*, std::u16string> ShortenedNames;
  // Why the layout refused the bridge; empty when it succeeded.
  std::string LayoutError;
};

}  // namespace kilnor
