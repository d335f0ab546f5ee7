#include "engine/image/OSTA_UDF_150.h"

#include <algorithm>
#include <initializer_list>

namespace kilnor {
namespace {

constexpr std::string_view kCharsetName = "OSTA Compressed Unicode";
constexpr std::string_view kImplementationName = "*Ostrawenden QuelmUDF";
constexpr std::string_view kDomainName = "*OSTA UDF Compliant";
constexpr std::string_view kLVInfoName = "*UDF LV Info";
constexpr std::string_view kNSR02Name = "+NSR02";
constexpr std::uint8_t kOSClassWindowsNT = 6;

TEntityIdentifier MakeIdentifier(std::string_view name, std::initializer_list<std::uint8_t> suffix) {
  TEntityIdentifier id;
  std::copy_n(name.begin(), std::min(name.size(), id.Identifier.size()), id.Identifier.begin());
  std::copy_n(suffix.begin(), std::min(suffix.size(), id.IdentifierSuffix.size()),
              id.IdentifierSuffix.begin());
  return id;
}

constexpr std::uint8_t kRevisionLow = kUDFRevision & 0xFF;
constexpr std::uint8_t kRevisionHigh = kUDFRevision >> 8;

}  // namespace

TCharspec OSTACompressedUnicode() {
  TCharspec charspec;
  std::copy(kCharsetName.begin(), kCharsetName.end(), charspec.CharacterSetInformation.begin());
  return charspec;
}

TEntityIdentifier ImplementationIdentifier() {
  return MakeIdentifier(kImplementationName, {kOSClassWindowsNT});
}

TEntityIdentifier DomainIdentifier(std::uint8_t domainFlags) {
  return MakeIdentifier(kDomainName, {kRevisionLow, kRevisionHigh, domainFlags});
}

TEntityIdentifier LogicalVolumeInfoIdentifier() {
  return MakeIdentifier(kLVInfoName, {kRevisionLow, kRevisionHigh, kOSClassWindowsNT});
}

TEntityIdentifier PartitionContentsIdentifier() {
  return MakeIdentifier(kNSR02Name, {kRevisionLow, kRevisionHigh, kOSClassWindowsNT});
}

}  // namespace kilnor
