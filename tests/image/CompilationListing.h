#pragma once
// The compilation as lines a test compares: "/path size @extent" for a file
// and "/path/" for a directory, in the order of the tree.
#include <string>
#include <vector>

#include "engine/image/TreeTypes.h"
#include "engine/platform/Unicode.h"

namespace kilnor::test {

inline void ListDirectory(pDirEntry dir, const std::string& path, std::vector<std::string>& lines) {
  for (pFileEntry e = dir->Files; e != nullptr; e = e->NextFile) {
    const std::string name = path + "/" + Utf16ToUtf8(e->LongName);
    if (e->DirRecord != nullptr) {
      lines.push_back(name + "/");
      ListDirectory(e->DirRecord, name, lines);
    } else {
      lines.push_back(name + " " + std::to_string(e->FileSize) + " @" + std::to_string(e->Address));
    }
  }
}

inline std::vector<std::string> CompilationListing(const TCDFiles& cd) {
  std::vector<std::string> lines;
  ListDirectory(cd.RootDir, "", lines);
  return lines;
}

}  // namespace kilnor::test
