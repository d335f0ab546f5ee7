#include "cli/SmartReferences.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "cli/DriveFailure.h"
#include "cli/ImageFile.h"
#include "cli/Interrupt.h"
#include "cli/ProgressBar.h"

namespace velmor::cli {

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kMebibyte = 1024.0 * 1024.0;

// Waits for the end of the pass, aborting it once a stop signal arrived.
// True when the pass failed.
bool AwaitPass(kilnor::TKilnorPro& kp) {
  bool done = false;
  bool failed = false;
  kp.SetOnGenerateSmartReferencesDone([&](void*, bool Failed, std::int32_t) {
    done = true;
    failed = Failed;
  });
  TAbortOnInterrupt interrupt(kp);
  if (!kp.GenerateSmartReferences()) return true;
  TProgressBar bar("Comparing files", "sectors", std::cerr, ::isatty(2) != 0);
  PollWithProgress(
      kp, bar,
      [&] {
        return TProgressSample{kp.SmartReferencesProgress(), kp.SmartReferencesSize(),
                               kilnor::StatusText(kp.ComponentStatus())};
      },
      [&] {
        interrupt.Poll();
        return done;
      });
  return failed;
}

// One line per file that shares another's data; returns how many.
std::size_t PrintSharingFiles(const kilnor::TKilnorPro& kp) {
  std::size_t sharing = 0;
  for (const auto& entry : kp.CDFiles.Files) {
    if (entry->ReferenceEntry == nullptr) continue;
    std::printf("  %s shares the data of %s\n", QuotedPath(kilnor::TKilnorPro::SourcePathOf(*entry)).c_str(),
                QuotedPath(kilnor::TKilnorPro::SourcePathOf(*entry->ReferenceEntry)).c_str());
    ++sharing;
  }
  return sharing;
}

}  // namespace

bool GenerateSmartReferencesOf(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed, std::string& Error) {
  if (!Parsed.Has(kSmartRefsFlag)) return true;
  const auto started = Clock::now();
  if (AwaitPass(Component)) {
    Error = "smart references failed: " + Component.ErrorDescription();
    return false;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const std::size_t sharing = PrintSharingFiles(Component);
  std::printf("Smart references: %zu %s the data of an identical file, saving %.1f MiB (%.2f s)\n", sharing,
              sharing == 1 ? "file shares" : "files share", Component.SmartReferencesSavedBytes() / kMebibyte,
              seconds);
  return true;
}

}  // namespace velmor::cli
