#include "Soak.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "SoakChecks.h"
#include "engine/Notifications.h"
#include "engine/write/Verify.h"

namespace kilnor::soak {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::vector<std::string> kRewritable = {"cd-rw", "dvd+rw", "dvd-rw", "bd-re"};
const std::vector<std::string> kAnyMedium = {"cd-r", "cd-rw", "dvd+r", "dvd-r", "dvd+rw", "dvd-rw", "bd-r", "bd-re"};

const std::vector<TFault> kBurnFaults = {
    {"write-error --lba 40", TExpect::Fails},
    {"write-error --lba 100", TExpect::Fails},
    {"power-loss --count 2", TExpect::Fails},
    {"eject --count 2", TExpect::Fails},
    {"busy --opcode 2A --count 20", TExpect::Recovers},
    {"not-ready --opcode 2A --count 5001", TExpect::Fails},
    // The second CLOSE TRACK/SESSION: on BD-R a refused session close is sent
    // again without the immediate bit, so the burn may still succeed.
    {"fail-command --opcode 5B --count 2 --sense 3/0C/00", TExpect::Either},
    {"fail-command --opcode 35 --count 2 --sense 3/0C/00", TExpect::Fails},
};
const std::vector<TFault> kEraseFaults = {
    {"fail-command --opcode A1 --sense 5/24/00", TExpect::Fails},
    // A refused quick format is followed by zeros over the disc's start.
    {"fail-command --opcode 04 --sense 3/0C/00", TExpect::Either},
    {"busy --count 20", TExpect::Either},
    {"power-loss --count 1", TExpect::Either},
};
const std::vector<TFault> kVerifyFaults = {
    {"fail-command --opcode 28 --sense 3/11/00", TExpect::Either},
    {"not-ready --opcode 28 --count 5001", TExpect::Either},
    {"busy --opcode 28 --count 20", TExpect::Recovers},
};

}  // namespace

TSoak::TSoak(fs::path Scratch, fs::path BinDir, std::uint32_t Seed)
    : scratch_(std::move(Scratch)), binDir_(std::move(BinDir)), random_(Seed),
      trace_(std::getenv("VELMOR_SOAK_TRACE") != nullptr) {}

bool TSoak::Open(std::string& Error) {
  if (!kp_.InitializeASPI(true, (binDir_ / "libvelmor-recorder.so").string(), "") || !kp_.SelectDevice(0)) {
    Error = "the emulated recorder cannot be opened: " + kp_.ErrorString();
    return false;
  }
  const auto reported = [this](bool Failed) {
    std::lock_guard lock(mutex_);
    lastFailed_ = Failed;
    ++reports_;
    reported_.notify_all();
  };
  kp_.SetOnWriteDone([reported](void*, std::uint8_t, bool Failed) { reported(Failed); });
  kp_.SetOnEraseDone([reported](void*, std::uint8_t, bool Failed) { reported(Failed); });
  kp_.SetOnVerifyDone([reported](void*, std::uint8_t, std::int32_t FileId, bool Failed) {
    if (FileId == kVerifySummary) reported(Failed);
  });
  fs::create_directories(scratch_ / "images");
  return true;
}

void TSoak::RunOperation(int Index) {
  operation_ = Index;
  switch (Pick(5)) {
    case 0: ImageBuild(); break;
    case 1: BurnNew(); break;
    case 2: Append(); break;
    case 3: Erase(); break;
    default: Verify(); break;
  }
}

// ---- Operations -----------------------------------------------------------------

