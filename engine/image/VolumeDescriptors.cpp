#include "engine/image/VolumeDescriptors.h"

#include <cstring>

#include "engine/image/Directories.h"
#include "engine/image/RecordingDates.h"
#include "engine/platform/Unicode.h"

namespace kilnor {
namespace {

enum class TKind { Primary, Enhanced, Joliet };

constexpr std::uint8_t kJolietEscape[] = {0x25, 0x2F, 0x40};

// Offsets of the fields after the fixed head (ECMA-119 8.4).
constexpr std::size_t kSystemId = 8;
constexpr std::size_t kVolumeId = 40;
constexpr std::size_t kVolumeSpaceSize = 80;
constexpr std::size_t kEscapeSequences = 88;
constexpr std::size_t kVolumeSetSize = 120;
constexpr std::size_t kVolumeSetId = 190;
constexpr std::size_t kCreationDate = 813;
constexpr std::size_t kFileStructureVersion = 881;
static_assert(kCreationDate + 4 * kVolumeDateBytes == kFileStructureVersion, "four dates precede the version");

struct TTextField {
  std::size_t Offset;
  std::size_t Width;
};
// System identifier, then the identifiers from the volume set to the
// bibliographic file: all empty, recorded as spaces.
constexpr TTextField kEmptyTextFields[] = {{kSystemId, 32},       {kVolumeSetId, 128}, {318, 128},
                                           {446, 128},            {574, 128},          {702, 37},
                                           {739, 37},             {776, 37}};

void PutHead(TByteWriter& out, std::uint8_t type, std::uint8_t version) {
  out.put_u8(type);
  out.put_text("CD001");
  out.put_u8(version);
}

void PutEmptyTextFields(TByteWriter& out, TKind kind) {
  for (const TTextField& field : kEmptyTextFields) {
    out.seek(field.Offset);
    if (kind == TKind::Joliet)
      out.put_ucs2_padded(u"", field.Width);
    else
      out.put_padded("", field.Width);
  }
}

void WriteDescriptor(TByteWriter& out, const TCDFiles& cd, TKind kind) {
  const bool joliet = kind == TKind::Joliet;
  const TTree tree = joliet ? TTree::Joliet : TTree::ISO;
  PutHead(out, kind == TKind::Primary ? 1 : 2, kind == TKind::Enhanced ? 2 : 1);
  PutEmptyTextFields(out, kind);

  out.seek(kVolumeId);
  if (joliet)
    out.put_ucs2_padded(JolietVolumeId(cd), kVolumeIdBytes);
  else
    out.put_padded(IsoVolumeId(cd), kVolumeIdBytes);

  // The volume spans the medium from sector 0 to the end of this session, so
  // that every extent of an earlier session this one lists lies inside it.
  out.seek(kVolumeSpaceSize);
  out.put_both32(cd.FirstWritableSector + cd.TotalImageSize);
  if (joliet) {
    out.seek(kEscapeSequences);
    out.put_bytes(kJolietEscape);
  }
  out.seek(kVolumeSetSize);
  out.put_both16(1);  // volume set size
  out.put_both16(1);  // volume sequence number
  out.put_both16(kSectorSize);
  out.put_both32(joliet ? cd.PathTableWidthJ : cd.PathTableWidth);
  out.put_le32((joliet ? cd.path_table_extent_j_l : cd.PathTableExtentL) + cd.FirstWritableSector);
  out.put_le32(0);
  out.put_be32((joliet ? cd.path_table_extent_j_m : cd.path_table_extent_m) + cd.FirstWritableSector);
  out.put_be32(0);
  PutRootRecord(out, cd, tree);

  out.seek(kCreationDate);
  PutVolumeDate(out, cd.VolumeTime);  // creation
  PutVolumeDate(out, cd.VolumeTime);  // modification
  PutUnspecifiedVolumeDate(out);      // expiration
  PutUnspecifiedVolumeDate(out);      // effective
  out.seek(kFileStructureVersion);
  out.put_u8(kind == TKind::Enhanced ? 2 : 1);
}

}  // namespace

std::string IsoVolumeId(const TCDFiles& cd) {
  std::u16string_view label(cd.VolumeLabelW, std::size(cd.VolumeLabelW));
  label = label.substr(0, std::min(label.find(u'\0'), label.size()));
  std::string id;
  for (std::size_t i = 0; i < label.size() && id.size() < kVolumeIdBytes; ++i) {
    const char16_t unit = label[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < label.size()) ++i;  // one '_' for the pair
    if (unit >= u'a' && unit <= u'z') {
      id.push_back(static_cast<char>(unit - u'a' + 'A'));
    } else if ((unit >= u'A' && unit <= u'Z') || (unit >= u'0' && unit <= u'9') || unit == u'_') {
      id.push_back(static_cast<char>(unit));
    } else {
      id.push_back('_');
    }
  }
  return id;
}

std::u16string JolietVolumeId(const TCDFiles& cd) {
  std::u16string_view label(cd.VolumeLabelW, std::size(cd.VolumeLabelW));
  label = label.substr(0, std::min(label.find(u'\0'), label.size()));
  return RecordableName(label.substr(0, Utf16PrefixLength(label, kVolumeIdBytes / 2)));
}

void WritePrimaryDescriptor(TByteWriter& sector, const TCDFiles& cd) { WriteDescriptor(sector, cd, TKind::Primary); }
void WriteEnhancedDescriptor(TByteWriter& sector, const TCDFiles& cd) { WriteDescriptor(sector, cd, TKind::Enhanced); }
void WriteJolietDescriptor(TByteWriter& sector, const TCDFiles& cd) { WriteDescriptor(sector, cd, TKind::Joliet); }

void WriteTerminator(TByteWriter& sector) { PutHead(sector, 0xFF, 1); }

}  // namespace kilnor
