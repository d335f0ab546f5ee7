#include "engine/platform/DynamicLibrary.h"

#ifdef _WIN32
#include <windows.h>

#include "engine/platform/Unicode.h"
#else
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#endif

namespace kilnor::platform {

TDynamicLibrary::~TDynamicLibrary() { Unload(); }

#ifdef _WIN32

bool TDynamicLibrary::Load(const std::string& Path) {
  Unload();
  const std::u16string widePath = Utf8ToUtf16(Path);
  Handle = LoadLibraryW(reinterpret_cast<const wchar_t*>(widePath.c_str()));
  LastError = Handle ? std::string() : "cannot load " + Path + " (system error " +
                                           std::to_string(GetLastError()) + ")";
  return Handle != nullptr;
}

void TDynamicLibrary::Unload() {
  if (Handle) FreeLibrary(static_cast<HMODULE>(Handle));
  Handle = nullptr;
}

void* TDynamicLibrary::Symbol(const char* Name) {
  if (!Handle) return nullptr;
  void* address = reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(Handle), Name));
  LastError = address ? std::string() : std::string("no entry point ") + Name;
  return address;
}

std::string ExecutableDirectory() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  const std::string program = Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(path), length));
  std::size_t slash = program.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

#else

bool TDynamicLibrary::Load(const std::string& Path) {
  Unload();
  Handle = dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!Handle) {
    const char* reason = dlerror();
    LastError = reason ? reason : "cannot load " + Path;
  } else {
    LastError.clear();
  }
  return Handle != nullptr;
}

void TDynamicLibrary::Unload() {
  if (Handle) dlclose(Handle);
  Handle = nullptr;
}

void* TDynamicLibrary::Symbol(const char* Name) {
  if (!Handle) return nullptr;
  dlerror();
  void* address = dlsym(Handle, Name);
  LastError = address ? std::string() : std::string("no entry point ") + Name;
  return address;
}

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return {};
  std::string program(path, static_cast<std::size_t>(length));
  std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

#endif

}  // namespace kilnor::platform