void TSoak::ImageBuild() {
  const std::string kind = "image build";
  ++tallies_.Operations[kind];
  if (!PrepareTree()) return;
  const fs::path target = scratch_ / "images" / "soak.iso";
  const bool existed = fs::exists(target);
  const std::string before = existed ? ReadWhole(target) : std::string();
  const bool changeSource = sourceCount_ > 1 && Chance(15);
  if (changeSource) {
    // The last file has data; an empty one is never read, so its growth goes unseen.
    std::ofstream(source_ / ("file" + std::to_string(sourceCount_ - 1) + ".bin"), std::ios::binary | std::ios::app)
        << "grown after the layout";
    ++tallies_.FaultsArmed;
  }
  const bool abort = Chance(20);
  const TOutcome outcome = Run([&] { return kp_.BuildISOImage(target.string()); }, abort);
  static const TFault kChangedSource{"a source file grown after the layout", TExpect::Fails};
  if (changeSource) ++tallies_.FaultsFired;
  const bool success = Judge(kind, outcome, changeSource ? &kChangedSource : nullptr, changeSource, abort);
  if (EntriesOf(scratch_ / "images") != std::vector<std::string>{"soak.iso"} && (existed || success))
    Finding(kind + ": the image folder holds " + std::to_string(EntriesOf(scratch_ / "images").size()) + " entries");
  if (success) {
    if (const std::string differs = CompareImageWithTree(target, source_); !differs.empty()) {
      ++tallies_.Lost;
      Finding(kind + " reported success but " + differs);
    }
  } else if (existed ? ReadWhole(target) != before : fs::exists(target)) {
    ++tallies_.Lost;
    Finding(kind + " failed and " + (existed ? "changed the image that stood there" : "left an image behind"));
  } else if (!existed && !EntriesOf(scratch_ / "images").empty()) {
    ++tallies_.Lost;
    Finding(kind + " failed and left " + EntriesOf(scratch_ / "images").front() + " behind");
  }
  disc_ = disc_ == TDisc::Burned ? TDisc::Unknown : disc_;  // the compilation is no longer the one burned
  CheckIdle(kind);
}

void TSoak::BurnNew() {
  if (disc_ != TDisc::Blank) InsertFresh(kAnyMedium);
  RecordSession("burn");
}

void TSoak::Append() {
  if (disc_ != TDisc::Burned && !BurnForSetUp(kAnyMedium)) return;
  RecordSession("append");
}

void TSoak::Erase() {
  const std::string kind = "erase";
  if (!rewritable_ || disc_ == TDisc::Unknown) {
    if (!BurnForSetUp(kRewritable)) return;
  }
  ++tallies_.Operations[kind];
  const TFault* fault = ArmFault(kEraseFaults);
  const bool abort = Chance(15);
  const TOutcome outcome = Run([&] { return kp_.EraseDisc(Chance(70)); }, abort);
  const bool fired = FaultFired(fault);
  disc_ = TDisc::Unknown;
  if (Judge(kind, outcome, fault, fired, abort)) {
    if (!kp_.ReadVolumeLabelOfDisc(0).empty()) {
      ++tallies_.Misreported;
      Finding(kind + " reported success but the disc still holds a volume");
    } else {
      disc_ = TDisc::Blank;
    }
  }
  CheckIdle(kind);
}

void TSoak::Verify() {
  const std::string kind = "verify";
  if (disc_ != TDisc::Burned && !BurnForSetUp(kAnyMedium)) return;
  ++tallies_.Operations[kind];
  const TFault* fault = ArmFault(kVerifyFaults);
  const bool abort = Chance(15);
  TOutcome outcome = Run([&] { return kp_.VerifyDisc(false, false); }, abort);
  const bool fired = FaultFired(fault);
  if (outcome.Started) outcome.Error = VerifyFailure();
  if (Judge(kind, outcome, fault, fired, abort)) {
    const TVerifyReport& report = kp_.LastVerify();
    if (report.Failed != 0 || report.Aborted || report.Checked != static_cast<std::uint32_t>(sourceCount_)) {
      ++tallies_.Misreported;
      Finding(kind + " reported success after checking " + std::to_string(report.Checked) + " of " +
              std::to_string(sourceCount_) + " files, " + std::to_string(report.Failed) + " failed");
    }
  }
  CheckIdle(kind);
}

