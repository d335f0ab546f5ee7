#pragma once
// A shared library loaded at run time and the entry points looked up in it.
#include <string>

namespace kilnor::platform {

// Owns one loaded library; unloading happens when the object is destroyed or
// another library is loaded into it. Not thread-safe: the owner loads it once
// and then only looks up symbols.
class TDynamicLibrary {
 public:
  TDynamicLibrary() = default;
  TDynamicLibrary(const TDynamicLibrary&) = delete;
  TDynamicLibrary& operator=(const TDynamicLibrary&) = delete;
  ~TDynamicLibrary();

  // Unloads what was loaded and loads Path. False with Error() set on failure.
  [[nodiscard]] bool Load(const std::string& Path);
  void Unload();
  [[nodiscard]] bool IsLoaded() const { return Handle != nullptr; }
  // The address of an exported symbol, or null (Error() says why).
  [[nodiscard]] void* Symbol(const char* Name);
  [[nodiscard]] const std::string& Error() const { return LastError; }

 private:
  void* Handle = nullptr;
  std::string LastError;
};

// The folder of the running program (no trailing separator); empty when the
// system cannot tell.
[[nodiscard]] std::string ExecutableDirectory();

}  // namespace kilnor::platform
