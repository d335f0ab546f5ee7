#pragma once
// The descriptors of ECMA-167 that a UDF bridge session records, each with
// its writer. Every writer writes the whole descriptor in field order, the tag
// as 16 placeholder bytes that SealDescriptor fills in once the rest is final.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/image/UDFTypes.h"

namespace kilnor {

// Tag identifiers (ECMA-167 3/7.2.1, 4/7.2.1).
enum TUDFTagIdentifier : std::uint16_t {
  tiPrimaryVolumeDescriptor = 1,
  tiAnchorVolumeDescriptorPointer = 2,
  tiImplementationUseVolumeDescriptor = 4,
  tiPartitionDescriptor = 5,
  tiLogicalVolumeDescriptor = 6,
  tiUnallocatedSpaceDescriptor = 7,
  tiTerminatingDescriptor = 8,
  tiLogicalVolumeIntegrityDescriptor = 9,
  tiFileSetDescriptor = 256,
  tiFileIdentifierDescriptor = 257,
  tiFileEntry = 261,
};

template <class Writer>
constexpr void EmitTagPlaceholder(Writer& w) {
  w.put_zeros(kDescriptorTagBytes);
}

// ECMA-167 2/9.1 volume structure descriptor (BEA01, NSR02, TEA01): one sector.
struct TVolumeStructureDescriptor {
  std::array<std::uint8_t, 5> StandardIdentifier{};
};
template <class Writer>
constexpr void Emit(Writer& w, const TVolumeStructureDescriptor& d) {
  w.put_u8(0);                       // structure type
  w.put_bytes(d.StandardIdentifier);
  w.put_u8(1);                       // structure version
  w.put_zeros(2041);                 // structure data
}
static_assert(EncodedSize<TVolumeStructureDescriptor>() == kUDFBlockBytes);

// ECMA-167 3/10.1 primary volume descriptor.
struct TPrimaryVolumeDescriptor {
  static constexpr std::uint16_t kTagIdentifier = tiPrimaryVolumeDescriptor;
  std::uint32_t VolumeDescriptorSequenceNumber = 0;
  std::uint32_t PrimaryVolumeDescriptorNumber = 0;
  TDString<32> VolumeIdentifier{};
  std::uint16_t VolumeSequenceNumber = 0;
  std::uint16_t MaximumVolumeSequenceNumber = 0;
  std::uint16_t InterchangeLevel = 0;
  std::uint16_t MaximumInterchangeLevel = 0;
  std::uint32_t CharacterSetList = 0;
  std::uint32_t MaximumCharacterSetList = 0;
  TDString<128> VolumeSetIdentifier{};
  TCharspec DescriptorCharacterSet;
  TCharspec ExplanatoryCharacterSet;
  TExtentAd VolumeAbstract;
  TExtentAd VolumeCopyrightNotice;
  TEntityIdentifier ApplicationIdentifier;
  TUDFTimestamp RecordingDateAndTime;
  TEntityIdentifier ImplementationIdentifier;
  std::uint32_t PredecessorVolumeDescriptorSequenceLocation = 0;
  std::uint16_t Flags = 0;
};
template <class Writer>
constexpr void Emit(Writer& w, const TPrimaryVolumeDescriptor& d) {
  EmitTagPlaceholder(w);
  w.put_le32(d.VolumeDescriptorSequenceNumber);
  w.put_le32(d.PrimaryVolumeDescriptorNumber);
  w.put_bytes(d.VolumeIdentifier);
  w.put_le16(d.VolumeSequenceNumber);
  w.put_le16(d.MaximumVolumeSequenceNumber);
  w.put_le16(d.InterchangeLevel);
  w.put_le16(d.MaximumInterchangeLevel);
  w.put_le32(d.CharacterSetList);
  w.put_le32(d.MaximumCharacterSetList);
  w.put_bytes(d.VolumeSetIdentifier);
  Emit(w, d.DescriptorCharacterSet);
  Emit(w, d.ExplanatoryCharacterSet);
  Emit(w, d.VolumeAbstract);
  Emit(w, d.VolumeCopyrightNotice);
  Emit(w, d.ApplicationIdentifier);
  Emit(w, d.RecordingDateAndTime);
  Emit(w, d.ImplementationIdentifier);
  w.put_zeros(64);                   // implementation use
  w.put_le32(d.PredecessorVolumeDescriptorSequenceLocation);
  w.put_le16(d.Flags);
  w.put_zeros(22);                   // reserved
}
static_assert(EncodedSize<TPrimaryVolumeDescriptor>() == 512);

// ECMA-167 3/10.2 anchor volume descriptor pointer.
struct TAnchorVolumeDescriptorPointer {
  static constexpr std::uint16_t kTagIdentifier = tiAnchorVolumeDescriptorPointer;
  TExtentAd MainVolumeDescriptorSequenceExtent;
  TExtentAd ReserveVolumeDescriptorSequenceExtent;
};
template <class Writer>
constexpr void Emit(Writer& w, const TAnchorVolumeDescriptorPointer& d) {
  EmitTagPlaceholder(w);
  Emit(w, d.MainVolumeDescriptorSequenceExtent);
  Emit(w, d.ReserveVolumeDescriptorSequenceExtent);
  w.put_zeros(480);                  // reserved
}
static_assert(EncodedSize<TAnchorVolumeDescriptorPointer>() == 512);

// ECMA-167 3/10.4 implementation use volume descriptor; the implementation
// use area carries the logical volume information of UDF 2.2.7.2.
struct TImplementationUseVolumeDescriptor {
  static constexpr std::uint16_t kTagIdentifier = tiImplementationUseVolumeDescriptor;
  std::uint32_t VolumeDescriptorSequenceNumber = 0;
  TEntityIdentifier ImplementationIdentifier;
  TCharspec LVICharset;
  TDString<128> LogicalVolumeIdentifier{};
  TDString<36> LVInfo1{};
  TDString<36> LVInfo2{};
  TDString<36> LVInfo3{};
  TEntityIdentifier LVInfoImplementationID;
};
template <class Writer>
constexpr void Emit(Writer& w, const TImplementationUseVolumeDescriptor& d) {
  EmitTagPlaceholder(w);
  w.put_le32(d.VolumeDescriptorSequenceNumber);
  Emit(w, d.ImplementationIdentifier);
  Emit(w, d.LVICharset);
  w.put_bytes(d.LogicalVolumeIdentifier);
  w.put_bytes(d.LVInfo1);
  w.put_bytes(d.LVInfo2);
  w.put_bytes(d.LVInfo3);
  Emit(w, d.LVInfoImplementationID);
  w.put_zeros(128);                  // implementation use of the information
}
static_assert(EncodedSize<TImplementationUseVolumeDescriptor>() == 512);

// ECMA-167 3/10.5 partition descriptor.
struct TPartitionDescriptor {
  static constexpr std::uint16_t kTagIdentifier = tiPartitionDescriptor;
  std::uint32_t VolumeDescriptorSequenceNumber = 0;
  std::uint16_t PartitionFlags = 0;
  std::uint16_t PartitionNumber = 0;
  TEntityIdentifier PartitionContents;
  std::uint32_t AccessType = 0;
  std::uint32_t PartitionStartingLocation = 0;
  std::uint32_t PartitionLength = 0;
  TEntityIdentifier ImplementationIdentifier;
};
template <class Writer>
constexpr void Emit(Writer& w, const TPartitionDescriptor& d) {
  EmitTagPlaceholder(w);
  w.put_le32(d.VolumeDescriptorSequenceNumber);
  w.put_le16(d.PartitionFlags);
  w.put_le16(d.PartitionNumber);
  Emit(w, d.PartitionContents);
  w.put_zeros(128);                  // partition contents use
  w.put_le32(d.AccessType);
  w.put_le32(d.PartitionStartingLocation);
  w.put_le32(d.PartitionLength);
  Emit(w, d.ImplementationIdentifier);
  w.put_zeros(128);                  // implementation use
  w.put_zeros(156);                  // reserved
}
static_assert(EncodedSize<TPartitionDescriptor>() == 512);

// ECMA-167 3/10.6 logical volume descriptor with one type 1 partition map
// (3/10.7.2); the contents use holds the file set descriptor's long_ad.
struct TLogicalVolumeDescriptor {
  static constexpr std::uint16_t kTagIdentifier = tiLogicalVolumeDescriptor;
  static constexpr std::uint32_t kType1MapBytes = 6;
  std::uint32_t VolumeDescriptorSequenceNumber = 0;
  TCharspec DescriptorCharacterSet;
  TDString<128> LogicalVolumeIdentifier{};
  std::uint32_t LogicalBlockSize = 0;
  TEntityIdentifier DomainIdentifier;
  TLongAd FileSetDescriptorLocation;
  TEntityIdentifier ImplementationIdentifier;
  TExtentAd IntegritySequenceExtent;
  std::uint16_t MapVolumeSequenceNumber = 0;
  std::uint16_t MapPartitionNumber = 0;
};
template <class Writer>
constexpr void Emit(Writer& w, const TLogicalVolumeDescriptor& d) {
  EmitTagPlaceholder(w);
  w.put_le32(d.VolumeDescriptorSequenceNumber);
  Emit(w, d.DescriptorCharacterSet);
  w.put_bytes(d.LogicalVolumeIdentifier);
  w.put_le32(d.LogicalBlockSize);
  Emit(w, d.DomainIdentifier);
  Emit(w, d.FileSetDescriptorLocation);
  w.put_le32(TLogicalVolumeDescriptor::kType1MapBytes);  // map table length
  w.put_le32(1);                                         // number of partition maps
  Emit(w, d.ImplementationIdentifier);
  w.put_zeros(128);                                      // implementation use
  Emit(w, d.IntegritySequenceExtent);
  w.put_u8(1);                                           // partition map type
  w.put_u8(TLogicalVolumeDescriptor::kType1MapBytes);
  w.put_le16(d.MapVolumeSequenceNumber);
  w.put_le16(d.MapPartitionNumber);
}
static_assert(EncodedSize<TLogicalVolumeDescriptor>() == 446);

// ECMA-167 3/10.8 unallocated space descriptor without allocation descriptors.
struct TUnallocatedSpaceDescriptor {
  static constexpr std::uint16_t kTagIdentifier = tiUnallocatedSpaceDescriptor;
  std::uint32_t VolumeDescriptorSequenceNumber = 0;
};
template <class Writer>
constexpr void Emit(Writer& w, const TUnallocatedSpaceDescriptor& d) {
  EmitTagPlaceholder(w);
  w.put_le32(d.VolumeDescriptorSequenceNumber);
  w.put_le32(0);                     // number of allocation descriptors
}
static_assert(EncodedSize<TUnallocatedSpaceDescriptor>() == 24);

// ECMA-167 3/10.9 terminating descriptor.
struct TTerminatingDescriptor {
  static constexpr std::uint16_t kTagIdentifier = tiTerminatingDescriptor;
};
template <class Writer>
constexpr void Emit(Writer& w, const TTerminatingDescriptor&) {
  EmitTagPlaceholder(w);
  w.put_zeros(496);                  // reserved
}
static_assert(EncodedSize<TTerminatingDescriptor>() == 512);

// ECMA-167 3/10.10 logical volume integrity descriptor for one partition. The
// contents use is the logical volume header (4/14.15); the implementation use
// is the one of UDF 2.2.6.4.
struct TLogicalVolumeIntegrityDescriptor {
  static constexpr std::uint16_t kTagIdentifier = tiLogicalVolumeIntegrityDescriptor;
  static constexpr std::uint32_t kImplementationUseBytes = 48;
  TUDFTimestamp RecordingDateAndTime;
  std::uint32_t IntegrityType = 0;
  std::uint64_t UniqueID = 0;
  std::uint32_t FreeSpace = 0;
  std::uint32_t Size = 0;
  TEntityIdentifier ImplementationID;
  std::uint32_t NumberOfFiles = 0;
  std::uint32_t NumberOfDirectories = 0;
  std::uint16_t MinimumUDFReadRevision = 0;
  std::uint16_t MinimumUDFWriteRevision = 0;
  std::uint16_t MaximumUDFWriteRevision = 0;
};
template <class Writer>
constexpr void Emit(Writer& w, const TLogicalVolumeIntegrityDescriptor& d) {
  EmitTagPlaceholder(w);
  Emit(w, d.RecordingDateAndTime);
  w.put_le32(d.IntegrityType);
  Emit(w, TExtentAd{});              // next integrity extent
  put_le64(w, d.UniqueID);
  w.put_zeros(24);                   // rest of the logical volume header
  w.put_le32(1);                     // number of partitions
  w.put_le32(TLogicalVolumeIntegrityDescriptor::kImplementationUseBytes);
  w.put_le32(d.FreeSpace);
  w.put_le32(d.Size);
  Emit(w, d.ImplementationID);
  w.put_le32(d.NumberOfFiles);
  w.put_le32(d.NumberOfDirectories);
  w.put_le16(d.MinimumUDFReadRevision);
  w.put_le16(d.MinimumUDFWriteRevision);
  w.put_le16(d.MaximumUDFWriteRevision);
  w.put_zeros(2);                    // rest of the implementation use
}
static_assert(EncodedSize<TLogicalVolumeIntegrityDescriptor>() == 136);

// ECMA-167 4/14.1 file set descriptor.
struct TFileSetDescriptor {
  static constexpr std::uint16_t kTagIdentifier = tiFileSetDescriptor;
  TUDFTimestamp RecordingDateAndTime;
  std::uint16_t InterchangeLevel = 0;
  std::uint16_t MaximumInterchangeLevel = 0;
  std::uint32_t CharacterSetList = 0;
  std::uint32_t MaximumCharacterSetList = 0;
  std::uint32_t FileSetNumber = 0;
  std::uint32_t FileSetDescriptorNumber = 0;
  TCharspec LogicalVolumeIdentifierCharacterSet;
  TDString<128> LogicalVolumeIdentifier{};
  TCharspec FileSetCharacterSet;
  TDString<32> FileSetIdentifier{};
  TDString<32> CopyrightFileIdentifier{};
  TDString<32> AbstractFileIdentifier{};
  TLongAd RootDirectoryICB;
  TEntityIdentifier DomainIdentifier;
  TLongAd NextExtent;
};
template <class Writer>
constexpr void Emit(Writer& w, const TFileSetDescriptor& d) {
  EmitTagPlaceholder(w);
  Emit(w, d.RecordingDateAndTime);
  w.put_le16(d.InterchangeLevel);
  w.put_le16(d.MaximumInterchangeLevel);
  w.put_le32(d.CharacterSetList);
  w.put_le32(d.MaximumCharacterSetList);
  w.put_le32(d.FileSetNumber);
  w.put_le32(d.FileSetDescriptorNumber);
  Emit(w, d.LogicalVolumeIdentifierCharacterSet);
  w.put_bytes(d.LogicalVolumeIdentifier);
  Emit(w, d.FileSetCharacterSet);
  w.put_bytes(d.FileSetIdentifier);
  w.put_bytes(d.CopyrightFileIdentifier);
  w.put_bytes(d.AbstractFileIdentifier);
  Emit(w, d.RootDirectoryICB);
  Emit(w, d.DomainIdentifier);
  Emit(w, d.NextExtent);
  w.put_zeros(48);                   // reserved
}
static_assert(EncodedSize<TFileSetDescriptor>() == 512);

// File types and file characteristics (ECMA-167 4/14.6.6, 4/14.4.3).
enum TUDFFileType : std::uint8_t { ftDirectory = 4, ftFile = 5 };
enum TFileCharacteristics : std::uint8_t {
  fcFile = 0x00,
  fcDirectory = 0x02,
  fcParent = 0x0A,   // a directory entry that names the parent
};

// ECMA-167 4/14.6 ICB tag.
struct TICBTag {
  std::uint32_t PriorRecordedNumberOfDirectEntries = 0;
  std::uint16_t StrategyType = 0;
  std::uint16_t StrategyParameter = 0;
  std::uint16_t MaximumNumberOfEntries = 0;
  std::uint8_t FileType = 0;
  TLbAddr ParentICBLocation;
  std::uint16_t Flags = 0;
};
template <class Writer>
constexpr void Emit(Writer& w, const TICBTag& t) {
  w.put_le32(t.PriorRecordedNumberOfDirectEntries);
  w.put_le16(t.StrategyType);
  w.put_le16(t.StrategyParameter);
  w.put_le16(t.MaximumNumberOfEntries);
  w.put_u8(0);                       // reserved
  w.put_u8(t.FileType);
  Emit(w, t.ParentICBLocation);
  w.put_le16(t.Flags);
}
static_assert(EncodedSize<TICBTag>() == 20);

// ECMA-167 4/14.9 file entry, without extended attributes, with short
// allocation descriptors.
struct TUDFFileEntry {
  static constexpr std::uint16_t kTagIdentifier = tiFileEntry;
  TICBTag ICBTag;
  std::uint32_t Uid = 0;
  std::uint32_t Gid = 0;
  std::uint32_t Permissions = 0;
  std::uint16_t FileLinkCount = 0;
  std::uint64_t InformationLength = 0;
  std::uint64_t LogicalBlocksRecorded = 0;
  TUDFTimestamp AccessTime;
  TUDFTimestamp ModificationTime;
  TUDFTimestamp AttributeTime;
  std::uint32_t Checkpoint = 0;
  TEntityIdentifier ImplementationIdentifier;
  std::uint64_t UniqueID = 0;
  std::span<const TShortAd> AllocationDescriptors;
};
template <class Writer>
constexpr void Emit(Writer& w, const TUDFFileEntry& e) {
  EmitTagPlaceholder(w);
  Emit(w, e.ICBTag);
  w.put_le32(e.Uid);
  w.put_le32(e.Gid);
  w.put_le32(e.Permissions);
  w.put_le16(e.FileLinkCount);
  w.put_u8(0);                       // record format
  w.put_u8(0);                       // record display attributes
  w.put_le32(0);                     // record length
  put_le64(w, e.InformationLength);
  put_le64(w, e.LogicalBlocksRecorded);
  Emit(w, e.AccessTime);
  Emit(w, e.ModificationTime);
  Emit(w, e.AttributeTime);
  w.put_le32(e.Checkpoint);
  Emit(w, TLongAd{});                // extended attribute ICB
  Emit(w, e.ImplementationIdentifier);
  put_le64(w, e.UniqueID);
  w.put_le32(0);                     // length of extended attributes
  w.put_le32(static_cast<std::uint32_t>(e.AllocationDescriptors.size() * 8));
  for (const TShortAd& ad : e.AllocationDescriptors) Emit(w, ad);
}
inline constexpr std::size_t kFileEntryFixedBytes = 176;
static_assert(EncodedSize<TUDFFileEntry>() == kFileEntryFixedBytes);
// Short allocation descriptors that fit in a file entry of one block.
inline constexpr std::size_t kMaxFileEntryExtents = (kUDFBlockBytes - kFileEntryFixedBytes) / 8;

// ECMA-167 4/14.4 file identifier descriptor, padded to a multiple of 4.
struct TFileIdentifierDescriptor {
  static constexpr std::uint16_t kTagIdentifier = tiFileIdentifierDescriptor;
  std::uint16_t FileVersionNumber = 0;
  std::uint8_t FileCharacteristics = 0;
  TLongAd ICB;
  std::span<const std::uint8_t> FileIdentifier;   // CS0 bytes
};
inline constexpr std::size_t kFileIdentifierFixedBytes = 38;
[[nodiscard]] constexpr std::size_t FileIdentifierDescriptorBytes(std::size_t identifierBytes) {
  return (kFileIdentifierFixedBytes + identifierBytes + 3) / 4 * 4;
}
template <class Writer>
constexpr void Emit(Writer& w, const TFileIdentifierDescriptor& d) {
  EmitTagPlaceholder(w);
  w.put_le16(d.FileVersionNumber);
  w.put_u8(d.FileCharacteristics);
  w.put_u8(static_cast<std::uint8_t>(d.FileIdentifier.size()));
  Emit(w, d.ICB);
  w.put_le16(0);                     // length of implementation use
  w.put_bytes(d.FileIdentifier);
  w.put_zeros(FileIdentifierDescriptorBytes(d.FileIdentifier.size()) - kFileIdentifierFixedBytes -
              d.FileIdentifier.size());
}
static_assert(EncodedSize<TFileIdentifierDescriptor>() == 40);
// The largest one: an identifier of 255 bytes.
inline constexpr std::size_t kMaxFileIdentifierDescriptorBytes = FileIdentifierDescriptorBytes(255);
static_assert(kMaxFileIdentifierDescriptorBytes == 296);

}  // namespace kilnor
