#pragma once
// The component's side of the worker completions (engine/events/Completions.h):
// turning a posted message into the component's event on the owner's thread.
#include "engine/events/Completions.h"
#include "engine/platform/NotificationQueue.h"

namespace kilnor {

class TKilnorPro;

// Owner thread: fires the component's event for one completion message, with
// the handler assigned at this moment; an unassigned event is not fired and
// any other message is ignored.
void DeliverNotification(TKilnorPro& component, const TNotification& message);

}  // namespace kilnor
