#include "engine/device/Commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "engine/device/Speeds.h"
#include "engine/device/WireBytes.h"

namespace kilnor {

namespace {

using wire::GetBE16;
using wire::GetBE24;
using wire::GetBE32;
using wire::PutBE16;
using wire::PutBE32;

constexpr std::size_t kDiscInformationMinimum = 7;  // through the last track's low byte
constexpr std::uint32_t kTrackInformationBytes = 38;
constexpr std::size_t kTrackInformationMinimum = 28;  // through the track size
constexpr std::uint32_t kConfigurationBytes = 256;
constexpr std::size_t kConfigurationHeaderBytes = 8;
constexpr std::uint32_t kFormatCapacitiesBytes = 124;
constexpr std::uint32_t kBufferCapacityBytes = 32;
constexpr std::uint16_t kModeSenseWriteParametersBytes = 512;
constexpr std::uint32_t kPerformanceDescriptorBytes = 28;
constexpr std::uint32_t kTimeStampBytes = 22;
constexpr std::uint16_t kMaxCDSpeedField = 0xFFFF;
constexpr std::uint16_t kPauseLength = 150;

// The write parameters page every composition starts from: buffer-underrun
// free recording, multi-session, Mode 1 blocks, pause 150.
constexpr std::uint8_t kDefaultWriteParameters[] = {0x05, 0x32, 0x42, 0xC4, 0x08, 0x00, 0x00, 0x00,
                                                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x96};

[[nodiscard]] std::span<std::uint8_t> Cdb(TSRB_ExecSCSICmd& Srb) {
  return {Srb.CDBByte, sizeof Srb.CDBByte};
}

[[nodiscard]] bool Completed(std::uint8_t Status) { return Status == SS_COMP; }
[[nodiscard]] bool CompletedOrPending(std::uint8_t Status) {
  return Status == SS_COMP || Status == SS_PENDING;
}

using TExecute = std::uint8_t (*)(TSCSIDevice&, TSRB_ExecSCSICmd&);

// A command with Data going Direction: operation code and CDB length; Fill
// sets the rest of the CDB; Execute sends it.
[[nodiscard]] std::uint8_t SendWith(TExecute Execute, TSCSIDevice& Dev, TDataDirection Direction,
                                    std::uint8_t CDBLength, std::span<const std::uint8_t> Data,
                                    std::uint8_t Code, auto Fill) {
  TSRB_ExecSCSICmd srb = MakeSRB(Direction, CDBLength, const_cast<std::uint8_t*>(Data.data()),
                                 static_cast<std::uint32_t>(Data.size()));
  srb.CDBByte[0] = Code;
  Fill(Cdb(srb));
  return Execute(Dev, srb);
}

// Queries and settings: sent again while the drive is getting over a medium
// change, a reset or a spin-up.
[[nodiscard]] std::uint8_t Send(TSCSIDevice& Dev, TDataDirection Direction, std::uint8_t CDBLength,
                                std::span<const std::uint8_t> Data, std::uint8_t Code, auto Fill) {
  return SendWith(ExecSCSICommandSettled, Dev, Direction, CDBLength, Data, Code, Fill);
}
[[nodiscard]] std::uint8_t SendNoData(TSCSIDevice& Dev, std::uint8_t CDBLength, std::uint8_t Code,
                                      auto Fill) {
  return Send(Dev, TDataDirection::None, CDBLength, {}, Code, Fill);
}

// Transfers and the commands that record, close or erase: sent once, so
// that a reset or a medium change in the middle of a recording is reported
// to the caller, whose own rules decide what follows.
[[nodiscard]] std::uint8_t SendOnce(TSCSIDevice& Dev, TDataDirection Direction,
                                    std::uint8_t CDBLength, std::span<const std::uint8_t> Data,
                                    std::uint8_t Code, auto Fill) {
  return SendWith(ExecSCSICommand, Dev, Direction, CDBLength, Data, Code, Fill);
}
[[nodiscard]] std::uint8_t SendNoDataOnce(TSCSIDevice& Dev, std::uint8_t CDBLength,
                                          std::uint8_t Code, auto Fill) {
  return SendOnce(Dev, TDataDirection::None, CDBLength, {}, Code, Fill);
}

[[nodiscard]] TDiscInformation DecodeDiscInformation(std::span<const std::uint8_t> Reply) {
  TDiscInformation info;
  const auto byteAt = [&](std::size_t At) -> std::uint8_t {
    return At < Reply.size() ? Reply[At] : 0;
  };
  const auto joined = [&](std::size_t Low, std::size_t High) {
    return static_cast<std::uint16_t>(byteAt(High) << 8 | byteAt(Low));
  };
  info.DataLen = Reply.size() >= 2 ? GetBE16(Reply, 0) : 0;
  info.info = byteAt(2);
  info.FirstTrack = byteAt(3);
  info.Sessions = joined(4, 9);
  info.FirstTrackOfLastSession = joined(5, 10);
  info.LastTrackOfLastSession = joined(6, 11);
  info.info2 = byteAt(7);
  info.DiscType = byteAt(8);
  info.DiscIdentification = Reply.size() >= 16 ? GetBE32(Reply, 12) : 0;
  return info;
}

[[nodiscard]] TTrackInformation DecodeTrackInformation(std::span<const std::uint8_t> Reply) {
  TTrackInformation info;
  const auto byteAt = [&](std::size_t At) -> std::uint8_t {
    return At < Reply.size() ? Reply[At] : 0;
  };
  const auto be32At = [&](std::size_t At) {
    return At + 4 <= Reply.size() ? GetBE32(Reply, At) : 0;
  };
  info.DataLength = GetBE16(Reply, 0);
  info.TrackNumber = static_cast<std::uint16_t>(byteAt(32) << 8 | byteAt(2));
  info.SessionNumber = static_cast<std::uint16_t>(byteAt(33) << 8 | byteAt(3));
  info.info1 = byteAt(5);
  info.info2 = byteAt(6);
  info.Reserved2 = byteAt(7);
  info.TrackStartAddress = be32At(8);
  info.NextWritableAddress = be32At(12);
  info.FreeBlocks = be32At(16);
  info.FixedPacketSize = be32At(20);
  info.TrackSize = be32At(24);
  info.LastRecordedAddress = be32At(28);
  return info;
}

[[nodiscard]] TConfigHeader DecodeConfiguration(std::span<const std::uint8_t> Reply) {
  TConfigHeader header;
  header.DataLength = GetBE32(Reply, 0);
  header.CurrentProfile = GetBE16(Reply, 6);
  if (Reply.size() < 12) return header;
  header.FeatureCode = GetBE16(Reply, 8);
  header.Version = Reply[10];
  header.AdditionalLength = Reply[11];
  if (Reply.size() > 12 && header.AdditionalLength > 0) header.info = Reply[12];
  return header;
}

[[nodiscard]] std::uint8_t WithLowNibble(std::uint8_t Byte, std::uint8_t Nibble) {
  return static_cast<std::uint8_t>((Byte & 0xF0) | Nibble);
}

// The write parameters page's byte that holds the multi-session field.
constexpr std::size_t kTrackMode = 3;
constexpr std::uint8_t kMultisession = 0xC0;

// Composes the write parameters page for one medium into Page (72 bytes).
void ComposeWriteParameters(std::span<std::uint8_t, kModePage05Size> Page,
                            std::uint8_t DrivePageLen, bool TestWrite, bool BurnProof,
                            bool Multisession, TMedium Medium, bool DriveHasUnderrunFreeRecording) {
  constexpr std::size_t kWriteType = 2, kDataBlockType = 4, kLinkSize = 5, kRes6 = 6, kSessionFormat = 8,
                        kPacketSize = 10, kPauseLengthAt = 14;
  constexpr std::uint8_t kBufe = 0x40, kLinkSizeValid = 0x20, kTestWriteBit = 0x10, kFixedPacket = 0x20;
  std::fill(Page.begin(), Page.end(), std::uint8_t{0});
  std::copy(std::begin(kDefaultWriteParameters), std::end(kDefaultWriteParameters), Page.begin());
  Page[0] = 0x05;
  Page[1] = DrivePageLen;
  std::uint8_t writeType = 1, trackMode = 4;
  switch (Medium) {
    case mtDDCDR:
    case mtDDCDRW:
      writeType = 2;
      trackMode = 5;
      break;
    case mtDVDR:
    case mtDVDRW:
    case mtDVDRWRO:
    case mtDVDRWSR:
      writeType = 0;
      trackMode = 5;
      break;
    default: break;
  }
  Page[kWriteType] = WithLowNibble(Page[kWriteType], writeType);
  Page[kTrackMode] = WithLowNibble(Page[kTrackMode], trackMode);
  Page[kDataBlockType] = WithLowNibble(Page[kDataBlockType], 8);
  Page[kSessionFormat] = 0;
  const auto setMultisession = [&](bool On) {
    Page[kTrackMode] =
        static_cast<std::uint8_t>((Page[kTrackMode] & ~kMultisession) | (On ? kMultisession : 0));
  };
  const auto setFixedPacket = [&](bool On) {
    Page[kTrackMode] =
        static_cast<std::uint8_t>((Page[kTrackMode] & ~kFixedPacket) | (On ? kFixedPacket : 0));
  };
  const auto setPacketSize = [&](std::uint32_t Blocks) { PutBE32(Page, kPacketSize, Blocks); };
  if (!TestWrite) setMultisession(Multisession);

  if (Medium == mtDVDR || Medium == mtDVDRWSR || Medium == mtDVDRWRO) {
    setMultisession(true);
    setFixedPacket(Medium == mtDVDR);
    setPacketSize(16);
    Page[kLinkSize] = 16;
    Page[kWriteType] |= kLinkSizeValid;
  }
  const bool plusMedium = Medium == mtDVDPLUSR || Medium == mtDVDPLUSRW || Medium == mtDVDPLUSRDL;
  if (plusMedium) {
    Page[kWriteType] =
        static_cast<std::uint8_t>(WithLowNibble(Page[kWriteType], 2) | kLinkSizeValid);
    Page[kTrackMode] = WithLowNibble(Page[kTrackMode], 4);
    Page[kRes6] = 0;
    Page[kLinkSize] = 16;
    setFixedPacket(false);
    setPacketSize(0);
  }
  if (Medium == mtDVDPLUSR && Multisession) {
    setFixedPacket(true);
    setPacketSize(16);
  }
  if ((Medium == mtDVDPLUSR && !Multisession) || Medium == mtDVDPLUSRDL) Page[kLinkSize] = 0;
  if (Medium == mtDVDPLUSRDL)
    setMultisession(Multisession);
  else if (BurnProof && DriveHasUnderrunFreeRecording)
    Page[kWriteType] |= kBufe;
  PutBE16(Page, kPauseLengthAt, kPauseLength);
  if (TestWrite) Page[kWriteType] |= kTestWriteBit;
}

// READ (10) or WRITE (10) of `Blocks` sectors at `LBA`, carrying `Data`,
// metered for the speed the drive is seen to reach in that direction.
[[nodiscard]] bool Transfer10(TSCSIDevice& Dev, TMeterDirection Direction, std::uint32_t LBA,
                              std::uint16_t Blocks, std::span<const std::uint8_t> Data) {
  const bool reading = Direction == TMeterDirection::Read;
  const TMeterStart meter = StartMeter(Dev, Direction);
  const std::uint8_t status =
      SendOnce(Dev, reading ? TDataDirection::In : TDataDirection::Out, 10, Data,
               reading ? 0x28 : 0x2A, [&](auto cdb) {
                 PutBE32(cdb, 2, LBA);
                 PutBE16(cdb, 7, Blocks);
               });
  FinishMeter(Dev, Direction, meter, static_cast<std::uint32_t>(Data.size()));
  return Completed(status);
}

}  // namespace

std::span<const std::uint8_t> ValidReply(const TSCSIDevice& Dev,
                                         std::span<const std::uint8_t> Buffer,
                                         std::size_t FieldBytes) {
  const std::span<const std::uint8_t> returned =
      Buffer.first(std::min<std::size_t>(Buffer.size(), Dev.LastTransferLength));
  if (returned.size() < FieldBytes) return returned.first(0);
  const std::uint64_t field = FieldBytes == 4 ? GetBE32(returned, 0) : GetBE16(returned, 0);
  return returned.first(
      static_cast<std::size_t>(std::min<std::uint64_t>(returned.size(), FieldBytes + field)));
}

// --- Identification and readiness --------------------------------------

bool TestUnitReady(TSCSIDevice& Dev) {
  return Completed(SendNoData(Dev, 6, 0x00, [](auto) {}));
}

bool RezeroUnit(TSCSIDevice& Dev) {
  return Completed(SendNoData(Dev, 6, 0x01, [](auto) {}));
}

bool Inquiry(TSCSIDevice& Dev, std::span<std::uint8_t> Buffer) {
  if (Buffer.size() < kInquiryLength) return false;
  return Completed(Send(Dev, TDataDirection::In, 6, Buffer.first(kInquiryLength), 0x12,
                        [](auto cdb) { cdb[4] = kInquiryLength; }));
}

// --- Tray and medium lock ------------------------------------------------

bool LoadMedium(TSCSIDevice& Dev, bool Immediate) {
  return Completed(SendNoData(Dev, 6, 0x1B, [&](auto cdb) {
    cdb[1] = Immediate ? 1 : 0;
    cdb[4] = 0x03;
  }));
}

bool EjectMedium(TSCSIDevice& Dev, bool Immediate) {
  return Completed(SendNoData(Dev, 6, 0x1B, [&](auto cdb) {
    cdb[1] = Immediate ? 1 : 0;
    cdb[4] = 0x02;
  }));
}

bool LockMedium(TSCSIDevice& Dev) {
  return Completed(SendNoData(Dev, 6, 0x1E, [](auto cdb) { cdb[4] = 1; }));
}

bool UnlockMedium(TSCSIDevice& Dev) {
  return Completed(SendNoData(Dev, 6, 0x1E, [](auto cdb) { cdb[4] = 0; }));
}

bool UnlockDrive(TSCSIDevice& Dev) {
  TestUnitReady(Dev);
  return true;
}

// --- Medium state ----------------------------------------------------------

bool ReadDiscInformation(TSCSIDevice& Dev, TDiscInformation& Info, std::uint16_t AllocLength) {
  std::array<std::uint8_t, kDiscInformationBytes> reply{};
  const std::uint16_t asked = std::min<std::uint16_t>(AllocLength, kDiscInformationBytes);
  Info = {};
  const bool sent = Completed(Send(Dev, TDataDirection::In, 10, std::span(reply).first(asked), 0x51,
                                   [&](auto cdb) { PutBE16(cdb, 7, asked); }));
  const std::span<const std::uint8_t> valid = ValidReply(Dev, std::span(reply).first(asked), 2);
  if (!sent || valid.size() < kDiscInformationMinimum) return false;
  Info = DecodeDiscInformation(valid);
  return true;
}

namespace {

// The address types of READ TRACK INFORMATION.
constexpr std::uint8_t kAddressIsTrack = 0x01;
constexpr std::uint8_t kAddressIsSession = 0x02;

bool ReadTrackInformationBy(TSCSIDevice& Dev, std::uint8_t AddressType, std::uint32_t Number) {
  std::array<std::uint8_t, kTrackInformationBytes> reply{};
  Dev.TrackInformation = {};
  const bool sent = Completed(Send(Dev, TDataDirection::In, 10, reply, 0x52, [&](auto cdb) {
    cdb[1] = AddressType;
    PutBE32(cdb, 2, Number);
    PutBE16(cdb, 7, kTrackInformationBytes);
  }));
  const std::span<const std::uint8_t> valid = ValidReply(Dev, reply, 2);
  if (!sent || valid.size() < kTrackInformationMinimum) return false;
  Dev.TrackInformation = DecodeTrackInformation(valid);
  return true;
}

}  // namespace

bool ReadTrackInformation(TSCSIDevice& Dev, std::uint32_t Track) {
  return ReadTrackInformationBy(Dev, kAddressIsTrack, Track);
}

bool ReadTrackInformationOfSession(TSCSIDevice& Dev, std::uint32_t Session) {
  return ReadTrackInformationBy(Dev, kAddressIsSession, Session);
}

bool ReadTocPmaAtip(TSCSIDevice& Dev, std::uint8_t Format, std::uint8_t Number, bool MSF,
                    std::span<std::uint8_t> Buffer, std::uint8_t AllocLength) {
  if (Buffer.size() < AllocLength) return false;
  return Completed(
      Send(Dev, TDataDirection::In, 10, Buffer.first(AllocLength), 0x43, [&](auto cdb) {
        cdb[1] = MSF ? 0x02 : 0x00;
        cdb[2] = Format;
        cdb[6] = Number;
        cdb[8] = AllocLength;
      }));
}

bool GetConfiguration(TSCSIDevice& Dev, TConfigHeader& Header, std::uint16_t AllocLength,
                      std::uint16_t Feature) {
  std::array<std::uint8_t, kConfigurationBytes> reply{};
  const std::uint16_t asked = std::min<std::uint16_t>(AllocLength, kConfigurationBytes);
  Header = {};
  const bool sent = Completed(
      Send(Dev, TDataDirection::In, 10, std::span(reply).first(asked), 0x46, [&](auto cdb) {
        cdb[1] = 0x02;
        PutBE16(cdb, 2, Feature);
        PutBE16(cdb, 7, asked);
      }));
  const std::span<const std::uint8_t> valid = ValidReply(Dev, std::span(reply).first(asked), 4);
  if (!sent || valid.size() < kConfigurationHeaderBytes) return false;
  Header = DecodeConfiguration(valid);
  return true;
}

bool ReadFormatCapacityList(TSCSIDevice& Dev, TFormatCapacities& List) {
  std::array<std::uint8_t, kFormatCapacitiesBytes> reply{};
  List = {};
  const bool sent = Completed(Send(Dev, TDataDirection::In, 10, reply, 0x23,
                                   [](auto cdb) { PutBE16(cdb, 7, kFormatCapacitiesBytes); }));
  if (!sent) return false;
  const std::span<const std::uint8_t> returned =
      std::span(reply).first(std::min<std::size_t>(reply.size(), Dev.LastTransferLength));
  if (returned.size() < 4) return true;
  const std::size_t listBytes = std::min<std::size_t>(returned.size() - 4, returned[3]);
  List.Count = std::min(listBytes / 8, kMaxCapacityDescriptors);
  for (std::size_t i = 0; i < List.Count; ++i) {
    const std::size_t at = 4 + 8 * i;
    List.Descriptors[i] = {GetBE32(returned, at), returned[at + 4], GetBE24(returned, at + 5)};
  }
  return true;
}

bool ModeSense10(TSCSIDevice& Dev, std::span<std::uint8_t> Buffer, std::uint16_t AllocLength,
                 bool Defaults, std::uint8_t PageCode) {
  if (Buffer.size() < AllocLength) return false;
  return CompletedOrPending(
      Send(Dev, TDataDirection::In, 10, Buffer.first(AllocLength), 0x5A, [&](auto cdb) {
        cdb[2] = static_cast<std::uint8_t>(Defaults ? PageCode + 0x80 : PageCode);
        PutBE16(cdb, 7, AllocLength);
      }));
}

bool ModeSelect10(TSCSIDevice& Dev, std::span<std::uint8_t> Buffer, std::uint16_t Length) {
  if (Buffer.size() < Length) return false;
  return CompletedOrPending(
      Send(Dev, TDataDirection::Out, 10, Buffer.first(Length), 0x55, [&](auto cdb) {
        cdb[1] = 0x10;
        PutBE16(cdb, 7, Length);
      }));
}

bool LocateModePage(std::span<const std::uint8_t> Reply, std::uint8_t PageCode,
                    TModePageSpan& Page) {
  constexpr std::size_t kHeaderBytes = 8;
  if (Reply.size() < kHeaderBytes) return false;
  const std::size_t offset = kHeaderBytes + GetBE16(Reply, 6);
  if (offset + 2 > Reply.size() || (Reply[offset] & 0x3F) != PageCode) return false;
  Page.Offset = offset;
  Page.Length = std::min<std::size_t>(Reply[offset + 1] + 2u, Reply.size() - offset);
  return true;
}

// --- Data transfer ---------------------------------------------------------

bool Read10(TSCSIDevice& Dev, std::uint32_t LBA, std::uint16_t Blocks,
            std::span<std::uint8_t> Buffer) {
  const std::uint32_t bytes = std::uint32_t{Blocks} * kSectorBytes;
  if (Buffer.size() < bytes) return false;
  return Transfer10(Dev, TMeterDirection::Read, LBA, Blocks, Buffer.first(bytes));
}

bool Write10(TSCSIDevice& Dev, std::uint32_t LBA, std::uint16_t Blocks, std::uint32_t Bytes,
             std::span<const std::uint8_t> Buffer) {
  if (Buffer.size() < Bytes) return false;
  return Transfer10(Dev, TMeterDirection::Write, LBA, Blocks, Buffer.first(Bytes));
}

bool SynchronizeCache(TSCSIDevice& Dev, bool Immediate) {
  return CompletedOrPending(
      SendNoDataOnce(Dev, 10, 0x35, [&](auto cdb) { cdb[1] = Immediate ? 0x02 : 0; }));
}

bool ReadBufferCapacity(TSCSIDevice& Dev) {
  std::array<std::uint8_t, kBufferCapacityBytes> reply{};
  const bool sent = Completed(Send(Dev, TDataDirection::In, 10, reply, 0x5C,
                                   [](auto cdb) { cdb[8] = kBufferCapacityBytes; }));
  const std::span<const std::uint8_t> valid = ValidReply(Dev, reply, 2);
  if (!sent || valid.size() < 12) return false;
  Dev.DeviceBufferSize = GetBE32(valid, 4);
  Dev.DeviceBufferPosition = GetBE32(valid, 8);
  return true;
}

// --- Track, session and disc preparation ------------------------------------

bool ReserveTrack(TSCSIDevice& Dev, std::uint32_t Blocks) {
  return Completed(SendNoDataOnce(Dev, 10, 0x53, [&](auto cdb) { PutBE32(cdb, 5, Blocks); }));
}

bool CloseTrackSession(TSCSIDevice& Dev, bool Immediate, std::uint8_t Function,
                       std::uint16_t Number) {
  return CompletedOrPending(SendNoDataOnce(Dev, 10, 0x5B, [&](auto cdb) {
    cdb[1] = Immediate ? 1 : 0;
    cdb[2] = Function;
    PutBE16(cdb, 4, Number);
  }));
}

bool CloseTrackOrSession(TSCSIDevice& Dev, bool CloseTrack, bool Immediate, std::uint16_t Track) {
  return Completed(SendNoDataOnce(Dev, 10, 0x5B, [&](auto cdb) {
    cdb[1] = Immediate ? 1 : 0;
    cdb[2] = CloseTrack ? 1 : 2;
    PutBE16(cdb, 4, Track);
  }));
}

bool FormatUnit(TSCSIDevice& Dev, std::uint8_t FormatByte,
                std::span<const std::uint8_t> ParamList) {
  return CompletedOrPending(
      SendOnce(Dev, TDataDirection::Out, 6, ParamList, 0x04, [&](auto cdb) { cdb[1] = FormatByte; }));
}

bool BlankMedium(TSCSIDevice& Dev, bool Quick) {
  return CompletedOrPending(
      SendNoDataOnce(Dev, 12, 0xA1, [&](auto cdb) { cdb[1] = Quick ? 0x11 : 0x10; }));
}

bool SendDVDStructure(TSCSIDevice& Dev, std::uint8_t Format, std::span<const std::uint8_t> Buffer) {
  return Completed(SendOnce(Dev, TDataDirection::Out, 12, Buffer, 0xBF, [&](auto cdb) {
    cdb[7] = Format;
    PutBE16(cdb, 8, static_cast<std::uint16_t>(Buffer.size()));
  }));
}

// --- Speed -------------------------------------------------------------------

bool SetCDSpeed(TSCSIDevice& Dev, std::uint32_t ReadSpeed, std::uint32_t WriteSpeed) {
  const auto field = [](std::uint32_t Speed) {
    return Speed == 0
               ? kMaxCDSpeedField
               : static_cast<std::uint16_t>(std::min<std::uint32_t>(Speed, kMaxCDSpeedField));
  };
  return Completed(SendNoData(Dev, 12, 0xBB, [&](auto cdb) {
    cdb[1] = 0x01;
    PutBE16(cdb, 2, field(ReadSpeed));
    PutBE16(cdb, 4, field(WriteSpeed));
  }));
}

bool SetStreaming(TSCSIDevice& Dev, std::span<const std::uint8_t> Buffer) {
  return Completed(Send(Dev, TDataDirection::Out, 12, Buffer, 0xB6, [&](auto cdb) {
    PutBE16(cdb, 9, static_cast<std::uint16_t>(Buffer.size()));
  }));
}

// --- Composite operations ------------------------------------------------------

namespace {

// Reads the drive's write parameters page and sends it back as Compose sets
// Dev.ModePage05, given the drive's page length.
template <class TCompose>
[[nodiscard]] bool SendWriteParameters(TSCSIDevice& Dev, TCompose&& Compose) {
  const std::span<std::uint8_t> buffer(Dev.tmpBuffer);
  if (!ModeSense10(Dev, buffer, kModeSenseWriteParametersBytes, false, 0x05)) return false;
  const std::span<const std::uint8_t> reply =
      buffer.first(std::min<std::size_t>(kModeSenseWriteParametersBytes, Dev.LastTransferLength));
  TModePageSpan page;
  if (!LocateModePage(reply, 0x05, page)) return false;
  const std::size_t copied = std::min(page.Length - 2, kModePage05Size - 2);
  Compose(reply[page.Offset + 1]);
  std::copy_n(Dev.ModePage05.begin(), copied,
              buffer.begin() + static_cast<std::ptrdiff_t>(page.Offset));
  return ModeSelect10(Dev, buffer, static_cast<std::uint16_t>(page.Offset + copied + 2));
}

}  // namespace

bool SetWriteParameters(TSCSIDevice& Dev, bool TestWrite, bool BurnProof, bool Multisession,
                        TMedium Medium) {
  Dev.ModePage05 = {};
  return SendWriteParameters(Dev, [&](std::uint8_t DrivePageLen) {
    ComposeWriteParameters(Dev.ModePage05, DrivePageLen, TestWrite, BurnProof, Multisession, Medium,
                           (Dev.ModePage2A.OtherInfo & 0x80) != 0);
  });
}

bool ClearMultisession(TSCSIDevice& Dev) {
  if (Dev.ModePage05[0] != 0x05) return false;
  return SendWriteParameters(Dev, [&](std::uint8_t) {
    Dev.ModePage05[kTrackMode] = static_cast<std::uint8_t>(Dev.ModePage05[kTrackMode] & ~kMultisession);
  });
}

bool SetStreamingPerformance(TSCSIDevice& Dev, std::uint32_t EndLBA, std::uint32_t ReadSize,
                             std::uint32_t WriteSize, std::uint32_t ReadTime,
                             std::uint32_t WriteTime) {
  const std::span<std::uint8_t> descriptor =
      std::span(Dev.tmpBuffer).first(kPerformanceDescriptorBytes);
  std::fill(descriptor.begin(), descriptor.end(), std::uint8_t{0});
  PutBE32(descriptor, 8, EndLBA);
  PutBE32(descriptor, 12, ReadSize);
  PutBE32(descriptor, 16, ReadTime);
  PutBE32(descriptor, 20, WriteSize);
  PutBE32(descriptor, 24, WriteTime);
  return SetStreaming(Dev, descriptor);
}

bool SendTimeStamp(TSCSIDevice& Dev) {
  const std::span<std::uint8_t> list = std::span(Dev.tmpBuffer).first(kTimeStampBytes);
  std::fill(list.begin(), list.end(), std::uint8_t{0});
  PutBE16(list, 0, kTimeStampBytes - 2);
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", (local.tm_year + 1900) % 10000,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  std::copy_n(stamp, 14, list.begin() + 8);
  return SendDVDStructure(Dev, 0x0F, list);
}

}  // namespace kilnor
