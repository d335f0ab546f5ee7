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

}  // namespace

void RecordError(TCDFiles& CDFiles, std::uint32_t Number) {
  std::lock_guard lock(CDFiles.ErrorLock);
  std::uint32_t none = erNone;
  CDFiles.ErrorNumber.compare_exchange_strong(none, Number);
}

void RecordFileError(TCDFiles& CDFiles, std::uint32_t Number, std::u16string_view FileName,
                     std::string_view Cause) {
  std::lock_guard lock(CDFiles.ErrorLock);
  std::uint32_t none = erNone;
  if (CDFiles.ErrorNumber.compare_exchange_strong(none, Number)) {
    CDFiles.FileName.assign(FileName);
    CDFiles.FileErrorCause.assign(Cause);
  }
}

void ClearError(TCDFiles& CDFiles) {
  std::lock_guard lock(CDFiles.ErrorLock);
  CDFiles.ErrorNumber = erNone;
  CDFiles.FileName.clear();
  CDFiles.FileErrorCause.clear();
}

std::string FileErrorCause(TCDFiles& CDFiles) {
  std::lock_guard lock(CDFiles.ErrorLock);
  return CDFiles.FileErrorCause;
}

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
    default: text = "Hardware Error " + std::to_string(Number); break;
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
    default: text = u"Hardware Error \\'" + ToUtf16(std::to_string(Number)); break;
  }
  text.resize(Utf16PrefixLength(text, kErrorTextUnits));
  return text;
}

}  // namespace kilnor