void TSoak::RecordSession(const std::string& Kind) {
  ++tallies_.Operations[Kind];
  if (!PrepareTree()) return;
  const std::string what = Kind + " on " + medium_;
  const TFault* fault = ArmFault(kBurnFaults);
  const bool abort = Chance(15);
  const TOutcome outcome = Run([&] { return kp_.Burn(); }, abort);
  const bool fired = FaultFired(fault);
  disc_ = TDisc::Unknown;
  if (Judge(what, outcome, fault, fired, abort)) CheckDiscReadsBack(what);
  CheckIdle(Kind);
}

// ---- Set-up -------------------------------------------------------------------------

void TSoak::InsertFresh(const std::vector<std::string>& Kinds) {
  const std::string kind = Kinds[Pick(Kinds.size())];
  medium_ = kind;
  if (!EmulatorOutput("insert " + kind)) Finding("velmor-emulator insert " + kind + " failed");
  rewritable_ = kind == "cd-rw" || kind == "dvd+rw" || kind == "dvd-rw" || kind == "bd-re";
  disc_ = TDisc::Blank;
}

bool TSoak::BurnForSetUp(const std::vector<std::string>& Kinds) {
  InsertFresh(Kinds);
  if (!PrepareTree()) return false;
  const TOutcome outcome = Run([&] { return kp_.Burn(); }, false);
  if (!outcome.Reported || outcome.Failed) {
    ++tallies_.Misreported;
    Finding("a burn without faults on a new " + medium_ + " failed: " + outcome.Error);
    disc_ = TDisc::Unknown;
    return false;
  }
  disc_ = TDisc::Burned;
  return true;
}

bool TSoak::PrepareTree() {
  std::error_code ignored;
  fs::remove_all(source_, ignored);
  source_ = scratch_ / ("source" + std::to_string(operation_) + "-" + std::to_string(Pick(1000000)));
  WriteRandomTree(source_, random_);
  sourceCount_ = static_cast<int>(EntriesOf(source_).size());
  kp_.ClearAll();
  kp_.SetVolumeID("SOAK");
  if (kp_.InsertDirW(u"\\", source_.u16string(), u"*", true, false) == nullptr || kp_.Prepare() == 0) {
    Finding("operation " + std::to_string(operation_) + ": the tree cannot be prepared: " + kp_.ErrorString());
    return false;
  }
  return true;
}

// ---- Running and judging -------------------------------------------------------

TOutcome TSoak::Run(const std::function<bool()>& Start, bool Abort) {
  const int before = reports_;
  TOutcome outcome;
  outcome.Started = Start();
  if (!outcome.Started) {
    outcome.Error = kp_.ErrorString();
    return outcome;
  }
  if (Abort) AbortSoon(before);
  std::unique_lock lock(mutex_);
  outcome.Reported = reported_.wait_for(lock, 120s, [&] { return reports_ > before; });
  outcome.Failed = lastFailed_;
  lock.unlock();
  kp_.Workers.StopAndJoinAll();
  if (outcome.Failed) outcome.Error = kp_.ErrorString();
  return outcome;
}

void TSoak::AbortSoon(int ReportsBefore) {
  ++tallies_.Aborts;
  std::this_thread::sleep_for(std::chrono::microseconds(Pick(20000)));
  std::lock_guard lock(mutex_);
  if (reports_ == ReportsBefore) kp_.AbortOperation();
}

const TFault* TSoak::ArmFault(const std::vector<TFault>& Faults) {
  if (!Chance(40)) return nullptr;
  const TFault& fault = Faults[Pick(Faults.size())];
  if (!EmulatorOutput("fault add " + fault.Arguments)) Finding("velmor-emulator fault add " + fault.Arguments + " failed");
  armedFaults_ = EmulatorOutput("fault list").value_or("");
  ++tallies_.FaultsArmed;
  return &fault;
}

