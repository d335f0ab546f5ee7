// Identification, readiness, tray and medium lock, and the two mode pages:
// write parameters (05h) and capabilities and mechanical status (2Ah).
#include <algorithm>

#include "Drive.h"

namespace velmor::emu {

namespace {

constexpr std::uint8_t kPageWriteParameters = 0x05;
constexpr std::uint8_t kPageCapabilities = 0x2A;
constexpr std::uint8_t kAllPages = 0x3F;
constexpr std::size_t kModeHeaderLength = 8;
constexpr std::size_t kBlockDescriptorLength = 8;

// Page control field of MODE SENSE.
constexpr std::uint8_t kChangeableValues = 1;
constexpr std::uint8_t kDefaultValues = 2;
constexpr std::uint8_t kSavedValues = 3;

}  // namespace

TCommandResult TDrive::Inquiry(const TRequest& Request) {
  const auto cdb = Request.Cdb;
  const bool vitalData = Byte(cdb, 1) & 0x01;
  const std::uint8_t page = Byte(cdb, 2);
  const std::uint16_t allocation = Be16(cdb, 3);
  TReply reply;
  if (!vitalData) {
    if (page != 0) return Fail(sense::InvalidFieldInCdb());
    reply.Put8(0, 0x05)            // peripheral device type: CD/DVD
        .Put8(1, 0x80)             // removable medium
        .Put8(2, 0x05)             // version
        .Put8(3, 0x02)             // response data format
        .Put8(4, 96 - 5)           // additional length
        .PutText(8, Settings.Vendor, 8)
        .PutText(16, Settings.Product, 16)
        .PutText(32, Settings.Revision, 4)
        .Put16(58, 0x05A0);       // version descriptor: MMC-5
    reply.Grow(96);
    return Reply(Request, reply, allocation);
  }
  switch (page) {
    case 0x00:
      reply.Put8(0, 0x05).Put8(3, 2).Put8(4, 0x00).Put8(5, 0x80);
      break;
    case 0x80:
      reply.Put8(0, 0x05).Put8(1, 0x80).Put8(3, static_cast<std::uint8_t>(Settings.Serial.size()));
      reply.PutText(4, Settings.Serial, Settings.Serial.size());
      break;
    default: return Fail(sense::InvalidFieldInCdb());
  }
  return Reply(Request, reply, allocation);
}

TCommandResult TDrive::TestUnitReady() {
  if (auto notReady = RequireMedium()) return Fail(*notReady);
  return Good();
}

TCommandResult TDrive::RequestSense(const TRequest& Request) {
  // Sense of a failed command travels with the command itself; asked for
  // separately the drive reports its present condition.
  TSense condition;
  if (Operation) {
    condition = Operation->NotReady;
    condition.Progress = LongOperationProgress();
    if (!Operation->Until && Operation->Remaining > 0) --Operation->Remaining;
  } else if (auto absent = MediumAbsent()) {
    condition = *absent;
  } else if (LoadingPolls > 0) {
    condition = sense::BecomingReady();
  }
  const auto bytes = FixedSense(condition);
  TReply reply;
  reply.Append(bytes);
  return Reply(Request, reply, Byte(Request.Cdb, 4));
}

TCommandResult TDrive::StartStopUnit(const TRequest& Request) {
  const std::uint8_t control = Byte(Request.Cdb, 4);
  const bool loadEject = control & 0x02;
  const bool start = control & 0x01;
  const bool powerCondition = control & 0xF0;
  if (powerCondition || !loadEject) return Good();
  if (start) {
    CloseTray();
    return Good();
  }
  if (!OpenTray(false)) return Fail(sense::RemovalPrevented());
  return Good();
}

TCommandResult TDrive::PreventAllow(const TRequest& Request) {
  Locked = Byte(Request.Cdb, 4) & 0x01;
  return Good();
}

TReply TDrive::WriteParametersPage(std::uint8_t Control) const {
  TReply page(PageFive.size());
  switch (Control) {
    case kChangeableValues:
      page.Put8(0, kPageWriteParameters).Put8(1, static_cast<std::uint8_t>(PageFive.size() - 2));
      page.Put8(2, 0x7F).Put8(3, 0xEF).Put8(4, 0x0F).Put8(5, 0xFF).Put8(7, 0x3F).Put8(8, 0xFF);
      for (std::size_t i = 10; i < PageFive.size(); ++i) page.Put8(i, 0xFF);
      break;
    case kDefaultValues:
      page.Put8(0, kPageWriteParameters).Put8(1, static_cast<std::uint8_t>(PageFive.size() - 2));
      page.Put8(2, 0x41).Put8(3, 0x04).Put8(4, 0x08).Put16(14, 150);
      break;
    default:
      for (std::size_t i = 0; i < PageFive.size(); ++i) page.Put8(i, PageFive[i]);
  }
  return page;
}

TReply TDrive::CapabilitiesPage(std::uint8_t Control) const {
  const TSpeeds& speeds = Settings.SpeedsFor(SpeedFamily());
  const std::size_t descriptors = speeds.Write.size();
  TReply page(32 + 4 * descriptors);
  page.Put8(0, kPageCapabilities).Put8(1, static_cast<std::uint8_t>(30 + 4 * descriptors));
  if (Control == kChangeableValues) return page;  // nothing in this page can be changed

  using enum TMediumKind;
  const bool writesCd = Settings.CanWrite(CdR) || Settings.CanWrite(CdRw);
  const bool writesDvdMinus = Settings.CanWrite(DvdR) || Settings.CanWrite(DvdRwSequential);
  const bool readsDvd = Settings.ReadsFamily(TFamily::Dvd);
  std::uint8_t readBits = 0x07;  // CD-R, CD-RW, method 2
  if (readsDvd) readBits |= 0x08 | 0x10 | 0x20;
  std::uint8_t writeBits = 0;
  if (Settings.CanWrite(CdR)) writeBits |= 0x01;
  if (Settings.CanWrite(CdRw)) writeBits |= 0x02;
  if (writesCd || writesDvdMinus) writeBits |= 0x04;  // test write
  if (Settings.CanWrite(DvdR)) writeBits |= 0x10;
  if (Settings.CanWrite(DvdRam)) writeBits |= 0x20;

  const bool defaults = Control == kDefaultValues;
  const std::uint16_t maxRead = speeds.Read.front();
  const std::uint16_t maxWrite = speeds.Write.front();
  const auto currentRead = static_cast<std::uint16_t>(defaults ? maxRead : ReadSpeed);
  const auto currentWrite = static_cast<std::uint16_t>(defaults ? maxWrite : WriteSpeed);
  page.Put8(2, readBits)
      .Put8(3, writeBits)
      .Put8(4, 0x80 | 0x40 | 0x10 | 0x01)  // underrun-free, multi-session, mode 2 form 1, audio
      .Put8(5, 0x03)
      .Put8(6, static_cast<std::uint8_t>(0x29 | (Locked && !defaults ? 0x02 : 0)))  // tray, eject, lock
      .Put16(8, maxRead)
      .Put16(10, 256)
      .Put16(12, static_cast<std::uint16_t>(std::min<std::uint32_t>(Settings.BufferKiB, 0xFFFF)))
      .Put16(14, currentRead)
      .Put16(18, maxWrite)
      .Put16(20, currentWrite)
      .Put16(28, currentWrite)
      .Put16(30, static_cast<std::uint16_t>(descriptors));
  for (std::size_t i = 0; i < descriptors; ++i) page.Put16(32 + 4 * i + 2, speeds.Write[i]);
  return page;
}

TCommandResult TDrive::ModeSense(const TRequest& Request) {
  const auto cdb = Request.Cdb;
  const bool noBlockDescriptor = Byte(cdb, 1) & 0x08;
  const std::uint8_t control = Byte(cdb, 2) >> 6;
  const std::uint8_t pageCode = Byte(cdb, 2) & 0x3F;
  const std::uint8_t subpage = Byte(cdb, 3);
  if (control == kSavedValues) return Fail(sense::SavingNotSupported());
  if (subpage != 0 && !(pageCode == kAllPages && subpage == 0xFF)) return Fail(sense::InvalidFieldInCdb());
  if (pageCode != kPageWriteParameters && pageCode != kPageCapabilities && pageCode != kAllPages)
    return Fail(sense::InvalidFieldInCdb());

  const bool withDescriptor = Settings.BlockDescriptor && !noBlockDescriptor;
  TReply reply(kModeHeaderLength);
  if (withDescriptor) {
    reply.Put16(6, kBlockDescriptorLength);
    reply.Put24(kModeHeaderLength + 5, kBlockSize);
  }
  if (pageCode == kPageWriteParameters || pageCode == kAllPages) reply.Append(WriteParametersPage(control).View());
  if (pageCode == kPageCapabilities || pageCode == kAllPages) reply.Append(CapabilitiesPage(control).View());
  reply.Put16(0, static_cast<std::uint16_t>(reply.Size() - 2));
  return Reply(Request, reply, Be16(cdb, 7));
}

TCommandResult TDrive::ModeSelect(const TRequest& Request) {
  const auto cdb = Request.Cdb;
  const bool savePages = Byte(cdb, 1) & 0x01;
  const std::uint16_t length = Be16(cdb, 7);
  if (savePages) return Fail(sense::SavingNotSupported());
  if (length == 0) return Good();
  auto parameters = Parameters(Request, length);
  if (!parameters || length < kModeHeaderLength) return Fail(sense::ParameterListLengthError());
  const auto list = *parameters;
  const std::size_t descriptorLength = Be16(list, 6);
  if (descriptorLength != 0 && descriptorLength != kBlockDescriptorLength)
    return Fail(sense::InvalidFieldInParameters());
  const std::size_t at = kModeHeaderLength + descriptorLength;
  if (list.size() < at + 2) return Fail(sense::ParameterListLengthError());
  const std::uint8_t pageCode = list[at] & 0x3F;
  const std::size_t pageLength = list[at + 1];
  if (pageCode != kPageWriteParameters || pageLength != PageFive.size() - 2 || (list[at] & 0x80))
    return Fail(sense::InvalidFieldInParameters());
  if (list.size() < at + 2 + pageLength) return Fail(sense::ParameterListLengthError());

  const auto page = list.subspan(at, pageLength + 2);
  const std::uint8_t writeType = page[2] & 0x0F;
  const std::uint8_t blockType = page[4] & 0x0F;
  if (writeType > 4 || (blockType > 13) || (blockType >= 4 && blockType <= 7))
    return Fail(sense::InvalidFieldInParameters());
  const bool wasTestWrite = TestWriteActive();
  std::copy(page.begin(), page.end(), PageFive.begin());
  PageFive[2] &= 0x7F;
  if (wasTestWrite && !TestWriteActive()) Simulation.reset();
  return Good();
}

}  // namespace velmor::emu
