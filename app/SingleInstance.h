#pragma once
// One running shell per user: the first instance holds a lock for its whole
// life, and a second one finds it taken and ends without a window.
#include <string>

class TSingleInstance {
 public:
  // Takes the lock "VelmorDataBurner" if no other process holds it. The
  // system drops the lock when the holder ends, however it ends.
  TSingleInstance();
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  [[nodiscard]] bool Acquired() const;

  // Where the lock lives: the user's runtime directory ($XDG_RUNTIME_DIR),
  // else the temporary folder under a name that holds the user id.
  [[nodiscard]] static std::string LockPath();

 private:
#ifdef _WIN32
  void* mutex_ = nullptr;
#else
  int lockFile_ = -1;
#endif
  bool acquired_ = false;
};
