#include "engine/image/UDFUtils.h"

#include <algorithm>
#include <cassert>

#include "engine/image/UDF_CRC.h"

namespace kilnor {

void SealDescriptor(std::span<std::uint8_t> descriptor, std::uint16_t tagIdentifier,
                    std::uint32_t tagLocation) {
  assert(descriptor.size() >= kDescriptorTagBytes);
  const auto body = descriptor.subspan(kDescriptorTagBytes);
  TDescriptorTag tag;
  tag.TagIdentifier = tagIdentifier;
  tag.DescriptorVersion = kDescriptorVersion;
  tag.TagSerialNumber = kTagSerialNumber;
  tag.DescriptorCRC = CrcItuT(body);
  tag.DescriptorCRCLength = static_cast<std::uint16_t>(body.size());
  tag.TagLocation = tagLocation;

  TByteWriter writer(descriptor.first(kDescriptorTagBytes));
  Emit(writer, tag);
  std::uint8_t checksum = 0;
  for (std::size_t i = 0; i < kDescriptorTagBytes; ++i) {
    if (i != 4) checksum = static_cast<std::uint8_t>(checksum + descriptor[i]);
  }
  descriptor[4] = checksum;
}

std::optional<std::size_t> SplitIntoExtents(std::uint64_t length, std::uint32_t firstBlock,
                                            std::span<TShortAd> out) {
  if (firstBlock + BlocksFor(length) > (std::uint64_t{1} << 32)) return std::nullopt;
  std::size_t count = 0;
  std::uint64_t block = firstBlock;
  while (length > 0) {
    if (count == out.size()) return std::nullopt;
    const auto piece = static_cast<std::uint32_t>(std::min<std::uint64_t>(length, kMaxShortAdExtentBytes));
    out[count++] = TShortAd{piece, static_cast<std::uint32_t>(block)};
    block += piece / kUDFBlockBytes;
    length -= piece;
  }
  return count;
}

}  // namespace kilnor
