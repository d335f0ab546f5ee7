// The emulated recorder as an ASPI library: host-adapter inquiry, device
// type, disk information and execute-command requests against the drives of
// the state directory. Commands run on the library's own thread and finish
// asynchronously, as on a real host adapter: the request comes back pending
// and its completion is signalled when it is done.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "AspiRequests.h"
#include "Emulator.h"

#ifdef _WIN32
#include <windows.h>
#endif

#ifdef _WIN32
#define VELMOR_ASPI_EXPORT extern "C" __declspec(dllexport)
#else
#define VELMOR_ASPI_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace velmor::aspi {

namespace {

using emu::TDirection;

constexpr std::uint8_t kTargetsPerAdapter = 8;
constexpr std::uint8_t kHostScsiId = 7;
constexpr std::uint8_t kStatusNoAdapters = 0xE8;
constexpr std::uint8_t kCdDeviceType = 0x05;
constexpr std::chrono::seconds kIdleCheck{1};

void CopyText(std::uint8_t* Field, const char* Text) {
  std::memset(Field, ' ', 16);
  std::memcpy(Field, Text, std::min<std::size_t>(std::strlen(Text), 16));
}

// Which way data moves when the host leaves the direction to the command.
TDirection DirectionOfOpcode(std::uint8_t Opcode) {
  switch (Opcode) {
    case 0x04: case 0x2A: case 0x2E: case 0x55: case 0x5D: case 0xAA: case 0xB6: case 0xBF:
      return TDirection::Out;
    default: return TDirection::In;
  }
}

class TLibrary {
 public:
  TLibrary() : Emulator(emu::TStateStore::DefaultDirectory(), emu::TEmulator::TRole::Host) {
    if (!Emulator.Ready()) std::fprintf(stderr, "velmor-recorder: %s\n", Emulator.Error().c_str());
    Worker = std::thread([this] { Run(); });
  }

  ~TLibrary() {
    {
      std::lock_guard guard(QueueLock);
      Stopping = true;
    }
    QueueChanged.notify_all();
    Worker.join();
  }

  [[nodiscard]] std::uint8_t AdapterCount() const {
    const std::size_t drives = Emulator.DriveCount();
    return static_cast<std::uint8_t>(std::max<std::size_t>(1, (drives + kTargetsPerAdapter - 1) / kTargetsPerAdapter));
  }

  [[nodiscard]] std::uint32_t SupportInfo() const {
    if (!Emulator.Ready()) return std::uint32_t{kStatusNoAdapters} << 8;
    return std::uint32_t{kStatusComplete} << 8 | AdapterCount();
  }

  [[nodiscard]] std::uint32_t Send(void* Request) {
    if (!Request) return kStatusInvalidRequest;
    auto* header = static_cast<TRequestHeader*>(Request);
    switch (header->Command) {
      case kHostAdapterInquiry: return AdapterInquiry(*static_cast<TAdapterInquiry*>(Request));
      case kGetDeviceType: return DeviceType(*static_cast<TDeviceType*>(Request));
      case kGetDiskInfo: return DiskInfo(*static_cast<TDiskInfo*>(Request));
      case kExecuteCommand: return Queue(*static_cast<TExecuteCommand*>(Request));
      case kAbortRequest:
      case kResetDevice: return header->Status = kStatusComplete;
      default: return header->Status = kStatusInvalidCommand;
    }
  }

 private:
  [[nodiscard]] std::optional<std::size_t> DriveAt(std::uint8_t Adapter, std::uint8_t Target, std::uint8_t Lun) const {
    if (Lun != 0 || Target >= kTargetsPerAdapter) return std::nullopt;
    const std::size_t index = std::size_t{Adapter} * kTargetsPerAdapter + Target;
    if (index >= Emulator.DriveCount()) return std::nullopt;
    return index;
  }

  std::uint32_t AdapterInquiry(TAdapterInquiry& Request) {
    if (Request.Header.Adapter >= AdapterCount()) return Request.Header.Status = kStatusInvalidAdapter;
    Request.AdapterCount = AdapterCount();
    Request.AdapterScsiId = kHostScsiId;
    CopyText(Request.ManagerId, "VELMOR ASPI");
    CopyText(Request.AdapterId, "EMULATED BUS");
    std::memset(Request.Unique, 0, sizeof Request.Unique);
    Request.Unique[3] = kTargetsPerAdapter;
    const std::uint32_t maxTransfer = 16u << 20;
    std::memcpy(Request.Unique + 4, &maxTransfer, sizeof maxTransfer);
    return Request.Header.Status = kStatusComplete;
  }

  std::uint32_t DeviceType(TDeviceType& Request) {
    if (!DriveAt(Request.Header.Adapter, Request.Target, Request.Lun)) return Request.Header.Status = kStatusNoDevice;
    Request.DeviceType = kCdDeviceType;
    return Request.Header.Status = kStatusComplete;
  }

