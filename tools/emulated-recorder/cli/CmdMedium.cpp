// Insert, eject, load, remove and export: what a person does with discs.
#include <cstdio>

#include "Commands.h"

namespace velmor::emucli {

int RunInsert(const TContext& Context) {
  const auto kind = emu::MediumKindByName(Context.Arguments.Word(1));
  if (!kind) return Fail("insert needs a medium kind, e.g. insert dvd+rw (see velmor-emulator help)");
  std::string error;
  const auto blocks = Context.Arguments.Number("blocks", error);
  if (!error.empty()) return Fail(error);
  if (blocks && (*blocks == 0 || *blocks > 0xFFFFFFFFull)) return Fail("--blocks is out of range");
  emu::TEmulator emulator(Context.Directory);
  auto drive = ChosenDrive(Context, emulator);
  if (!drive) return 1;
  const std::string image = Context.Arguments.Option("image").value_or("");
  const bool inserted = emulator.WithDrive(*drive, [&](emu::TDrive& d) {
    const auto capacity = blocks ? std::optional(static_cast<std::uint32_t>(*blocks)) : std::nullopt;
    return d.InsertNew(*kind, capacity, image, error);
  });
  if (!inserted) return Fail(error);
  if (Saved(emulator) != 0) return 1;
  std::printf("drive %d: new %s inserted\n", emulator.DriveNumber(*drive), emu::Traits(*kind).Name.data());
  return 0;
}

int RunEject(const TContext& Context) {
  emu::TEmulator emulator(Context.Directory);
  auto drive = ChosenDrive(Context, emulator);
  if (!drive) return 1;
  const bool force = Context.Arguments.Has("force");
  if (!emulator.WithDrive(*drive, [&](emu::TDrive& d) { return d.OpenTray(force); }))
    return Fail("the medium is locked in the drive; use --force to open the tray anyway");
  return Saved(emulator);
}

int RunLoad(const TContext& Context) {
  emu::TEmulator emulator(Context.Directory);
  auto drive = ChosenDrive(Context, emulator);
  if (!drive) return 1;
  emulator.WithDrive(*drive, [](emu::TDrive& d) { d.CloseTray(); });
  return Saved(emulator);
}

int RunRemove(const TContext& Context) {
  emu::TEmulator emulator(Context.Directory);
  auto drive = ChosenDrive(Context, emulator);
  if (!drive) return 1;
  emulator.WithDrive(*drive, [](emu::TDrive& d) { d.RemoveMedium(); });
  return Saved(emulator);
}

int RunExport(const TContext& Context) {
  const std::string path = Context.Arguments.Word(1);
  if (path.empty()) return Fail("export needs the path of the image file to write");
  emu::TEmulator emulator(Context.Directory);
  auto drive = ChosenDrive(Context, emulator);
  if (!drive) return 1;
  if (emulator.Holds(path))
    return Fail("will not write the image into the state directory " + emulator.Directory() +
                ", whose files are the emulator's own; export it elsewhere");
  std::string error;
  if (!emulator.WithDrive(*drive, [&](emu::TDrive& d) { return d.ExportImage(path, error); })) return Fail(error);
  return Saved(emulator);
}

}  // namespace velmor::emucli
