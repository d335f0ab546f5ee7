#include "cli/SessionListing.h"

#include <array>
#include <cstdio>
#include <iomanip>
#include <iostream>

#include "engine/platform/LocalTime.h"
#include "engine/platform/Unicode.h"

namespace velmor::cli {

namespace {

using kilnor::pDirEntry;
using kilnor::pFileEntry;

struct TListing {
  std::uint64_t Files = 0;
  std::uint64_t Folders = 0;
  std::uint64_t Bytes = 0;
};

// "drwxr-xr-x" of a POSIX mode, with the set-id and sticky bits as ls shows them.
std::string ModeText(std::uint32_t mode) {
  static constexpr std::array<std::pair<std::uint32_t, char>, 7> kTypes{{
      {0040000, 'd'}, {0120000, 'l'}, {0020000, 'c'}, {0060000, 'b'}, {0010000, 'p'}, {0140000, 's'}, {0100000, '-'}}};
  std::string text = "?rwxrwxrwx";
  for (const auto& [type, letter] : kTypes)
    if ((mode & 0170000) == type) text[0] = letter;
  for (int bit = 0; bit < 9; ++bit)
    if (!(mode & (0400u >> bit))) text[1 + bit] = '-';
  const auto special = [&](std::uint32_t flag, std::size_t at, char set) {
    if (mode & flag) text[at] = text[at] == '-' ? static_cast<char>(set - 'a' + 'A') : set;
  };
  special(04000, 3, 's');
  special(02000, 6, 's');
  special(01000, 9, 't');
  return text;
}

std::string DateText(const kilnor::TPosixTime& time) {
  const kilnor::TSystemTime local = kilnor::LocalCalendarOfFileTime(kilnor::FileTimeFromUnix(time.Seconds, 0));
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u", local.wYear, local.wMonth, local.wDay, local.wHour,
                local.wMinute);
  return text;
}

// With Rock Ridge an entry's line is the one ls -l gives: mode, links,
// owner, group, size, modification time, path and a link's target.
void PrintPosixLine(const kilnor::TFileEntry& entry, const std::string& path, std::ostream& out) {
  static const kilnor::TPosixAttributes kUnknown;
  const kilnor::TPosixAttributes& posix = entry.Posix ? *entry.Posix : kUnknown;
  out << ModeText(posix.Mode) << ' ' << std::setw(3) << posix.Links << ' ' << std::setw(5) << posix.Uid << ' '
      << std::setw(5) << posix.Gid << ' ' << std::setw(12) << entry.FileSize << ' ' << DateText(posix.Modify) << "  "
      << path;
  if (!posix.Names.get().LinkTarget.empty()) out << " -> " << posix.Names.get().LinkTarget;
  out << '\n';
}

// One line an entry: its size (folders: "<dir>") and its path from the root,
// or its ls -l line when the session records Rock Ridge.
void ListDirectory(pDirEntry directory, const std::string& path, bool posix, std::ostream& out, TListing& listing) {
  for (pFileEntry entry = directory->Files; entry; entry = entry->NextFile) {
    const std::string entryPath = path + "/" + kilnor::Utf16ToUtf8(entry->LongName);
    const bool folder = entry->DirRecord != nullptr;
    if (posix) {
      PrintPosixLine(*entry, entryPath + (folder ? "/" : ""), out);
    } else {
      out << std::setw(14);
      if (folder) {
        out << "<dir>";
      } else {
        out << entry->FileSize;
      }
      out << "  " << entryPath << (folder ? "/\n" : "\n");
    }
    if (folder) {
      ++listing.Folders;
      ListDirectory(entry->DirRecord, entryPath, posix, out, listing);
    } else {
      ++listing.Files;
      listing.Bytes += static_cast<std::uint64_t>(entry->FileSize);
    }
  }
}

}  // namespace

void PrintListing(const kilnor::TKilnorPro& kp, std::ostream& out) {
  out << "Volume label: " << kilnor::Utf16ToUtf8(kp.LastImport().VolumeLabel) << '\n';
  TListing listing;
  ListDirectory(kp.RootDir(), "", kp.LastImport().RockRidge, out, listing);
  out << listing.Files << " files, " << listing.Folders << " folders, " << listing.Bytes << " bytes\n";
  for (const std::string& leftOut : kp.LastImport().LeftOut)
    std::cerr << "velmor-cli: not listed: " << leftOut << '\n';
}

}  // namespace velmor::cli
