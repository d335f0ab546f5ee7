// Writes seeds for fuzz_drive_replies: the emulated recorder answers every
// question of the device layer, with a medium of each kind in the tray, and
// its answers are written down in the fuzzer's input form, one file per kind.
//   fuzz_drive_replies_seeds OUTPUT-DIR [IMAGE-FOR-THE-CD-ROM]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Drive.h"
#include "DriveQuestions.h"
#include "ScratchDirectory.h"

namespace {

using namespace velmor::emu;

TDrive* Recorder = nullptr;
std::vector<std::uint8_t> Trace;

TDirection DirectionOf(std::uint8_t Flags) {
  if (Flags & kilnor::SRB_DIR_IN) return TDirection::In;
  if (Flags & kilnor::SRB_DIR_OUT) return TDirection::Out;
  return TDirection::None;
}

void Note(kilnor::TSRB_ExecSCSICmd& Srb, const TCommandResult& Result) {
  if (!Result.Good()) {
    Srb.SRB_Status = kilnor::SS_ERR;
    Srb.SRB_TargStat = Result.Status;
    const auto sense = FixedSense(Result.Sense);
    std::fill(std::begin(Srb.SenseArea), std::end(Srb.SenseArea), std::uint8_t{0});
    std::copy(sense.begin(), sense.end(), Srb.SenseArea);
    Trace.push_back(Result.Status == kStatusBusy ? 0xC0 : 0x80);
    Trace.insert(Trace.end(), std::begin(Srb.SenseArea), std::end(Srb.SenseArea));
    return;
  }
  Srb.SRB_Status = kilnor::SS_COMP;
  const std::uint16_t length = static_cast<std::uint16_t>(std::min<std::uint32_t>(Result.Transferred, 0xFFFF));
  Trace.insert(Trace.end(), {0x00, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
  if (DirectionOf(Srb.SRB_Flags) != TDirection::In) return;
  Trace.insert(Trace.end(), Srb.SRB_BufPointer, Srb.SRB_BufPointer + length);
  Srb.SRB_BufLen = length;
}

std::uint32_t Send(void* Request) {
  auto& srb = *static_cast<kilnor::TSRB_ExecSCSICmd*>(Request);
  const std::span<const std::uint8_t> cdb(srb.CDBByte, srb.SRB_CDBLen);
  Note(srb, Recorder->Execute(cdb, DirectionOf(srb.SRB_Flags), {srb.SRB_BufPointer, srb.SRB_BufLen}));
  const std::uint8_t status = srb.SRB_Status;
  if (auto* event = static_cast<kilnor::TAspiEvent*>(srb.SRB_PostProc)) event->Signal(event);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s OUTPUT-DIR [IMAGE-FOR-THE-CD-ROM]\n", argv[0]);
    return 2;
  }
  const kilnor::fuzz::TScratchDirectory scratch;
  for (const TMediumTraits& traits : AllMediumKinds()) {
    TDrive drive(TDriveConfig::Default(), scratch.Path());
    const bool pressed = traits.Recording == TRecording::ReadOnly && argc > 2;
    std::string error;
    if (!drive.InsertNew(traits.Kind, pressed ? std::nullopt : std::optional<std::uint32_t>(8192),
                         pressed ? argv[2] : "", error)) {
      std::fprintf(stderr, "%s: %s\n", std::string(traits.Name).c_str(), error.c_str());
      return 1;
    }
    Recorder = &drive;
    Trace.clear();
    kilnor::fuzz::AskEverything(*kilnor::fuzz::DeviceBehind(&Send));
    drive.RemoveMedium();
    std::ofstream(std::string(argv[1]) + "/" + std::string(traits.Name), std::ios::binary)
        .write(reinterpret_cast<const char*>(Trace.data()), static_cast<std::streamsize>(Trace.size()));
  }
  return 0;
}
