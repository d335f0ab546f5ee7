#include <iomanip>
#include <iostream>
#include <sstream>
#include <vector>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/Figures.h"
#include "cli/SelectedDrive.h"

namespace velmor::cli {

namespace {

using kilnor::TDeviceCapability;

// One row of the capability table: the medium and the capability numbers
// of reading and writing it (0: the drive cannot be asked).
struct TCapabilityRow {
  std::string_view Medium;
  TDeviceCapability Read;
  TDeviceCapability Write;
};

constexpr TCapabilityRow kRows[] = {
    {"CDR", kilnor::DC_READ_CDR, kilnor::DC_WRITE_CDR},
    {"CDRW", kilnor::DC_READ_CDRW, kilnor::DC_WRITE_CDRW},
    {"DVD RAM", kilnor::DC_READ_DVDRAM, kilnor::DC_WRITE_DVDRAM},
    {"DVDR", kilnor::DC_READ_DVDR, kilnor::DC_WRITE_DVDR},
    {"DVDRW", kilnor::DC_READ_DVDRW, kilnor::DC_WRITE_DVDRW},
    {"DVD+R", kilnor::DC_READ_DVDPLUSR, kilnor::DC_WRITE_DVDPLUSR},
    {"DVD+R DL", kilnor::DC_READ_DVDPLUSRDL, kilnor::DC_WRITE_DVDPLUSRDL},
    {"DVD+ RW", kilnor::DC_READ_DVDPLUSRW, kilnor::DC_WRITE_DVDPLUSRW},
    {"HD DVD ROM", kilnor::DC_READ_HDDVDROM, TDeviceCapability{}},
    {"HD DVD R", kilnor::DC_READ_HDDVDR, kilnor::DC_WRITE_HDDVDR},
    {"HD DVD RAM", kilnor::DC_READ_HDDVDRAM, kilnor::DC_WRITE_HDDVDRAM},
    {"BD ROM", kilnor::DC_READ_BDROM, TDeviceCapability{}},
    {"BDR", kilnor::DC_READ_BDR, kilnor::DC_WRITE_BDR},
    {"BDRE", kilnor::DC_READ_BDRE, kilnor::DC_WRITE_BDRE},
};

std::string_view YesNo(bool Value) { return Value ? "yes" : "no"; }

void Field(std::ostream& Out, std::string_view Caption, std::string_view Value) {
  Out << std::left << std::setw(40) << Caption << Value << '\n';
}

std::string Cell(kilnor::TKilnorPro& Component, TDeviceCapability Id) {
  if (Id == TDeviceCapability{}) return "-";
  return Component.DeviceCan(Id) ? "x" : ".";
}

// What the media-information window shows, in the order it asks the drive.
void PrintMediaInformation(kilnor::TKilnorPro& Component, std::ostream& Out) {
  Field(Out, "Drive:", Component.GetDeviceName(Component.SelectedDevice()));
  Field(Out, "Device is ready and media is present:", YesNo(Component.TestUnitReady()));
  Field(Out, "Disc in drive:", kilnor::TKilnorPro::MediumName(Component.DiscIs()).substr(2));
  Field(Out, "DISC Erasable:", YesNo(Component.Erasable()));
  Field(Out, "DISC Writable:", YesNo(Component.Writable()));
  Field(Out, "Sessions:", std::to_string(Component.SessionsOnDisc()));
  Field(Out, "Disc state:", kilnor::TKilnorPro::DiscStateName(Component.DiscState()));
  const std::uint32_t total = Component.TotalBlocksOnDisc();
  const std::uint32_t free = Component.FreeBlocksOnDisc();
  Field(Out, "Total Size:", GroupedMegabytes(total) + " MB (" + GroupedNumber(total) + " blocks)");
  Field(Out, "Free size:", GroupedMegabytes(free) + " MB (" + GroupedNumber(free) + " blocks)");
  const auto speed = [](std::uint16_t Value) { return GroupedNumber(Value) + " KB/s"; };
  Field(Out, "Max write speed:", speed(Component.MaxWriteSpeed()));
  Field(Out, "Read speed:", speed(Component.ReadSpeed()));
  Field(Out, "Write speed:", speed(Component.WriteSpeed()));
  Field(Out, "Device Max Read Speed:", speed(Component.DeviceMaxReadSpeed()));
  Field(Out, "Device Max Write Speed:", speed(Component.DeviceMaxWriteSpeed()));
  Field(Out, "Test Write:", YesNo(Component.DeviceCan(kilnor::DC_TEST_WRITE)));
  Field(Out, "UNDERRUN PROTECTION:", YesNo(Component.DeviceCan(kilnor::DC_UNDERRUNPROTECTION)));
  Out << '\n'
      << std::left << std::setw(12) << ""
      << " Read  Write\n";
  for (const TCapabilityRow& row : kRows) {
    Out << std::left << std::setw(12) << row.Medium << "  " << std::setw(4)
        << Cell(Component, row.Read) << "  " << Cell(Component, row.Write) << '\n';
  }
}

// One line per recorded session: where a reader finds each one.
void PrintSessions(kilnor::TKilnorPro& Component, std::ostream& Out) {
  const std::vector<kilnor::TSessionExtent> sessions = Component.RecordedSessions();
  if (sessions.empty()) return;
  Out << "\nSession  Start sector  Length (sectors)\n";
  for (const kilnor::TSessionExtent& session : sessions) {
    Out << std::right << std::setw(7) << session.Number << "  " << std::setw(12) << session.Start << "  "
        << std::setw(16) << session.Length << '\n';
  }
}

int ShowInformation(kilnor::TKilnorPro& kp, const TParsedArguments&) {
  PrintMediaInformation(kp, std::cout);
  PrintSessions(kp, std::cout);
  ReportLogProblems(kp);
  return kExitOk;
}

int RunInfo(const TParsedArguments& Parsed) { return RunOnSelectedDrive(Parsed, "info", ShowInformation); }

}  // namespace

const TCliCommand& CmdInfo() {
  static const TCliCommand command{
      "info", kDriveSynopsis,
      "Show the drive's medium, its state and sessions, free and total size, speeds and capabilities.",
      std::string_view(
          "  --drive N       the drive's index in 'velmor-cli drives' (default 0)\n"
          "  --aspi LIBRARY  ASPI library to use when no pass-through drive is found\n"
          "  --log FILE      write every drive command to FILE\n\n"
          "In the capability table x means yes, . no and - that the drive cannot be asked."),
      kDriveOptions,
      {},
      RunInfo};
  return command;
}

}  // namespace velmor::cli
