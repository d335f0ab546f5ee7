#pragma once
// The soak's sources and its read-back of what it wrote.
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace kilnor::soak {

// One to six files of random sizes (some empty, some over 64 KiB) at Folder's root.
void WriteRandomTree(const std::filesystem::path& Folder, std::mt19937& Random);
[[nodiscard]] std::string ReadWhole(const std::filesystem::path& File);
// The names of the entries of Folder.
[[nodiscard]] std::vector<std::string> EntriesOf(const std::filesystem::path& Folder);
// Mounts the image and compares every file of Source with its copy in the
// image; empty when all read back equal, else what differs.
[[nodiscard]] std::string CompareImageWithTree(const std::filesystem::path& Image,
                                               const std::filesystem::path& Source);

}  // namespace kilnor::soak
