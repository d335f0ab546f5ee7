#include "cli/DiscWrite.h"

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>

#include "cli/Command.h"
#include "cli/DriveFailure.h"
#include "cli/ImageFile.h"
#include "cli/Interrupt.h"
#include "cli/ProgressBar.h"

namespace velmor::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kSectorBytes = 2048.0;
constexpr double kMebibyte = 1 << 20;

std::string Figure(const char* Format, double Value) {
  char text[32];
  std::snprintf(text, sizeof text, Format, Value);
  return text;
}

// "1.2/4.5 MiB  8.0x  buffer 75%  0:12 left" as far as each is known.
std::string BurnFigures(kilnor::TKilnorPro& kp, kilnor::TMedium Medium, Clock::time_point Started) {
  const double done = kp.BlocksWritten();
  const double total = kp.ImageSize();
  std::string text = Figure("%.1f", done * kSectorBytes / kMebibyte) +
                     Figure("/%.1f MiB", total * kSectorBytes / kMebibyte);
  const std::uint16_t speed = kp.BMWriteSpeed();
  if (speed != 0) text += Figure("  %.1fx", speed / kilnor::TKilnorPro::BaseSpeed(Medium));
  if (const std::uint32_t size = kp.DeviceBufferSize(); size != 0)
    text += Figure("  buffer %.0f%%", 100.0 * kp.DeviceBufferPosition() / size);
  const double seconds = std::chrono::duration<double>(Clock::now() - Started).count();
  if (done > 0 && total > done) {
    const auto left = static_cast<long>(seconds * (total - done) / done);
    text += "  " + std::to_string(left / 60) + ":" + (left % 60 < 10 ? "0" : "") + std::to_string(left % 60) +
            " left";
  }
  return text;
}

// When the data went to the drive: from the first sector written to the
// last, as the progress polls see it; the set-up and the closing are not in it.
class TWritePhase {
 public:
  void Sample(std::uint32_t Written, std::uint32_t Total) {
    const auto now = Clock::now();
    if (Written > 0 && !first_) first_ = now;
    if (Written == Total && first_ && !last_) last_ = now;
  }
  [[nodiscard]] double Seconds() const {
    return first_ && last_ ? std::chrono::duration<double>(*last_ - *first_).count() : 0;
  }

 private:
  std::optional<Clock::time_point> first_;
  std::optional<Clock::time_point> last_;
};

}  // namespace

bool ApplyBurnOptions(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed, std::string& Error) {
  Component.SetTestWrite(Parsed.Has("--test"));
  Component.SetFinalizeDisc(Parsed.Has("--finalize"));
  const std::string speed = Parsed.Value("--speed", "max");
  if (speed == "max") {
    Component.SetDeviceSpeed(0, 0);
    return true;
  }
  double factor = 0;
  const auto [end, failure] = std::from_chars(speed.data(), speed.data() + speed.size(), factor);
  if (failure != std::errc() || end != speed.data() + speed.size() || factor <= 0) {
    Error = "--speed takes a factor of the medium's base speed (4, 8, 16, ...) or 'max', not '" + speed + "'";
    return false;
  }
  Component.SetDeviceSpeed(0, kilnor::TKilnorPro::SpeedOfFactor(factor, Component.DiscIs()));
  return true;
}

std::string DiscHoldsData(kilnor::TKilnorPro& Component) {
  if (!Component.DiscHoldsData()) return {};
  std::string message = "the disc already holds data: use --append to add a session";
  if (Component.Erasable()) message += ", or 'velmor-cli erase' to erase it first";
  return message;
}

bool ImportLastSession(kilnor::TKilnorPro& Component, std::string& Error) {
  if (!DiscHoldsData(Component).empty()) {
    Component.SetReplaceFile(false);
    const std::int32_t session = Component.ImportSession(0, "\\");
    if (session < 0) {
      const std::string drive = Component.ErrorString();
      Error = "the disc's last session cannot be read to append to it: " + Component.LastImport().Reason;
      if (Component.LastImport().Unreadable) Error += " (" + drive + ")";
      return false;
    }
    const kilnor::TImportReport& report = Component.LastImport();
    std::printf("Appending to session %d: %u files in %u folders kept\n", session, report.Files,
                report.Directories);
    for (const std::string& left : report.LeftOut) std::cerr << "velmor-cli: not kept: " << left << '\n';
  }
  return true;
}

int BurnWithProgress(kilnor::TKilnorPro& kp, const TParsedArguments& Parsed, const std::string& What,
                     const std::function<bool()>& Start) {
  bool done = false;
  bool failed = false;
  kp.SetOnWriteDone([&](void*, std::uint8_t, bool WriteFailed) {
    done = true;
    failed = WriteFailed;
  });
  const kilnor::TMedium medium = kp.DiscIs();
  const auto started = Clock::now();
  // Ctrl-C aborts: the track and session are closed as after any failure.
  TAbortOnInterrupt interrupt(kp);
  if (!Start()) {
    kp.DrainNotifications();
    return Fail("cannot burn " + What + ": " + kp.ErrorDescription());
  }
  TProgressBar bar(kp.TestWrite() ? "Testing" : "Burning", "sectors", std::cerr, ::isatty(2) != 0);
  TWritePhase phase;
  PollWithProgress(
      kp, bar,
      [&] {
        const std::uint32_t written = kp.BlocksWritten();
        phase.Sample(written, kp.ImageSize());
        return TProgressSample{written, kp.ImageSize(), kilnor::StatusText(kp.ComponentStatus()),
                               BurnFigures(kp, medium, started)};
      },
      [&] {
        interrupt.Poll();
        return done;
      });
  if (failed) return Fail("burning " + What + " failed: " + kp.ErrorDescription());
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const double mebibytes = kp.ImageSize() * kSectorBytes / kMebibyte;
  std::printf("%s %s: %u sectors (%.1f MiB) in %.2f s", kp.TestWrite() ? "Test-burned" : "Burned", What.c_str(),
              kp.ImageSize(), mebibytes, seconds);
  if (const double writing = phase.Seconds(); writing > 0)
    std::printf(", data written in %.2f s at %.1fx", writing, mebibytes * 1024 / writing / kilnor::TKilnorPro::BaseSpeed(medium));
  std::printf("\n");
  return Parsed.Has("--verify") ? kExitOk : EjectIfAsked(kp, Parsed);
}

int EjectIfAsked(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed) {
  if (Parsed.Has("--eject") && !Component.EjectMedium(false))
    return Fail("the tray did not open: " + Component.ErrorString());
  return kExitOk;
}

}  // namespace velmor::cli
