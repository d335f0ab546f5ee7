#pragma once
// The SCSI commands the engine sends, one function each: CDB length, data
// direction and transfer length are stated where the command is built, and a
// reply is decoded only as far as the drive returned it and as its own
// length fields say. Every function reports success only; the reason of a
// failure is in Dev.LastSenseInfo, Dev.DeviceError and Dev.TargetBusy.
// Queries and settings are sent again while the drive is getting over a
// medium change, a reset or a spin-up (Settle.h); transfers and the commands
// that record, close or erase are sent once.
#include <array>
#include <cstdint>
#include <span>

#include "engine/device/SCSILib.h"

namespace kilnor {

inline constexpr std::uint32_t kInquiryLength = 64;
inline constexpr std::uint32_t kSectorBytes = 2048;
inline constexpr std::uint32_t kPacketBytes = 65536;
// The track number that asks for the invisible or incomplete track.
inline constexpr std::uint32_t kInvisibleTrack = 255;

// The part of a reply in Buffer that both the bytes the drive returned and
// the reply's own length field cover. FieldBytes is the width of that field
// at the start of the reply (2 or 4); it counts the bytes after itself.
[[nodiscard]] std::span<const std::uint8_t> ValidReply(const TSCSIDevice& Dev,
                                                       std::span<const std::uint8_t> Buffer,
                                                       std::size_t FieldBytes);

// --- Identification and readiness --------------------------------------

// TEST UNIT READY (00h): no data.
bool TestUnitReady(TSCSIDevice& Dev);
// REZERO UNIT (01h): no data.
bool RezeroUnit(TSCSIDevice& Dev);
// INQUIRY (12h): 64 bytes into Buffer, which must hold at least that many.
// Dev.LastTransferLength tells how many the drive returned.
bool Inquiry(TSCSIDevice& Dev, std::span<std::uint8_t> Buffer);

// --- Tray and medium lock ------------------------------------------------

// START STOP UNIT (1Bh): load and start / eject.
bool LoadMedium(TSCSIDevice& Dev, bool Immediate);
bool EjectMedium(TSCSIDevice& Dev, bool Immediate);
// PREVENT ALLOW MEDIUM REMOVAL (1Eh).
bool LockMedium(TSCSIDevice& Dev);
bool UnlockMedium(TSCSIDevice& Dev);
// Sends TEST UNIT READY only and reports success whatever it answers.
bool UnlockDrive(TSCSIDevice& Dev);

// --- Medium state ----------------------------------------------------------

// READ DISC INFORMATION (51h): AllocLength bytes (at most 64) asked for,
// decoded into Info; Info is zero when the command fails.
bool ReadDiscInformation(TSCSIDevice& Dev, TDiscInformation& Info, std::uint16_t AllocLength);
// READ TRACK INFORMATION (52h) of a track number, sent in full: 38 bytes
// into Dev.TrackInformation (zero when the command fails). A reply too short
// to carry the track size counts as a failure.
bool ReadTrackInformation(TSCSIDevice& Dev, std::uint32_t Track);
// READ TRACK INFORMATION (52h) asked by session number (address type 10b):
// the first track of that session, decoded as above.
bool ReadTrackInformationOfSession(TSCSIDevice& Dev, std::uint32_t Session);
// READ TOC/PMA/ATIP (43h): AllocLength bytes into Buffer (at least that big).
bool ReadTocPmaAtip(TSCSIDevice& Dev, std::uint8_t Format, std::uint8_t Number, bool MSF,
                    std::span<std::uint8_t> Buffer, std::uint8_t AllocLength);
// GET CONFIGURATION (46h) of one feature: AllocLength bytes (at most 256)
// asked for, decoded into Header, which is zeroed first. A reply without the
// current profile counts as a failure.
bool GetConfiguration(TSCSIDevice& Dev, TConfigHeader& Header, std::uint16_t AllocLength,
                      std::uint16_t Feature);

// One descriptor of a READ FORMAT CAPACITIES reply. The first descriptor of
// a list is the current or maximum capacity (TypeByte bits 1-0: descriptor
// type); the others are formattable capacities (TypeByte bits 7-2: format
// type; Parameter: type-dependent, the block length for type 00h).
struct TCapacityDescriptor {
  std::uint32_t Blocks = 0;
  std::uint8_t TypeByte = 0;
  std::uint32_t Parameter = 0;
};
inline constexpr std::size_t kMaxCapacityDescriptors = 15;
struct TFormatCapacities {
  std::array<TCapacityDescriptor, kMaxCapacityDescriptors> Descriptors{};
  std::size_t Count = 0;
};
// READ FORMAT CAPACITIES (23h): 124 bytes asked for; the descriptors inside
// the capacity list length and the bytes returned.
bool ReadFormatCapacityList(TSCSIDevice& Dev, TFormatCapacities& List);

// MODE SENSE (10) (5Ah): AllocLength bytes into Buffer (at least that big),
// default or current values. A pending status counts as success.
bool ModeSense10(TSCSIDevice& Dev, std::span<std::uint8_t> Buffer, std::uint16_t AllocLength,
                 bool Defaults, std::uint8_t PageCode);
// MODE SELECT (10) (55h) with the page-format bit: Length bytes of Buffer.
// A pending status counts as success.
bool ModeSelect10(TSCSIDevice& Dev, std::span<std::uint8_t> Buffer, std::uint16_t Length);

// Where a mode page sits in a MODE SENSE (10) reply: after the 8-byte header
// and the block descriptors the header announces. Length covers the page
// code and length bytes and is clamped to the page's own length, the mode
// data length and the bytes returned.
struct TModePageSpan {
  std::size_t Offset = 0;
  std::size_t Length = 0;
};
// Found when the reply holds at least the page's two header bytes and its
// page code (low six bits) is PageCode.
[[nodiscard]] bool LocateModePage(std::span<const std::uint8_t> Reply, std::uint8_t PageCode,
                                  TModePageSpan& Page);

// --- Data transfer ---------------------------------------------------------

// READ (10) (28h): Blocks sectors into Buffer (at least Blocks * 2048 bytes).
// Runs the read meter.
bool Read10(TSCSIDevice& Dev, std::uint32_t LBA, std::uint16_t Blocks,
            std::span<std::uint8_t> Buffer);
// WRITE (10) (2Ah): Blocks sectors from the first Bytes bytes of Buffer.
// Runs the write meter.
bool Write10(TSCSIDevice& Dev, std::uint32_t LBA, std::uint16_t Blocks, std::uint32_t Bytes,
             std::span<const std::uint8_t> Buffer);
// SYNCHRONIZE CACHE (35h). A pending status counts as success.
bool SynchronizeCache(TSCSIDevice& Dev, bool Immediate);
// READ BUFFER CAPACITY (5Ch): 32 bytes; on success Dev.DeviceBufferSize and
// Dev.DeviceBufferPosition take the buffer length and the blank length.
bool ReadBufferCapacity(TSCSIDevice& Dev);

// --- Track, session and disc preparation ------------------------------------

// RESERVE TRACK (53h) of Blocks sectors.
bool ReserveTrack(TSCSIDevice& Dev, std::uint32_t Blocks);
// CLOSE TRACK/SESSION (5Bh) with a close function and a track or session
// number (bytes 4-5). A pending status counts as success.
bool CloseTrackSession(TSCSIDevice& Dev, bool Immediate, std::uint8_t Function,
                       std::uint16_t Number);
// CLOSE TRACK/SESSION (5Bh): close function 1 (track) or 2 (session).
bool CloseTrackOrSession(TSCSIDevice& Dev, bool CloseTrack, bool Immediate, std::uint16_t Track);
// FORMAT UNIT (04h): byte 1 = FormatByte, Length bytes of ParamList sent.
// A pending status counts as success.
bool FormatUnit(TSCSIDevice& Dev, std::uint8_t FormatByte, std::span<const std::uint8_t> ParamList);
// BLANK (A1h), always immediate: minimal blank when Quick, else full.
// A pending status counts as success.
bool BlankMedium(TSCSIDevice& Dev, bool Quick);
// SEND DVD STRUCTURE (BFh): Buffer sent with a structure format.
bool SendDVDStructure(TSCSIDevice& Dev, std::uint8_t Format, std::span<const std::uint8_t> Buffer);

// --- Speed -------------------------------------------------------------------

// SET CD SPEED (BBh), KB/s. 0 asks for the maximum and, like any speed the
// 16-bit field cannot hold, is sent as FFFFh.
bool SetCDSpeed(TSCSIDevice& Dev, std::uint32_t ReadSpeed, std::uint32_t WriteSpeed);
// SET STREAMING (B6h), type 0: Buffer holds one performance descriptor.
bool SetStreaming(TSCSIDevice& Dev, std::span<const std::uint8_t> Buffer);

// --- Composite operations ------------------------------------------------------

// Reads the write parameters page (05h) and sends it back composed for the
// medium: write type, track mode, multi-session, packet and link sizes,
// buffer-underrun-free recording, test write. False, with nothing sent,
// when the page cannot be read. The page sent is kept in Dev.ModePage05.
bool SetWriteParameters(TSCSIDevice& Dev, bool TestWrite, bool BurnProof, bool Multisession,
                        TMedium Medium);
// Sends the page SetWriteParameters composed last once more, with the
// multi-session field cleared: the next session close then finalises a
// DVD-R or sequential DVD-RW, whose page otherwise always asks for another
// session. False, with nothing sent, when no page was composed.
bool ClearMultisession(TSCSIDevice& Dev);
// One streaming performance descriptor from LBA 0 to EndLBA: so many
// kilobytes per so many milliseconds for reading and for writing.
bool SetStreamingPerformance(TSCSIDevice& Dev, std::uint32_t EndLBA, std::uint32_t ReadSize,
                             std::uint32_t WriteSize, std::uint32_t ReadTime,
                             std::uint32_t WriteTime);
// Sends the DVD-R time stamp (structure 0Fh): the current local time as the
// 14 ASCII digits YYYYMMDDhhmmss.
bool SendTimeStamp(TSCSIDevice& Dev);

}  // namespace kilnor
