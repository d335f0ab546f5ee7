// Speeds and the buffer: READ BUFFER CAPACITY, GET PERFORMANCE, SET CD SPEED
// and SET STREAMING. A requested speed is rounded down to the nearest speed
// the drive has for the medium's family, as drives do.
#include <algorithm>

#include "Drive.h"

namespace velmor::emu {

namespace {

constexpr std::uint16_t kMaximumSpeed = 0xFFFF;

std::uint32_t NearestSpeed(const std::vector<std::uint16_t>& Available, std::uint32_t Requested) {
  if (Requested >= kMaximumSpeed) return Available.front();
  for (std::uint16_t speed : Available)  // highest first
    if (speed <= Requested) return speed;
  return Available.back();
}

}  // namespace

TFamily TDrive::SpeedFamily() const {
  return Loaded && !TrayIsOpen ? Loaded->Layout.Info().Family : TFamily::Cd;
}

void TDrive::ChooseSpeeds(std::uint32_t ReadKBps, std::uint32_t WriteKBps) {
  const TSpeeds& speeds = Settings.SpeedsFor(SpeedFamily());
  ReadSpeed = NearestSpeed(speeds.Read, ReadKBps);
  WriteSpeed = NearestSpeed(speeds.Write, WriteKBps);
}

TCommandResult TDrive::ReadBufferCapacity(const TRequest& Request) {
  const bool inBlocks = Byte(Request.Cdb, 1) & 0x01;
  const std::uint64_t length = std::uint64_t{Settings.BufferKiB} * 1024;
  const std::uint64_t waiting = std::min(BytesSinceSync, length);
  TReply reply(12);
  reply.Put16(0, 10);
  if (inBlocks) {
    reply.Put8(3, 0x01).Put32(8, static_cast<std::uint32_t>((length - waiting) / kBlockSize));
  } else {
    reply.Put32(4, static_cast<std::uint32_t>(length)).Put32(8, static_cast<std::uint32_t>(length - waiting));
  }
  return Reply(Request, reply, Be16(Request.Cdb, 7));
}

TCommandResult TDrive::GetPerformance(const TRequest& Request) {
  const auto cdb = Request.Cdb;
  const std::uint8_t dataType = Byte(cdb, 1) & 0x1F;
  const std::uint16_t maxDescriptors = Be16(cdb, 8);
  const std::uint8_t type = Byte(cdb, 10);
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  const TMediumLayout& layout = Loaded->Layout;
  const TSpeeds& speeds = Settings.SpeedsFor(layout.Info().Family);
  const std::uint32_t endLba = layout.Capacity() - 1;

  TReply reply(8);
  std::size_t count = 0;
  switch (type) {
    case 0x00: {  // performance
      const bool write = dataType & 0x04;
      const bool exceptions = dataType & 0x03;
      reply.Put8(4, static_cast<std::uint8_t>((write ? 0x02 : 0) | (exceptions ? 0x01 : 0)));
      if (exceptions || maxDescriptors == 0) break;
      const std::uint32_t speed = write ? WriteSpeed : ReadSpeed;
      reply.Put32(8, 0).Put32(12, speed).Put32(16, endLba).Put32(20, speed);
      count = 1;
      break;
    }
    case 0x03:  // write speed descriptors
      for (std::uint16_t speed : speeds.Write) {
        if (count == maxDescriptors) break;
        const std::size_t at = 8 + 16 * count;
        reply.Put8(at, 0x02).Put32(at + 4, endLba).Put32(at + 8, speeds.Read.front()).Put32(at + 12, speed);
        ++count;
      }
      break;
    default: return Fail(sense::InvalidFieldInCdb());
  }
  reply.Put32(0, static_cast<std::uint32_t>(reply.Size() - 4));
  return Reply(Request, reply, reply.Size());
}

TCommandResult TDrive::SetCdSpeed(const TRequest& Request) {
  ChooseSpeeds(Be16(Request.Cdb, 2), Be16(Request.Cdb, 4));
  return Good();
}

TCommandResult TDrive::SetStreaming(const TRequest& Request) {
  constexpr std::size_t kPerformanceDescriptor = 28;
  const auto cdb = Request.Cdb;
  const std::uint8_t type = Byte(cdb, 8);
  const std::uint16_t length = Be16(cdb, 9);
  if (type != 0x00) return Fail(sense::InvalidFieldInCdb());
  if (length < kPerformanceDescriptor) return Fail(sense::ParameterListLengthError());
  auto parameters = Parameters(Request, length);
  if (!parameters) return Fail(sense::ParameterListLengthError());
  const auto descriptor = *parameters;
  const std::uint32_t start = Be32(descriptor, 4);
  const std::uint32_t end = Be32(descriptor, 8);
  const std::uint32_t readSize = Be32(descriptor, 12);
  const std::uint32_t readTime = Be32(descriptor, 16);
  const std::uint32_t writeSize = Be32(descriptor, 20);
  const std::uint32_t writeTime = Be32(descriptor, 24);
  if (end < start || readTime == 0 || writeTime == 0) return Fail(sense::InvalidFieldInParameters());
  const bool restore = descriptor[0] & 0x04;  // restore drive defaults
  if (restore) {
    ChooseSpeeds(kMaximumSpeed, kMaximumSpeed);
    return Good();
  }
  ChooseSpeeds(static_cast<std::uint32_t>(std::uint64_t{readSize} * 1000 / readTime),
               static_cast<std::uint32_t>(std::uint64_t{writeSize} * 1000 / writeTime));
  return Good();
}

}  // namespace velmor::emu
