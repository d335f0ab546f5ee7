#include "engine/write/ErrorTexts.h"

#include <mutex>

namespace kilnor {
namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A lone surrogate becomes U+FFFD so the text stays valid UTF-8.
std::string ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    if (high && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string ToUtf16(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Cuts at a character boundary so the shortened text is still valid UTF-8.
void CutUtf8(std::string& s, std::size_t limit) {
  if (s.size() <= limit) return;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  s.resize(end);
}

// Cuts without splitting a surrogate pair.
void CutUtf16(std::u16string& s, std::size_t limit) {
  if (s.size() <= limit) return;
  std::size_t end = limit;
  if (s[end] >= 0xDC00 && s[end] <= 0xDFFF && end > 0) --end;
  s.resize(end);
}

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

void RecordFileError(TCDFiles& CDFiles, std::uint32_t Number, std::u16string_view FileName) {
  std::lock_guard lock(CDFiles.ErrorLock);
  std::uint32_t none = erNone;
  if (CDFiles.ErrorNumber.compare_exchange_strong(none, Number)) CDFiles.FileName.assign(FileName);
}

void ClearError(TCDFiles& CDFiles) {
  std::lock_guard lock(CDFiles.ErrorLock);
  CDFiles.ErrorNumber = erNone;
  CDFiles.FileName.clear();
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
      if (HasName(FileName)) text += " \\" + ToUtf8(*FileName) + "\\";
      break;
    default: text = "Hardware Error " + std::to_string(Number); break;
  }
  CutUtf8(text, kErrorTextBytes);
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
  CutUtf16(text, kErrorTextUnits);
  return text;
}

}  // namespace kilnor