  std::uint32_t DiskInfo(TDiskInfo& Request) {
    auto drive = DriveAt(Request.Header.Adapter, Request.Target, Request.Lun);
    if (!drive) return Request.Header.Status = kStatusNoDevice;
    const char letter = Emulator.WithDrive(*drive, [](emu::TDrive& Drive) { return Drive.Config().DriveLetter; });
    if (letter == 0) return Request.Header.Status = kStatusError;  // no drive letter on this system
    Request.DriveFlags = 0;
    Request.Int13DriveInfo = static_cast<std::uint8_t>(letter - 'A');
    return Request.Header.Status = kStatusComplete;
  }

  // Hands the request to the worker. From here on only the worker touches it.
  std::uint32_t Queue(TExecuteCommand& Request) {
    if (Request.CdbLength == 0 || Request.CdbLength > sizeof Request.Cdb ||
        (Request.BufferLength > 0 && Request.Buffer == nullptr))
      return Finish(Request, kStatusInvalidRequest);
    if (!DriveAt(Request.Header.Adapter, Request.Target, Request.Lun)) return Finish(Request, kStatusNoDevice);
    Request.Header.Status = kStatusPending;
    {
      std::lock_guard guard(QueueLock);
      Pending.push_back(&Request);
    }
    QueueChanged.notify_one();
    return kStatusPending;
  }

  static std::uint32_t Finish(TExecuteCommand& Request, std::uint8_t Status) {
    const bool notify = (Request.Header.Flags & kFlagEventNotify) && Request.Completion;
    void* completion = Request.Completion;
    // A host that polls the status byte instead of waiting sees the reply
    // complete once it sees the status.
    std::atomic_ref<std::uint8_t>(Request.Header.Status).store(Status, std::memory_order_release);
    if (notify) Signal(completion);
    return Status;
  }

  // Windows hosts pass an event handle; elsewhere a completion record.
  static void Signal(void* Completion) {
#ifdef _WIN32
    ::SetEvent(static_cast<HANDLE>(Completion));
#else
    auto* event = static_cast<TCompletionEvent*>(Completion);
    if (event->Signal) event->Signal(event);
#endif
  }

  void Execute(TExecuteCommand& Request) {
    const std::size_t drive = *DriveAt(Request.Header.Adapter, Request.Target, Request.Lun);
    const std::uint8_t directionBits = Request.Header.Flags & (kFlagDataIn | kFlagDataOut);
    TDirection direction = directionBits == kFlagDataIn    ? TDirection::In
                           : directionBits == kFlagDataOut ? TDirection::Out
                                                           : DirectionOfOpcode(Request.Cdb[0]);
    if (Request.BufferLength == 0) direction = TDirection::None;
    const emu::TCommandResult result =
        Emulator.Execute(drive, std::span<const std::uint8_t>(Request.Cdb, Request.CdbLength), direction,
                         std::span<std::uint8_t>(Request.Buffer, Request.BufferLength));

    std::memset(Request.Sense, 0, sizeof Request.Sense);
    Request.AdapterStatus = result.Overrun ? kAdapterDataOverrun : 0;
    Request.TargetStatus = result.Overrun ? emu::kStatusGood : result.Status;
    if (result.Status == emu::kStatusCheckCondition) {
      const auto sense = emu::FixedSense(result.Sense);
      std::memcpy(Request.Sense, sense.data(), std::min<std::size_t>({sense.size(), Request.SenseLength, sizeof Request.Sense}));
    }
    Finish(Request, result.Good() ? kStatusComplete : kStatusError);
  }

  // Runs the queued commands; between them, lets other processes have the
  // drives this one has left idle.
  void Run() {
    while (true) {
      TExecuteCommand* request = nullptr;
      {
        std::unique_lock guard(QueueLock);
        if (!QueueChanged.wait_for(guard, kIdleCheck, [&] { return Stopping || !Pending.empty(); })) {
          guard.unlock();
          Emulator.ReleaseIdleClaims();
          continue;
        }
        if (Pending.empty()) return;
        request = Pending.front();
        Pending.pop_front();
      }
      Execute(*request);
    }
  }

  emu::TEmulator Emulator;
  std::mutex QueueLock;
  std::condition_variable QueueChanged;
  std::deque<TExecuteCommand*> Pending;
  bool Stopping = false;
  std::thread Worker;  // last: started after everything it uses exists
};

#ifdef _WIN32
// A DLL's static objects are destroyed under the system's loader lock, where
// the worker thread could never be joined: the DLL pins itself in the
// process instead, and the library and its worker live until the process ends.
TLibrary& Library() {
  static TLibrary* library = [] {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&Library), &self);
    return new TLibrary;
  }();
  return *library;
}
#else
TLibrary& Library() {
  static TLibrary library;
  return library;
}
#endif

}  // namespace

}  // namespace velmor::aspi

VELMOR_ASPI_EXPORT std::uint32_t GetASPI32SupportInfo() { return velmor::aspi::Library().SupportInfo(); }

VELMOR_ASPI_EXPORT std::uint32_t SendASPI32Command(void* Request) { return velmor::aspi::Library().Send(Request); }
