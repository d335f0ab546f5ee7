#include "engine/Notifications.h"

#include "engine/KilnorPro.h"

namespace kilnor {

namespace {

// Handlers are copied before they run: a handler may assign another one, or
// none, while it runs.
template <class Event, class... Args>
void Fire(const Event& assigned, Args... args) {
  const Event handler = assigned;
  if (handler) handler(args...);
}

}  // namespace

void DeliverNotification(TKilnorPro& component, const TNotification& message) {
  const bool lFlag = message.lParam != 0;
  switch (message.Message) {
    case WM_SMARTREFDONE:
      Fire(component.OnGenerateSmartReferencesDone(), static_cast<void*>(&component),
           message.wParam != 0, static_cast<std::int32_t>(message.lParam));
      break;
    case WM_WRITEDONE:
      Fire(component.OnWriteDone(), static_cast<void*>(&component), std::uint8_t{0}, lFlag);
      break;
    case WM_ERASEDONE:
      Fire(component.OnEraseDone(), static_cast<void*>(&component), std::uint8_t{0}, lFlag);
      break;
    case WM_VERIFYDONE:
      Fire(component.OnVerifyDone(), static_cast<void*>(&component), std::uint8_t{0},
           static_cast<std::int32_t>(static_cast<std::uint32_t>(message.wParam)), lFlag);
      break;
    default:
      break;
  }
}

}  // namespace kilnor
