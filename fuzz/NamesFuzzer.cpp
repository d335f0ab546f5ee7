// Names of any kind, wide (UTF-16 with stray surrogates and NULs) and 8-bit
// (any bytes), through the component as a front end uses it: the volume
// label, directories, memory files and files recorded under names given on
// disc go in, in destinations named the same way; the session is laid out
// with the input's choice of trees and its header (every directory, path
// table and UDF structure) is generated in memory. The header is then read
// back as a session, so recorded names meet the session reader too.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "MemorySectors.h"
#include "ScratchDirectory.h"
#include "engine/KilnorPro.h"
#include "engine/image/ISO9660.h"
#include "engine/image/SessionImport.h"
#include "engine/image/Tree.h"
#include "engine/platform/Unicode.h"

namespace {

using namespace kilnor;

constexpr int kMaxItems = 24;
constexpr std::size_t kMaxNameBytes = 2 * 300;

std::u16string WideName(FuzzedDataProvider& input) {
  const std::string bytes = input.ConsumeRandomLengthString(kMaxNameBytes);
  std::u16string name(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < name.size(); ++i)
    name[i] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[2 * i]) << 8 | static_cast<std::uint8_t>(bytes[2 * i + 1]));
  return name;
}

std::string NarrowName(FuzzedDataProvider& input) { return input.ConsumeRandomLengthString(kMaxNameBytes); }

template <typename TChar, std::size_t N>
void CopyName(TChar (&field)[N], const std::basic_string<TChar>& name) {
  std::copy_n(name.begin(), std::min(name.size(), N - 1), field);
}

// Find data with a long name and an alias, both from the input.
template <typename TFindData, typename TNameOf>
TFindData FindDataNamed(FuzzedDataProvider& input, TNameOf nameOf) {
  TFindData fd;
  CopyName(fd.cFileName, nameOf(input));
  CopyName(fd.cAlternateFileName, nameOf(input));
  return fd;
}

void NoData(void*, pFileEntry, std::uint32_t, void*, std::uint32_t& Size) { Size = 0; }

const std::string& SourceFile() {
  static fuzz::TScratchDirectory scratch;
  static const std::string path = [] {
    const std::string file = scratch.Path() + "/source.txt";
    std::ofstream(file) << "data";
    return file;
  }();
  return path;
}

void AddItem(TKilnorPro& kp, FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 5)) {
    case 0: (void)kp.CreateDirW(WideName(input), WideName(input)); break;
    case 1: (void)kp.CreateDir(NarrowName(input), NarrowName(input)); break;
    case 2: {
      const std::u16string dest = WideName(input);
      (void)kp.InsertMemoryFileW(dest, FindDataNamed<TWin32FindDataW>(input, WideName), NoData);
      break;
    }
    case 3: {
      const std::string dest = NarrowName(input);
      (void)kp.InsertMemoryFile(dest, FindDataNamed<TWin32FindDataA>(input, NarrowName), NoData);
      break;
    }
    case 4: {
      const std::u16string dest = WideName(input), onDisc = WideName(input);
      (void)kp.InsertFileWithNameW(dest, Utf8ToUtf16(SourceFile()), onDisc, WideName(input));
      break;
    }
    default: {
      const std::string dest = NarrowName(input), onDisc = NarrowName(input);
      (void)kp.InsertFileWithName(dest, SourceFile(), onDisc, NarrowName(input));
      break;
    }
  }
}

void ChooseTrees(TKilnorPro& kp, std::uint8_t choice) {
  kp.SetJolietFileSystem(choice & 1);
  kp.SetUDFBridge(choice & 2);
  kp.SetRockRidge(choice & 4);
  kp.SetISO9660v1999FS(choice & 8);
}

void ReadBack(const TCDFiles& recorded) {
  const std::vector<std::uint8_t> whole = WholeHeader(recorded);
  fuzz::TMemorySectors header({whole.data(), whole.size()});
  TCDFiles again;
  ClearAll(again);
  (void)ImportVolume(again, header, {0, kImageCandidateSectors, 0}, again.RootDir);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  FuzzedDataProvider input(Data, Size);
  TKilnorPro kp;
  kp.ClearAll();
  ChooseTrees(kp, input.ConsumeIntegral<std::uint8_t>());
  if (input.ConsumeBool())
    kp.SetVolumeIDW(WideName(input));
  else
    kp.SetVolumeID(NarrowName(input));
  for (int i = 0; i < kMaxItems && input.remaining_bytes() > 0; ++i) AddItem(kp, input);
  if (kp.Prepare() != 0 && GenerateHeader(kp.CDFiles)) ReadBack(kp.CDFiles);
  return 0;
}
