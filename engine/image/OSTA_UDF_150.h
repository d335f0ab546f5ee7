#pragma once
// What the OSTA UDF 1.50 profile fixes inside the ECMA-167 structures: the
// character set, the entity identifiers and their suffixes, the revision.
#include <cstdint>
#include <string_view>

#include "engine/image/UDFTypes.h"

namespace kilnor {

inline constexpr std::uint16_t kUDFRevision = 0x0150;

// UDF 2.1.2: the CS0 character set, "OSTA Compressed Unicode".
[[nodiscard]] TCharspec OSTACompressedUnicode();

// UDF 2.1.5: the implementation identifier of this system (operating-system
// class 6 in the suffix).
[[nodiscard]] TEntityIdentifier ImplementationIdentifier();

// UDF 2.1.5.2: "*OSTA UDF Compliant" with the revision and the domain flags
// (bit 0 hard, bit 1 soft write protection).
inline constexpr std::uint8_t kDomainWriteProtected = 0x03;
[[nodiscard]] TEntityIdentifier DomainIdentifier(std::uint8_t domainFlags);

// UDF 2.2.7.2: "*UDF LV Info", the implementation use volume descriptor's kind.
[[nodiscard]] TEntityIdentifier LogicalVolumeInfoIdentifier();

// ECMA-167 3/10.5.3: "+NSR02", the partition holds an NSR02 file system.
[[nodiscard]] TEntityIdentifier PartitionContentsIdentifier();

// ECMA-167 2/9.1 standard identifiers of the volume recognition sequence.
inline constexpr std::string_view kBeginExtendedArea = "BEA01";
inline constexpr std::string_view kNSRDescriptor = "NSR02";
inline constexpr std::string_view kTerminateExtendedArea = "TEA01";

// UDF 2.3.2: entries are readable and executable by everyone, writable by none.
inline constexpr std::uint32_t kReadExecuteForAll = 0x000014A5;
// UDF 2.3.5.1: strategy 4, one entry, parent ICB not recorded.
inline constexpr std::uint16_t kICBStrategy4 = 4;

}  // namespace kilnor
