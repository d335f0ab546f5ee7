#include "cli/Compilation.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "engine/image/Tree.h"
#include "engine/platform/Unicode.h"

namespace velmor::cli {

namespace {

namespace fs = std::filesystem;
using kilnor::pDirEntry;
using kilnor::pFileEntry;

// The name a folder keeps on the disc: its last component, also when the
// path ends in a separator or is "." or "..".
std::string FolderName(const std::string& path) {
  std::error_code error;
  fs::path absolute = fs::absolute(fs::path(kilnor::Utf8ToUtf16(path)), error).lexically_normal();
  if (!absolute.has_filename()) absolute = absolute.parent_path();
  return kilnor::Utf16ToUtf8(absolute.filename().u16string());
}

bool InsertFolder(kilnor::TKilnorPro& kp, const std::string& path, std::string& reason) {
  const std::string name = FolderName(path);
  if (name.empty()) {
    reason = "a root folder has no name to record it under";
    return false;
  }
  const pDirEntry folder = kp.CreateDir("\\", name);
  if (!folder) {
    reason = kp.LastTreeError();
    return false;
  }
  if (folder == kilnor::kSkippedDir) {
    std::cerr << "velmor-cli: left out '" << path << "': " << kp.LastTreeError() << '\n';
    return true;
  }
  if (!kp.InsertDir("\\" + name, path, "*.*", true, false)) {
    reason = kp.LastTreeError();
    return false;
  }
  return true;
}

bool InsertOne(kilnor::TKilnorPro& kp, const std::string& path, std::string& reason) {
  std::error_code error;
  const fs::file_status status = fs::status(fs::path(kilnor::Utf8ToUtf16(path)), error);
  if (!fs::exists(status)) {
    reason = "no such file or folder";
    return false;
  }
  if (fs::is_directory(status)) return InsertFolder(kp, path, reason);
  const pFileEntry entry = kp.InsertFile("\\", path);
  if (!entry) {
    reason = kp.LastTreeError();
    return false;
  }
  if (entry == kilnor::kSkippedEntry) {
    std::cerr << "velmor-cli: left out '" << path << "': " << kp.LastTreeError() << '\n';
  }
  return true;
}

template <std::size_t N>
std::string_view Terminated(const char (&field)[N]) {
  return std::string_view(field, std::find(field, field + N, '\0') - field);
}

struct TTotals {
  std::uint64_t Files = 0;
  std::uint64_t Folders = 0;
  std::uint64_t Bytes = 0;
};

void PrintDirectory(pDirEntry directory, int depth, std::ostream& out, TTotals& totals) {
  for (pFileEntry entry = directory->Files; entry; entry = entry->NextFile) {
    out << std::string(static_cast<std::size_t>(depth) * 2, ' ')
        << kilnor::Utf16ToUtf8(entry->LongName);
    if (entry->DirRecord) {
      out << "/  [" << Terminated(entry->DirRecord->ShortName) << "]\n";
      ++totals.Folders;
      PrintDirectory(entry->DirRecord, depth + 1, out, totals);
    } else {
      out << "  [" << Terminated(entry->ShortName) << "]  " << entry->FileSize << " bytes\n";
      ++totals.Files;
      totals.Bytes += static_cast<std::uint64_t>(entry->FileSize);
    }
  }
}

}  // namespace

bool BuildCompilation(kilnor::TKilnorPro& Component, const std::vector<std::string>& Paths,
                      std::string& Error) {
  Component.ClearAll();
  for (const std::string& path : Paths) {
    std::string reason;
    if (!InsertOne(Component, path, reason)) {
      Error = "cannot add '" + path + "': " + (reason.empty() ? "not added" : reason);
      return false;
    }
  }
  return true;
}

bool ApplyLayoutOptions(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed, std::string& Error) {
  Component.SetJolietFileSystem(!Parsed.Has("--no-joliet"));
  Component.SetISO9660v1999FS(Parsed.Has("--iso9660-1999"));
  Component.SetUDFBridge(Parsed.Has("--udf"));
  if (const std::string label = Parsed.Value("--volume-id"); !label.empty()) Component.SetVolumeID(label);
  if (const std::string boot = Parsed.Value("--boot"); !boot.empty()) {
    Component.SetBootImage(boot);
    if (Component.BootImage() != boot) {
      Error = "boot image '" + boot +
              "' cannot be used: it must be a readable file of 2048, 1228800, 1474560 or 2949120 bytes";
      return false;
    }
  }
  return true;
}

void PrintCompilation(const kilnor::TKilnorPro& Component, std::ostream& Out) {
  const pDirEntry root = Component.CDFiles.RootDir;
  if (!root) return;
  Out << "\\\n";
  TTotals totals;
  PrintDirectory(root, 1, Out, totals);
  Out << totals.Files << " files, " << totals.Folders << " folders, " << totals.Bytes
      << " bytes\n";
}

}  // namespace velmor::cli
