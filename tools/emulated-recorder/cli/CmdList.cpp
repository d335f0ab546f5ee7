#include <cstdio>

#include "Commands.h"

namespace velmor::emucli {

namespace {

const char* StateText(const emu::TMediumLayout& Layout) {
  switch (Layout.DiscStatus()) {
    case emu::TDiscStatus::Empty: return Layout.IsOverwrite() && !Layout.IsFormatted() ? "blank, unformatted" : "blank";
    case emu::TDiscStatus::Appendable: return "appendable";
    case emu::TDiscStatus::Complete: return Layout.IsOverwrite() ? "formatted" : "closed";
    case emu::TDiscStatus::Other: return "formatted";
  }
  return "";
}

void PrintMedium(const emu::TDrive& Drive) {
  if (!Drive.Medium()) {
    std::printf("    medium: none%s\n", Drive.TrayOpen() ? " (tray open)" : "");
    return;
  }
  const emu::TMediumLayout& layout = Drive.Medium()->Layout;
  std::printf("    medium: %s, %s, %u of %u blocks recorded%s\n", layout.Info().Name.data(), StateText(layout),
              layout.RecordedEnd(), layout.Capacity(), Drive.TrayOpen() ? " (tray open)" : "");
  for (const auto& track : layout.Tracks())
    std::printf("      track %u (session %u): blocks %u-%u%s\n", track.Number, track.Session, track.Start,
                track.Start + std::max(track.Recorded, 1u) - 1, track.Closed ? "" : ", open");
}

}  // namespace

int RunList(const TContext& Context) {
  emu::TEmulator emulator(Context.Directory);
  if (!emulator.Ready()) return Fail(emulator.Error());
  std::printf("state directory: %s\n", emulator.Directory().c_str());
  for (std::size_t i = 0; i < emulator.DriveCount(); ++i) {
    emulator.WithDrive(i, [&](emu::TDrive& drive) {
      const auto& config = drive.Config();
      std::printf("drive %d (adapter %zu, target %zu): %s %s %s%s\n", emulator.DriveNumber(i), i / 8, i % 8,
                  config.Vendor.c_str(), config.Product.c_str(), config.Revision.c_str(),
                  config.Realtime ? ", realtime" : "");
      PrintMedium(drive);
      for (const auto& fault : drive.Faults().Armed()) std::printf("    fault: %s\n", emu::DescribeFault(fault).c_str());
    });
  }
  return 0;
}

}  // namespace velmor::emucli
