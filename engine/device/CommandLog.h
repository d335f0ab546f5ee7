#pragma once
// The diagnostic command log: one text line per drive command (time, name,
// request-block fields, CDB, the first data bytes, sense code) and, while the
// drives are enumerated, one line per drive letter.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "engine/device/WNASPI32.h"

namespace kilnor {

inline constexpr std::size_t kCommandNameLength = 22;
inline constexpr std::size_t kLoggedDataBytes = 100;
inline constexpr std::string_view kCommandLogFileName = "kilnorp.elg";

// Name of an operation code, blank-padded to 22 characters; empty when the
// code has no name. Every code 00h..FFh is valid.
[[nodiscard]] std::string_view CommandName(std::uint8_t OperationCode);

// Wall-clock stamp of a line: minute, second and millisecond of UTC.
struct TLogTime {
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
};
[[nodiscard]] TLogTime UtcLogTime();

// What the transport adds at the end of a line: the pass-through path ends
// it with the system error code of the call, the library path does not.
struct TLogTransport {
  bool UsingSPTI = false;
  std::uint32_t LastWinError = 0;
};

// One complete line (ending in CR LF) for a command that has completed.
[[nodiscard]] std::string FormatCommandLine(const TSRB_ExecSCSICmd& Srb, TLogTime Time,
                                            TLogTransport Transport);

// The engine's version text, "<number> (<build date yyyy-mm-dd>)": the
// component's Version and the first line of every command log.
[[nodiscard]] std::string EngineVersion();

// kilnorp.elg in the user's state directory ($XDG_STATE_HOME/velmor, else
// ~/.local/state/velmor); the directory is created when missing.
[[nodiscard]] std::string DefaultCommandLogPath();

// The open log file. Opening, closing and writing are serialised, so a log
// may be opened or closed while a worker thread issues commands.
class TCommandLog {
 public:
  TCommandLog() = default;
  TCommandLog(const TCommandLog&) = delete;
  TCommandLog& operator=(const TCommandLog&) = delete;
  ~TCommandLog();

  // Closes a log already open, creates (truncates) Path and writes the
  // version line. False when the file cannot be created; the log is then
  // closed.
  bool Open(const std::string& Path);
  // True when a log was open.
  bool Close();
  [[nodiscard]] bool IsOpen() const;
  // Appends Text as it is and hands it to the file system at once. A failing
  // write never stops the caller; the first failure is kept for
  // TakeWriteError and later ones are not reported again.
  void Write(std::string_view Text);
  // The line of a command that has completed, stamped with the current time.
  void WriteCommand(const TSRB_ExecSCSICmd& Srb, TLogTransport Transport);
  // The text of the first write failure since the log was opened, once;
  // empty when there was none or it was already taken.
  [[nodiscard]] std::string TakeWriteError();

 private:
  void CloseLocked();
  void WriteLocked(std::string_view Text);

  mutable std::mutex Lock;
  std::FILE* File = nullptr;
  bool WriteFailed = false;
  std::string WriteError;
};

}  // namespace kilnor
