#include "engine/device/CommandLog.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

namespace kilnor {

namespace {

struct TNamedCode {
  std::uint8_t Code;
  std::string_view Name;
};

constexpr TNamedCode kNamedCodes[] = {
    {0x00, "TEST UNIT READY       "}, {0x01, "REWIND UNIT           "},
    {0x03, "REQUEST SENSE         "}, {0x04, "FORMAT UNIT           "},
    {0x12, "INQUIRY               "}, {0x1B, "START STOP UNIT       "},
    {0x1E, "PREVENT/ALLOW REMOVAL "}, {0x23, "READ FORMAT CAPACITIES"},
    {0x25, "READ CAPACITY         "}, {0x28, "READ (10)             "},
    {0x2A, "WRITE (10)            "}, {0x2B, "SEEK (10)             "},
    {0x2E, "WRITE AND VERIFY (10) "}, {0x2F, "VERIFY (10)           "},
    {0x35, "SYNCHRONIZE CACHE     "}, {0x42, "READ SUB-CHANNEL      "},
    {0x43, "READ TOC/PMA/ATIP     "}, {0x45, "PLAY AUDIO (10)       "},
    {0x46, "GET CONFIGURATION     "}, {0x47, "PLAY AUDIO MSF        "},
    {0x4A, "GET EVENT/STATUS NOTIF"}, {0x4B, "PAUSE/RESUME          "},
    {0x4E, "STOP PLAY/SCAN        "}, {0x51, "READ DISC INFORMATION "},
    {0x52, "READ TRACK INFORMATION"}, {0x53, "RESERVE TRACK         "},
    {0x54, "SEND OPC INFORMATION  "}, {0x55, "MODE SELECT (10)      "},
    {0x58, "REPAIR TRACK          "}, {0x5A, "MODE SENSE (10)       "},
    {0x5B, "CLOSE TRACK/SESSION   "}, {0x5C, "READ BUFFER CAPACITY  "},
    {0x5D, "SEND CUE SHEET        "}, {0xA1, "BLANK                 "},
    {0xA2, "SEND EVENT            "}, {0xA3, "SEND KEY              "},
    {0xA4, "REPORT KEY            "}, {0xA5, "PLAY AUDIO (12)       "},
    {0xA6, "LOAD/UNLOAD CD/DVD    "}, {0xA7, "SET READ AHEAD        "},
    {0xA8, "READ (12)             "}, {0xAA, "WRITE (12)            "},
    {0xAC, "GET PERFORMANCE       "}, {0xAD, "READ DVD STRUCTURE    "},
    {0xB6, "SET STREAMING         "}, {0xB9, "READ CD MSF           "},
    {0xBA, "SCAN                  "}, {0xBB, "SET CD SPEED          "},
    {0xBD, "MECHANISM STATUS      "}, {0xBE, "READ CD               "},
    {0xBF, "SEND DVD STRUCTURE    "},
};

// Indexed by every possible operation code, FFh included.
constexpr std::array<std::string_view, 256> kCommandNames = [] {
  std::array<std::string_view, 256> names{};
  for (const TNamedCode& named : kNamedCodes) names[named.Code] = named.Name;
  return names;
}();

static_assert([] {
  for (const TNamedCode& named : kNamedCodes)
    if (named.Name.size() != kCommandNameLength) return false;
  return true;
}());

[[gnu::format(printf, 2, 3)]] void AppendFormatted(std::string& Line, const char* Format, ...) {
  char text[160];
  va_list arguments;
  va_start(arguments, Format);
  const int length = std::vsnprintf(text, sizeof text, Format, arguments);
  va_end(arguments);
  if (length > 0)
    Line.append(text, std::min<std::size_t>(static_cast<std::size_t>(length), sizeof text - 1));
}

void AppendHexBytes(std::string& Line, const std::uint8_t* Bytes, std::size_t Count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < Count; ++i) {
    Line += kDigits[Bytes[i] >> 4];
    Line += kDigits[Bytes[i] & 0x0F];
    Line += ' ';
  }
}

// Buffers of this system are 4-byte aligned; a line for one that is not says
// where it was.
void AppendMisalignedPrefix(std::string& Line, const std::uint8_t* Buffer) {
  const auto address = reinterpret_cast<std::uintptr_t>(Buffer);
  if (Buffer != nullptr && address % 4 != 0)
    AppendFormatted(Line, "- NAL -> %#llx ", static_cast<unsigned long long>(address));
}

std::filesystem::path StateDirectory() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state != '\0')
    return std::filesystem::path(state) / "velmor";
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    return std::filesystem::path(home) / ".local" / "state" / "velmor";
  return std::filesystem::current_path();
}

}  // namespace

std::string_view CommandName(std::uint8_t OperationCode) { return kCommandNames[OperationCode]; }