bool TSoak::FaultFired(const TFault* Fault) {
  if (Fault == nullptr) return false;
  // A fault that fails one command leaves the list once it has; busy and
  // not-ready have answered some commands as soon as their count is lower.
  const std::string left = EmulatorOutput("fault list").value_or("");
  const bool answersMany = Fault->Arguments.starts_with("busy") || Fault->Arguments.starts_with("not-ready");
  const bool fired = left.empty() || (answersMany && left != armedFaults_);
  if (!left.empty() && !EmulatorOutput("fault clear")) Finding("velmor-emulator fault clear failed");
  if (fired) ++tallies_.FaultsFired;
  return fired;
}

bool TSoak::Judge(const std::string& Kind, const TOutcome& Outcome, const TFault* Fault, bool Fired, bool Aborted) {
  const std::string what = Kind + (Fault ? " with " + Fault->Arguments + (Fired ? " (fired)" : " (not reached)") : "") +
                           (Aborted ? ", aborted" : "");
  if (Outcome.Started && !Outcome.Reported) {
    ++tallies_.Misreported;
    Finding(what + ": no completion reported");
    return false;
  }
  const bool failed = !Outcome.Started || Outcome.Failed;
  if (trace_)
    std::fprintf(stderr, "%d: %s: %s\n", operation_, what.c_str(), failed ? Outcome.Error.c_str() : "success");
  if (failed && (Outcome.Error.empty() || Outcome.Error == "Unknown/No Error!")) {
    ++tallies_.Misreported;
    Finding(what + ": a failure without a reason");
    return false;
  }
  const bool mustFail = Fired && Fault->Expect == TExpect::Fails;
  const bool mayFail = Aborted || (Fired && Fault->Expect != TExpect::Recovers);
  if (!failed && mustFail) {
    ++tallies_.Misreported;
    Finding(what + ": reported success");
  } else if (failed && !mayFail && !mustFail) {
    ++tallies_.Misreported;
    Finding(what + ": failed with nothing to cause it: " + Outcome.Error);
  } else if (failed) {
    ++tallies_.FailuresReported;
  } else {
    ++tallies_.Succeeded;
  }
  return !failed;
}

void TSoak::CheckDiscReadsBack(const std::string& Kind) {
  const TOutcome outcome = Run([this] { return kp_.VerifyDisc(false, false); }, false);
  const TVerifyReport& report = kp_.LastVerify();
  const std::string failure = VerifyFailure();
  if (!outcome.Reported || outcome.Failed || report.Failed != 0 ||
      report.Checked != static_cast<std::uint32_t>(sourceCount_)) {
    ++tallies_.Lost;
    Finding(Kind + " reported success but the disc does not read back: " + std::to_string(report.Failed) + " of " +
            std::to_string(report.Checked) + " files differ: " + failure);
    return;
  }
  disc_ = TDisc::Burned;
}

std::string TSoak::VerifyFailure() const {
  const TVerifyReport& report = kp_.LastVerify();
  if (report.Aborted) return "aborted";
  for (const TVerifyFinding& finding : report.Findings)
    if (finding.Outcome != TVerifyOutcome::Match) return finding.Message;
  return {};
}

void TSoak::CheckIdle(const std::string& Kind) {
  if (kp_.ComponentStatus() == stIdle) return;
  ++tallies_.NotIdle;
  Finding(Kind + " left the component in status " + std::to_string(kp_.ComponentStatus()));
}

// ---- Helpers -------------------------------------------------------------------------

std::optional<std::string> TSoak::EmulatorOutput(const std::string& Arguments) {
  const std::string command = (binDir_ / "velmor-emulator").string() + " " + Arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
  if (pclose(pipe) != 0) return std::nullopt;
  return output;
}

bool TSoak::Chance(int Percent) { return static_cast<int>(Pick(100)) < Percent; }

std::size_t TSoak::Pick(std::size_t Count) { return std::uniform_int_distribution<std::size_t>(0, Count - 1)(random_); }

void TSoak::Finding(std::string Text) {
  tallies_.Findings.push_back("operation " + std::to_string(operation_) + ": " + std::move(Text));
}

}  // namespace kilnor::soak
