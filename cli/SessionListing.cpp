#include "cli/SessionListing.h"

#include <iomanip>
#include <iostream>

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

// One line an entry: its size (folders: "<dir>") and its path from the root.
void ListDirectory(pDirEntry directory, const std::string& path, std::ostream& out, TListing& listing) {
  for (pFileEntry entry = directory->Files; entry; entry = entry->NextFile) {
    const std::string entryPath = path + "/" + kilnor::Utf16ToUtf8(entry->LongName);
    if (entry->DirRecord) {
      out << std::setw(14) << "<dir>" << "  " << entryPath << "/\n";
      ++listing.Folders;
      ListDirectory(entry->DirRecord, entryPath, out, listing);
    } else {
      out << std::setw(14) << entry->FileSize << "  " << entryPath << '\n';
      ++listing.Files;
      listing.Bytes += static_cast<std::uint64_t>(entry->FileSize);
    }
  }
}

}  // namespace

void PrintListing(const kilnor::TKilnorPro& kp, std::ostream& out) {
  out << "Volume label: " << kilnor::Utf16ToUtf8(kp.LastImport().VolumeLabel) << '\n';
  TListing listing;
  ListDirectory(kp.CDFiles.RootDir, "", out, listing);
  out << listing.Files << " files, " << listing.Folders << " folders, " << listing.Bytes << " bytes\n";
  for (const std::string& leftOut : kp.LastImport().LeftOut)
    std::cerr << "velmor-cli: not listed: " << leftOut << '\n';
}

}  // namespace velmor::cli
