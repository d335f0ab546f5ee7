#pragma once
// SCSI records shared by the transport and the command set.
#include <cstddef>
#include <cstdint>

namespace kilnor {

// Fixed-format sense data (SPC).
struct TSENSE {
  std::uint8_t ErrorCode;
  std::uint8_t SegmentNum;
  std::uint8_t SenseKey;
  std::uint8_t InfoByte0, InfoByte1, InfoByte2, InfoByte3;
  std::uint8_t AddSenLen;
  std::uint8_t ComSpecInf0, ComSpecInf1, ComSpecInf2, ComSpecInf3;
  std::uint8_t AddSenseCode;
  std::uint8_t AddSenQual;
  std::uint8_t FieldRepUCode;
  std::uint8_t SenKeySpec15, SenKeySpec16, SenKeySpec17;
  std::uint8_t AddSenseBytes[14];
};
static_assert(sizeof(TSENSE) == 32);

// Address of a drive on its host adapter.
struct TSCSI_ADDRESS {
  std::uint32_t Length;
  std::uint8_t PortNumber;
  std::uint8_t PathId;
  std::uint8_t TargetId;
  std::uint8_t Lun;
};
static_assert(sizeof(TSCSI_ADDRESS) == 8);

// MMC replies, decoded into host order from the bytes the drive returned.
// A field the reply did not carry (short transfer, or outside the reply's own
// length field) stays 0.

// READ TRACK INFORMATION. Track and session numbers join their low and high
// bytes.
struct TTrackInformation {
  std::uint16_t DataLength = 0;
  std::uint16_t TrackNumber = 0;
  std::uint16_t SessionNumber = 0;
  std::uint8_t info1 = 0;          // damage, copy and track-mode bits
  std::uint8_t info2 = 0;          // 80h reserved, 40h blank, 20h incremental, 10h fixed packet
  std::uint8_t Reserved2 = 0;      // address-valid bits
  std::uint32_t TrackStartAddress = 0;
  std::uint32_t NextWritableAddress = 0;
  std::uint32_t FreeBlocks = 0;
  std::uint32_t FixedPacketSize = 0;
  std::uint32_t TrackSize = 0;     // kUnknownTrackSize when the drive does not know
  std::uint32_t LastRecordedAddress = 0;
};
inline constexpr std::uint32_t kUnknownTrackSize = 0xFFFFFFFF;

// The additional sense code of "logical unit not ready": the drive is busy
// with something (becoming ready, formatting, closing) and is asked again.
inline constexpr std::uint8_t kAscNotReady = 0x04;

// READ DISC INFORMATION. Counts join their low and high bytes.
inline constexpr std::uint16_t kDiscInformationBytes = 64;   // the whole reply
inline constexpr std::uint16_t kDiscInformationPollBytes = 42;  // asked while waiting for a drive
inline constexpr std::uint8_t kDiscStatusMask = 0x03;          // of info: 0 empty, 1 appendable, 2 complete
struct TDiscInformation {
  std::uint16_t DataLen = 0;
  std::uint8_t info = 0;           // 10h erasable, 0Ch last-session state, 03h disc status
  std::uint8_t FirstTrack = 0;
  std::uint16_t Sessions = 0;
  std::uint16_t FirstTrackOfLastSession = 0;
  std::uint16_t LastTrackOfLastSession = 0;
  std::uint8_t info2 = 0;          // valid bits
  std::uint8_t DiscType = 0;
  std::uint32_t DiscIdentification = 0;
};

// GET CONFIGURATION: the header and the first feature descriptor.
struct TConfigHeader {
  std::uint32_t DataLength = 0;
  std::uint16_t CurrentProfile = 0;
  std::uint16_t FeatureCode = 0;
  std::uint8_t Version = 0;        // version, persistent and current bits
  std::uint8_t AdditionalLength = 0;
  std::uint8_t info = 0;           // first byte of the feature's data
};

// The capabilities and mechanical status page (2Ah), plus the two maximum
// speeds of the drive's default values.
struct TModePage2A {
  std::uint8_t PageCode = 0;
  std::uint8_t PageLen = 0;
  std::uint8_t ReadInfo = 0;       // 01h CD-R, 02h CD-RW, 04h Method 2, 08h DVD-ROM, 10h DVD-R, 20h DVD-RAM
  std::uint8_t WriteInfo = 0;      // 01h CD-R, 02h CD-RW, 04h test write, 10h DVD-R, 20h DVD-RAM
  std::uint8_t OtherInfo = 0;      // 80h buffer-underrun-free recording
  std::uint8_t CDDASupported = 0;
  std::uint8_t Lock = 0;
  std::uint8_t SepChanVol = 0;
  std::uint16_t MaxReadSpeed = 0;
  std::uint16_t NumVolLevels = 0;
  std::uint16_t BufferSize = 0;    // kilobytes
  std::uint16_t CurReadSpeed = 0;
  std::uint8_t BCK = 0;
  std::uint16_t MaxWriteSpeed = 0;
  std::uint16_t CurWriteSpeed = 0;
  std::uint16_t DeviceMaxReadSpeed = 0;
  std::uint16_t DeviceMaxWriteSpeed = 0;
};

// What the drive can read and write, from the capabilities page and the
// feature probes.
struct TDC {
  bool Read_CDR, Read_CDRW, Read_Method2, Read_DVDR, Read_DVDRW, Read_DVDRAM, Read_DVDPLUSR,
      Read_DVDPLUSRDL, Read_DVDPLUSRW, Read_DVDROM, Read_BDROM, Read_BDR, Read_BDRE,
      Read_HDDVDROM, Read_HDDVDR, Read_HDDVDRAM;
  bool Write_CDR, Write_CDRW, Write_DVDR, Write_DVDRW, Write_DVDRAM, Write_DVDPLUSR,
      Write_DVDPLUSRDL, Write_DVDPLUSRW, Write_BDR, Write_BDRE, Write_HDDVDR, Write_HDDVDRAM;
  bool TestWrite, UnderRunProtection;
};

// The write parameters page (05h) as composed for MODE SELECT.
inline constexpr std::size_t kModePage05Size = 72;

}  // namespace kilnor
