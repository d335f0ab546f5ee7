#include "cli/Compilation.h"

#include <algorithm>
#include <filesystem>
#include <iostream>

#include "cli/ImageFile.h"
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

fs::path PathOf(const std::string& path) { return fs::path(kilnor::Utf8ToUtf16(path)); }

bool IsFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(PathOf(path), error);
}

// The name a path is recorded under at the root.
std::string RootName(const std::string& path) {
  return IsFolder(path) ? FolderName(path) : kilnor::Utf16ToUtf8(PathOf(path).filename().u16string());
}

// False, with reason, when two paths would take one name at the root.
bool CheckRootNamesDiffer(const std::vector<std::string>& paths, std::string& reason) {
  std::vector<std::u16string> names;
  for (const std::string& path : paths) names.push_back(kilnor::Utf8ToUtf16(RootName(path)));
  for (std::size_t later = 1; later < paths.size(); ++later) {
    for (std::size_t earlier = 0; earlier < later; ++earlier) {
      if (!kilnor::TKilnorPro::SameName(names[earlier], names[later])) continue;
      reason = QuotedPath(paths[earlier]) + " and " + QuotedPath(paths[later]) + " would both be recorded as " +
               QuotedPath(kilnor::Utf16ToUtf8(names[later])) + " at the root; give only one of them";
      return false;
    }
  }
  return true;
}

// Whether item lies at or below folder, both absolute and without links.
bool IsWithin(const fs::path& folder, const fs::path& item) {
  auto at = item.begin();
  for (const fs::path& component : folder) {
    if (at == item.end() || *at != component) return false;
    ++at;
  }
  return true;
}

// An insert that failed because the tree left the item out (and names it
// among the left-out items) is reported with those, not as a failure.
bool NamedAsLeftOut(const kilnor::TKilnorPro& kp, std::size_t leftOutBefore) {
  return kp.LeftOutItems().size() > leftOutBefore;
}

bool InsertFolder(kilnor::TKilnorPro& kp, const std::string& path, std::string& reason) {
  const std::string name = FolderName(path);
  if (name.empty()) {
    reason = "a root folder has no name to record it under";
    return false;
  }
  const std::size_t leftOut = kp.LeftOutItems().size();
  const pDirEntry folder = kp.CreateDir("\\", name);
  if (!folder) {
    reason = kp.LastTreeError();
    return NamedAsLeftOut(kp, leftOut);
  }
  if (kilnor::TKilnorPro::IsSkippedDir(folder)) return true;
  if (!kp.InsertDir("\\" + name, path, "*.*", true, false)) {
    reason = kp.LastTreeError();
    return false;
  }
  return true;
}

