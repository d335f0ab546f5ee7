#include "cli/DriveFailure.h"

#include "cli/Command.h"

namespace velmor::cli {

int FailOnDrive(kilnor::TKilnorPro& Component, std::string_view What) {
  const std::string_view joint = What.ends_with('.') ? " " : ": ";
  return Fail(std::string(What) + std::string(joint) + Component.ErrorDescription());
}

}  // namespace velmor::cli
