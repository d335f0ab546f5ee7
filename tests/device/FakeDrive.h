#pragma once
// A drive that answers with chosen replies, behind the engine's real
// transport entry (ExecSCSICommand over the ASPI path). Each command is
// recorded with its CDB and the data it sent. A reply may be shorter than
// what was asked for: the drive then reports the shorter transfer.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "engine/device/SCSILib.h"

namespace kilnor::test {

struct TFakeReply {
  std::vector<std::uint8_t> Data;  // what the drive returns for a data-in command
  std::uint8_t Asc = 0;            // non-zero: check condition with this sense
  std::uint8_t Ascq = 0;
  std::uint8_t Key = 0;            // the sense key that goes with it
};

struct TSentCommand {
  std::array<std::uint8_t, 16> Cdb{};
  std::uint8_t CdbLength = 0;
  std::uint8_t Flags = 0;
  std::uint32_t Length = 0;
  std::vector<std::uint8_t> Out;   // data sent by a data-out command
  [[nodiscard]] std::uint8_t Code() const { return Cdb[0]; }
};

class TFakeDrive;
inline TFakeDrive* ActiveFakeDrive = nullptr;

class TFakeDrive {
 public:
  // Replies by operation code; Answer, when set, decides instead.
  std::map<std::uint8_t, TFakeReply> Replies;
  std::function<TFakeReply(const TSentCommand&)> Answer;
  std::vector<TSentCommand> Sent;

  TFakeDrive() : Dev(std::make_unique<TSCSIDevice>()) {
    ActiveFakeDrive = this;
    Dev->ASPIInitialized = true;
    Dev->UsingSPTI = false;
    Dev->SendASPI32Command = &Send;
    Dev->NoOfDevices = 1;
    Dev->HaID = Dev->Target = Dev->Lun = 0;
  }
  ~TFakeDrive() { ActiveFakeDrive = nullptr; }
  TFakeDrive(const TFakeDrive&) = delete;
  TFakeDrive& operator=(const TFakeDrive&) = delete;

  TSCSIDevice& Device() { return *Dev; }

  [[nodiscard]] std::vector<TSentCommand> SentWith(std::uint8_t Code) const {
    std::vector<TSentCommand> found;
    for (const TSentCommand& command : Sent)
      if (command.Code() == Code) found.push_back(command);
    return found;
  }

 private:
  static std::uint32_t Send(void* Request) {
    auto& srb = *static_cast<TSRB_ExecSCSICmd*>(Request);
    TFakeDrive& drive = *ActiveFakeDrive;
    TSentCommand command;
    std::memcpy(command.Cdb.data(), srb.CDBByte, 16);
    command.CdbLength = srb.SRB_CDBLen;
    command.Flags = srb.SRB_Flags;
    command.Length = srb.SRB_BufLen;
    if ((srb.SRB_Flags & SRB_DIR_OUT) && srb.SRB_BufPointer)
      command.Out.assign(srb.SRB_BufPointer, srb.SRB_BufPointer + srb.SRB_BufLen);
    drive.Sent.push_back(command);
    const TFakeReply reply = drive.Answer ? drive.Answer(command) : drive.Replies[command.Code()];
    if (reply.Asc != 0) {
      srb.SRB_Status = SS_ERR;
      srb.SRB_TargStat = STATUS_CHKCOND;
      srb.SenseArea[0] = 0x70;
      srb.SenseArea[2] = reply.Key;
      srb.SenseArea[12] = reply.Asc;
      srb.SenseArea[13] = reply.Ascq;
    } else {
      srb.SRB_Status = SS_COMP;
      if (srb.SRB_Flags & SRB_DIR_IN) {
        const std::size_t returned = std::min<std::size_t>(reply.Data.size(), srb.SRB_BufLen);
        std::copy_n(reply.Data.begin(), returned, srb.SRB_BufPointer);
        srb.SRB_BufLen = static_cast<std::uint32_t>(returned);
      }
    }
    const std::uint8_t status = srb.SRB_Status;
    if (auto* event = static_cast<TAspiEvent*>(srb.SRB_PostProc)) event->Signal(event);
    return status;
  }

  std::unique_ptr<TSCSIDevice> Dev;
};

// Big-endian helpers for building replies.
inline void PutBE16(std::vector<std::uint8_t>& Bytes, std::size_t At, std::uint16_t Value) {
  Bytes[At] = static_cast<std::uint8_t>(Value >> 8);
  Bytes[At + 1] = static_cast<std::uint8_t>(Value);
}
inline void PutBE32(std::vector<std::uint8_t>& Bytes, std::size_t At, std::uint32_t Value) {
  PutBE16(Bytes, At, static_cast<std::uint16_t>(Value >> 16));
  PutBE16(Bytes, At + 2, static_cast<std::uint16_t>(Value));
}

// A MODE SENSE (10) reply carrying Page, after BlockDescriptorBytes of block
// descriptors.
inline std::vector<std::uint8_t> ModeSenseReply(const std::vector<std::uint8_t>& Page,
                                                std::uint16_t BlockDescriptorBytes = 0) {
  std::vector<std::uint8_t> reply(8 + BlockDescriptorBytes, 0);
  PutBE16(reply, 0, static_cast<std::uint16_t>(6 + BlockDescriptorBytes + Page.size()));
  PutBE16(reply, 6, BlockDescriptorBytes);
  reply.insert(reply.end(), Page.begin(), Page.end());
  return reply;
}

// A full-length READ DISC INFORMATION reply.
inline std::vector<std::uint8_t> DiscInformationReply(std::uint8_t Info, std::uint16_t Sessions,
                                                      std::uint16_t LastTrack) {
  std::vector<std::uint8_t> reply(34, 0);
  PutBE16(reply, 0, 32);
  reply[2] = Info;
  reply[3] = 1;
  reply[4] = static_cast<std::uint8_t>(Sessions);
  reply[9] = static_cast<std::uint8_t>(Sessions >> 8);
  reply[5] = reply[6] = static_cast<std::uint8_t>(LastTrack);
  reply[10] = reply[11] = static_cast<std::uint8_t>(LastTrack >> 8);
  return reply;
}

// A READ TRACK INFORMATION reply.
inline std::vector<std::uint8_t> TrackInformationReply(std::uint32_t Start, std::uint32_t Free,
                                                       std::uint32_t Size, std::uint8_t Info2 = 0) {
  std::vector<std::uint8_t> reply(36, 0);
  PutBE16(reply, 0, 34);
  reply[6] = Info2;
  PutBE32(reply, 8, Start);
  PutBE32(reply, 16, Free);
  PutBE32(reply, 24, Size);
  return reply;
}

// A GET CONFIGURATION reply with a current profile and, when Feature is not
// 0, one feature descriptor whose first data byte is Info.
inline std::vector<std::uint8_t> ConfigurationReply(std::uint16_t Profile, std::uint16_t Feature = 0,
                                                    std::uint8_t Info = 0) {
  std::vector<std::uint8_t> reply(8, 0);
  PutBE16(reply, 6, Profile);
  if (Feature != 0) {
    const std::vector<std::uint8_t> descriptor{static_cast<std::uint8_t>(Feature >> 8),
                                               static_cast<std::uint8_t>(Feature), 0x01, 0x04, Info,
                                               0, 0, 0};
    reply.insert(reply.end(), descriptor.begin(), descriptor.end());
  }
  PutBE32(reply, 0, static_cast<std::uint32_t>(reply.size() - 4));
  return reply;
}

}  // namespace kilnor::test