bool InsertOne(kilnor::TKilnorPro& kp, const std::string& path, std::string& reason) {
  std::error_code error;
  const fs::file_status status = fs::status(PathOf(path), error);
  // A link that leads nowhere is an item the tree leaves out, not a typing error.
  if (!fs::exists(status) && !fs::is_symlink(fs::symlink_status(PathOf(path), error))) {
    reason = "no such file or folder";
    return false;
  }
  if (fs::is_directory(status)) return InsertFolder(kp, path, reason);
  const std::size_t leftOut = kp.LeftOutItems().size();
  if (!kp.InsertFile("\\", path)) {
    reason = kp.LastTreeError();
    return NamedAsLeftOut(kp, leftOut);
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
    out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << PrintableText(entry->LongName);
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
  if (!CheckRootNamesDiffer(Paths, Error)) return false;
  for (const std::string& path : Paths) {
    std::string reason;
    if (!InsertOne(Component, path, reason)) {
      Error = "cannot add " + QuotedPath(path) + ": " + (reason.empty() ? "not added" : reason);
      return false;
    }
  }
  return true;
}

std::size_t PrintLeftOut(const kilnor::TKilnorPro& Component, std::ostream& Out) {
  const auto& items = Component.LeftOutItems();
  for (const kilnor::TLeftOutItem& item : items) {
    Out << "velmor-cli: left out " << QuotedPath(item.Path) << ": " << item.Reason << '\n';
  }
  return items.size();
}

bool CheckOutputOutsideInputs(const std::vector<std::string>& Paths, const std::string& Output, std::string& Error) {
  std::error_code error;
  const fs::path output = fs::weakly_canonical(fs::absolute(PathOf(Output), error), error);
  for (const std::string& path : Paths) {
    if (!IsFolder(path)) continue;
    const fs::path folder = fs::canonical(PathOf(path), error);
    if (error || !IsWithin(folder, output)) continue;
    Error = "the output " + QuotedPath(Output) + " lies inside " + QuotedPath(path) +
            ", which is being recorded; write the image somewhere else";
    return false;
  }
  return true;
}

namespace {

// "recorded as" forms that differ from the original, joined for one line.
class TRecordedForms {
 public:
  void Add(std::u16string_view Original, std::u16string_view Recorded, const char* Tree) {
    if (Recorded == Original) return;
    text_ += (text_.empty() ? "" : ", ") + QuotedPath(Recorded) + " (" + Tree + ")";
  }
  void AddIso(std::string_view Expected, std::string_view Recorded) {
    if (Recorded == Expected) return;
    text_ += (text_.empty() ? "" : ", ") + QuotedPath(std::string(Recorded)) + " (ISO 9660)";
  }
  void Print(const char* What, const std::string& Shown, std::ostream& Out) const {
    if (!text_.empty()) Out << "velmor-cli: " << What << ' ' << Shown << " recorded as " << text_ << '\n';
  }

 private:
  std::string text_;
};

std::string AsciiUpperCase(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

void PrintChangedLabel(const kilnor::TKilnorPro& kp, const std::string& Label, std::ostream& Out) {
  const std::u16string label = kilnor::Utf8ToUtf16(Label);
  const kilnor::TRecordedLabels recorded = kp.RecordedLabels();
  TRecordedForms forms;
  forms.AddIso(AsciiUpperCase(Label), recorded.Iso9660);
  if (kp.JolietFileSystem()) forms.Add(label, recorded.Joliet, "Joliet");
  if (kp.UDFBridge()) forms.Add(label, recorded.UDF, "UDF");
  forms.Print("volume label", QuotedPath(Label), Out);
}

void PrintChangedEntryNames(const kilnor::TKilnorPro& kp, std::ostream& Out) {
  for (const auto& dir : kp.CDFiles.Dirs) {
    if (dir->number == 0) continue;
    for (pFileEntry entry = dir->Files; entry; entry = entry->NextFile) {
      TRecordedForms forms;
      if (kp.JolietFileSystem()) forms.Add(entry->LongName, kilnor::TKilnorPro::JolietName(*entry), "Joliet");
      if (const std::u16string udf = kp.UDFShortenedName(*entry); kp.UDFBridge() && !udf.empty())
        forms.Add(entry->LongName, udf, "UDF");
      const std::u16string source = kilnor::TKilnorPro::SourcePathOf(*entry);
      const std::u16string shown = source.empty() ? kilnor::TKilnorPro::PathOf(dir.get()) + entry->LongName : source;
      forms.Print("name", QuotedPath(shown), Out);
    }
  }
}

}  // namespace

void PrintChangedNames(const kilnor::TKilnorPro& Component, const std::string& Label, std::ostream& Out) {
  if (!Label.empty()) PrintChangedLabel(Component, Label, Out);
  PrintChangedEntryNames(Component, Out);
}

bool AcceptLeftOut(const kilnor::TKilnorPro& Component, const TParsedArguments& Parsed, std::string& Error) {
  const std::size_t leftOut = PrintLeftOut(Component, std::cerr);
  if (leftOut == 0 || Parsed.Has("--skip-unsupported")) return true;
  Error = std::to_string(leftOut) + (leftOut == 1 ? " item" : " items") +
          " would be left out, so nothing was recorded; --skip-unsupported records the rest without them";
  return false;
}

void ApplyTreeOptions(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed) {
  if (Parsed.Has("--no-rock-ridge")) Component.SetRockRidge(false);
  Component.SetFollowLinks(Parsed.Has("--follow-links"));
  Component.SetRockRidgePublic(Parsed.Has("--public-attributes"));
}

bool ApplyLayoutOptions(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed, std::string& Error) {
  Component.SetJolietFileSystem(!Parsed.Has("--no-joliet"));
  Component.SetISO9660v1999FS(Parsed.Has("--iso9660-1999"));
  Component.SetUDFBridge(Parsed.Has("--udf"));
  if (const std::string label = Parsed.Value("--volume-id"); !label.empty()) Component.SetVolumeID(label);
  if (const std::string boot = Parsed.Value("--boot"); !boot.empty()) {
    Component.SetBootImage(boot);
    if (Component.BootImage() != boot) {
      Error = "boot image " + QuotedPath(boot) +
              " cannot be used: it must be a readable file of 2048, 1228800, 1474560 or 2949120 bytes";
      return false;
    }
  }
  return true;
}

bool PrepareCompilation(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed, std::uint32_t& Sectors,
                        std::string& Error) {
  Sectors = Component.Prepare();
  Error = Component.PrepareError();
  if (!Error.empty()) return false;
  PrintChangedNames(Component, Parsed.Value("--volume-id"), std::cerr);
  return true;
}

void PrintCompilation(const kilnor::TKilnorPro& Component, std::ostream& Out) {
  const pDirEntry root = Component.RootDir();
  if (!root) return;
  Out << "\\\n";
  TTotals totals;
  PrintDirectory(root, 1, Out, totals);
  Out << totals.Files << " files, " << totals.Folders << " folders, " << totals.Bytes
      << " bytes\n";
}

}  // namespace velmor::cli
