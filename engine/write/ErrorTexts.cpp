#include "engine/write/ErrorTexts.h"

#include <mutex>

#include "engine/platform/Unicode.h"

namespace kilnor {
namespace {

std::u16string ToUtf16(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

bool HasName(const std::u16string* FileName) { return FileName != nullptr && !FileName->empty(); }

const char* FileErrorLead(std::uint32_t Number) {
  return Number == erFileOpen ? "Error opening file" : "Error creating file";
}

// The texts of the engine's own refusals and outcomes above the drive
// errors; null for other numbers.
const char* EngineErrorText(std::uint32_t Number) {
  switch (Number) {
    case erTestWriteNotSimulated:
      return "Test write is not possible on this medium: the drive would really record it";
    case erNoRoomOnDisc: return "The compilation is larger than the free space on the disc";
    case erDiscNotWritable: return "The disc cannot be written: it is finalised or not recordable";
    case erSessionStartUnknown: return "The drive does not tell where the new session would start";
    case erFileNameTooLong: return "The image file name is too long";
    case erImportedAfterStart: return "An imported file lies where the new session would be written";
    case erDriveBusy: return "The drive stayed busy and did not take the data";
    case erImageNeedsBlankDisc:
      return "An image starts at sector 0: the disc must be blank or rewritable";
    case erIncompleteWrite: return "Fewer sectors were written than the session holds";
    case erImportFailed: return "Session cannot be imported";
    case erWriteRunning: return "A write is running: wait until it has ended";
    default: return nullptr;
  }
}

}  // namespace

std::uint32_t TakeErrorNumber(TCDFiles& CDFiles, TSCSIDevice& Device) {
  const std::uint32_t engine = CDFiles.ErrorNumber.exchange(erNone);
  if (engine != erNone) return engine;
  return Device.DeviceError.exchange(0);
}

std::string TakeErrorString(TCDFiles& CDFiles, TSCSIDevice& Device) {
  std::lock_guard lock(CDFiles.ErrorLock);
  const std::uint32_t number = TakeErrorNumber(CDFiles, Device);
  return ErrorText(number, &CDFiles.FileName);
}

std::u16string TakeErrorStringW(TCDFiles& CDFiles, TSCSIDevice& Device) {
  std::lock_guard lock(CDFiles.ErrorLock);
  const std::uint32_t number = TakeErrorNumber(CDFiles, Device);
  return ErrorTextW(number, &CDFiles.FileName);
}

std::string ErrorText(std::uint32_t Number, const std::u16string* FileName) {
  std::string text;
  switch (Number) {
    case erNone: text = "Unknown/No Error!"; break;
    case erNotPrepared: text = "Data not prepared "; break;
    case erAborted: text = "Aborted by user"; break;
    case erFileOpen:
    case erFileCreate:
      text = FileErrorLead(Number);
      if (HasName(FileName)) text += " \\" + Utf16ToUtf8(*FileName) + "\\";
      break;
    default:
      if (const char* own = EngineErrorText(Number))
        text = own;
      else
        text = "Hardware Error " + std::to_string(Number);
      break;
  }
  text.resize(Utf8PrefixLength(text, kErrorTextBytes));
  return text;
}

std::u16string ErrorTextW(std::uint32_t Number, const std::u16string* FileName) {
  std::u16string text;
  switch (Number) {
    case erNone: text = u"Unknown/No Error!"; break;
    case erNotPrepared: text = u"Data not prepared"; break;
    case erAborted: text = u"Aborted by user"; break;
    case erFileOpen:
    case erFileCreate:
      text = ToUtf16(FileErrorLead(Number));
      if (HasName(FileName)) text += u" \\'" + *FileName + u"\\'";
      break;
    default:
      if (const char* own = EngineErrorText(Number))
        text = ToUtf16(own);
      else
        text = u"Hardware Error \\'" + ToUtf16(std::to_string(Number));
      break;
  }
  text.resize(Utf16PrefixLength(text, kErrorTextUnits));
  return text;
}

}  // namespace kilnor
