#include "cli/DriveFailure.h"

#include "cli/Command.h"
#include "engine/device/SenseTexts.h"
#include "engine/write/ErrorTexts.h"

namespace velmor::cli {

std::string DriveErrorText(kilnor::TKilnorPro& Component) {
  // The engine hands out its own error before the drive's; only a drive
  // error gets the sense beside it. The key is read before the text
  // consumes the error it belongs to.
  const bool driveError = Component.CDFiles.ErrorNumber == kilnor::erNone;
  const std::uint16_t code = Component.Device.DeviceError;
  const std::uint8_t key = Component.Device.DeviceErrorKey;
  std::string text = Component.ErrorString();
  if (driveError && code != 0)
    text += " (" + kilnor::SenseDescription(key, static_cast<std::uint8_t>(code >> 8),
                                            static_cast<std::uint8_t>(code)) +
            ")";
  return text;
}

int FailOnDrive(kilnor::TKilnorPro& Component, std::string_view What) {
  const std::string_view joint = What.ends_with('.') ? " " : ": ";
  return Fail(std::string(What) + std::string(joint) + DriveErrorText(Component));
}

}  // namespace velmor::cli
