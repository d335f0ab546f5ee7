#pragma once
// The fault soak: image builds, burns, appends, erases and verifies on the
// emulated recorder, back to back, with random faults armed in the drive and
// aborts at random moments; every outcome is judged against what happened.
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Resources.h"
#include "engine/KilnorPro.h"

namespace kilnor::soak {

struct TTallies {
  std::map<std::string, int> Operations;  // per kind
  int FaultsArmed = 0;
  int FaultsFired = 0;
  int Aborts = 0;
  int Succeeded = 0;
  int FailuresReported = 0;  // failures reported as failures, with a reason
  int Misreported = 0;       // an outcome other than what happened
  int Lost = 0;              // a completed image or disc missing data, or an image destroyed
  int NotIdle = 0;           // the component not idle after the operation
  std::vector<std::string> Findings;
};

// What a started operation reported.
struct TOutcome {
  bool Started = false;
  bool Reported = false;
  bool Failed = true;
  std::string Error;
};

// A fault armed in the drive, and what the operation should then do.
enum class TExpect { Fails, Recovers, Either };
struct TFault {
  std::string Arguments;  // velmor-emulator fault add ...
  TExpect Expect;
};

class TSoak {
 public:
  TSoak(std::filesystem::path Scratch, std::filesystem::path BinDir, std::uint32_t Seed);
  [[nodiscard]] bool Open(std::string& Error);
  void RunOperation(int Index);
  [[nodiscard]] const TTallies& Tallies() const { return tallies_; }

 private:
  enum class TDisc { Unknown, Blank, Burned };

  void ImageBuild();
  void BurnNew();
  void Append();
  void Erase();
  void Verify();

  // Fresh medium of a random kind from Kinds; the disc is then blank.
  void InsertFresh(const std::vector<std::string>& Kinds);
  // A clean burn of a new tree, so that the operation has a disc to work on.
  [[nodiscard]] bool BurnForSetUp(const std::vector<std::string>& Kinds);
  // Burns a new tree as the operation (a first session or an append).
  void RecordSession(const std::string& Kind);
  // Prepares a new random tree; false with a finding when it cannot.
  [[nodiscard]] bool PrepareTree();

  [[nodiscard]] TOutcome Run(const std::function<bool()>& Start, bool Abort);
  void AbortSoon(int ReportsBefore);
  // Arms one of Faults (or none), counted; the description armed.
  [[nodiscard]] const TFault* ArmFault(const std::vector<TFault>& Faults);
  // Whether the armed fault took effect; clears whatever is left of it.
  [[nodiscard]] bool FaultFired(const TFault* Fault);
  // Judges Outcome against the fault and the abort; true when it is a
  // success to check further.
  [[nodiscard]] bool Judge(const std::string& Kind, const TOutcome& Outcome, const TFault* Fault, bool Fired,
                           bool Aborted);
  // After a success: the disc's session reads back equal to its sources.
  void CheckDiscReadsBack(const std::string& Kind);
  void CheckIdle(const std::string& Kind);
  // What the last verify found wrong first; empty when nothing.
  [[nodiscard]] std::string VerifyFailure() const;

  // velmor-emulator Arguments: what it printed, nothing when it failed.
  [[nodiscard]] std::optional<std::string> EmulatorOutput(const std::string& Arguments);
  [[nodiscard]] bool Chance(int Percent);
  [[nodiscard]] std::size_t Pick(std::size_t Count);
  void Finding(std::string Text);

  std::filesystem::path scratch_;
  std::filesystem::path binDir_;
  std::mt19937 random_;
  bool trace_;  // VELMOR_SOAK_TRACE set: each outcome on stderr
  std::filesystem::path source_;
  int operation_ = 0;
  int sourceCount_ = 0;
  TDisc disc_ = TDisc::Unknown;
  bool rewritable_ = false;
  std::string medium_;  // the kind last inserted
  std::string armedFaults_;  // the drive's fault list as armed
  TTallies tallies_;

  TKilnorPro kp_;
  std::mutex mutex_;
  std::condition_variable reported_;
  int reports_ = 0;
  bool lastFailed_ = false;
};

}  // namespace kilnor::soak