TLogTime UtcLogTime() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto sinceHour = now.time_since_epoch() % hours(1);
  const auto minute = duration_cast<minutes>(sinceHour);
  const auto second = duration_cast<seconds>(sinceHour - minute);
  const auto millisecond = duration_cast<milliseconds>(sinceHour - minute - second);
  return {static_cast<int>(minute.count()), static_cast<int>(second.count()),
          static_cast<int>(millisecond.count())};
}

std::string FormatCommandLine(const TSRB_ExecSCSICmd& Srb, TLogTime Time, TLogTransport Transport) {
  std::string line;
  line.reserve(160 + 3 * kLoggedDataBytes);
  AppendMisalignedPrefix(line, Srb.SRB_BufPointer);
  const std::uint8_t code = Srb.CDBByte[0];
  const std::string_view name = CommandName(code);
  AppendFormatted(line, "%02d:%02d:%03d %.*s (%02X) {%02X:%02X} - %X:%X:%X <%02X> [%05X] ",
                  Time.Minute, Time.Second, Time.Millisecond, static_cast<int>(name.size()),
                  name.data(), code, Srb.SRB_Flags, Srb.SRB_CDBLen, Srb.SRB_HaId, Srb.SRB_Target,
                  Srb.SRB_Lun, Srb.SRB_Status, static_cast<unsigned>(Srb.SRB_BufLen));
  AppendHexBytes(line, Srb.CDBByte + 1, sizeof(Srb.CDBByte) - 1);
  line += "| ";
  if (Srb.SRB_BufPointer != nullptr)
    AppendHexBytes(line, Srb.SRB_BufPointer,
                   std::min<std::size_t>(Srb.SRB_BufLen, kLoggedDataBytes));
  AppendFormatted(line, "%02X:%02X", Srb.SenseArea[12], Srb.SenseArea[13]);
  if (Transport.UsingSPTI)
    AppendFormatted(line, ", %u", static_cast<unsigned>(Transport.LastWinError));
  line += "\r\n";
  return line;
}

std::string EngineVersion() {
  constexpr std::string_view kVersionNumber = VELMOR_VERSION;
  constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";
  constexpr std::string_view kCompilerDate = __DATE__;  // "Mmm dd yyyy"
  const std::size_t month = kMonths.find(kCompilerDate.substr(0, 3)) / 3 + 1;
  char date[11];
  std::snprintf(date, sizeof date, "%.4s-%02zu-%02d", kCompilerDate.data() + 7, month,
                std::atoi(std::string(kCompilerDate.substr(4, 2)).c_str()));
  return std::string(kVersionNumber) + " (" + date + ")";
}

std::string DefaultCommandLogPath() {
  const std::filesystem::path directory = StateDirectory();
  std::error_code ignored;
  std::filesystem::create_directories(directory, ignored);
  return (directory / kCommandLogFileName).string();
}

TCommandLog::~TCommandLog() { Close(); }

bool TCommandLog::Open(const std::string& Path) {
  std::lock_guard guard(Lock);
  CloseLocked();
  WriteFailed = false;
  WriteError.clear();
  File = std::fopen(Path.c_str(), "wb");
  if (File == nullptr) return false;
  WriteLocked(EngineVersion() + "\r\n");
  return true;
}

bool TCommandLog::Close() {
  std::lock_guard guard(Lock);
  const bool wasOpen = File != nullptr;
  CloseLocked();
  return wasOpen;
}

bool TCommandLog::IsOpen() const {
  std::lock_guard guard(Lock);
  return File != nullptr;
}

void TCommandLog::Write(std::string_view Text) {
  std::lock_guard guard(Lock);
  if (File != nullptr) WriteLocked(Text);
}

void TCommandLog::WriteCommand(const TSRB_ExecSCSICmd& Srb, TLogTransport Transport) {
  std::lock_guard guard(Lock);
  if (File != nullptr) WriteLocked(FormatCommandLine(Srb, UtcLogTime(), Transport));
}

std::string TCommandLog::TakeWriteError() {
  std::lock_guard guard(Lock);
  return std::exchange(WriteError, {});
}

void TCommandLog::CloseLocked() {
  if (File == nullptr) return;
  if (std::fclose(File) != 0 && !WriteFailed) {
    WriteFailed = true;
    WriteError = std::string("command log: ") + std::strerror(errno);
  }
  File = nullptr;
}

void TCommandLog::WriteLocked(std::string_view Text) {
  const bool written =
      std::fwrite(Text.data(), 1, Text.size(), File) == Text.size() && std::fflush(File) == 0;
  if (written || WriteFailed) return;
  WriteFailed = true;
  WriteError = std::string("command log: ") + std::strerror(errno);
}

}  // namespace kilnor
