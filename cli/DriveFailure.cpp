#include "cli/DriveFailure.h"

#include "cli/Command.h"
#include "engine/device/SenseTexts.h"
#include "engine/write/ErrorTexts.h"

namespace velmor::cli {

namespace {

// Engine numbers above erAborted and within 16 bits are a drive's additional
// sense code and qualifier, recorded by the operation the drive failed.
[[nodiscard]] bool IsDriveCode(std::uint32_t Number) { return Number > kilnor::erAborted && Number <= 0xFFFF; }

}  // namespace

std::string DriveErrorText(kilnor::TKilnorPro& Component) {
  // The engine hands out its own error before the drive's. A drive code gets
  // its sense beside it, with the key when it is the drive's last failure;
  // a file error gets its cause. Both are read before the text consumes the
  // error they belong to.
  const std::uint32_t engine = Component.CDFiles.ErrorNumber;
  const std::uint32_t code = engine == kilnor::erNone ? Component.Device.DeviceError.load() : engine;
  const bool keyKnown = code == Component.Device.DeviceError;
  const std::uint8_t key = Component.Device.DeviceErrorKey;
  const std::string cause = Component.ErrorCause();
  std::string text = Component.ErrorString();
  if (IsDriveCode(code) && keyKnown)
    text += " (" + kilnor::SenseDescription(key, static_cast<std::uint8_t>(code >> 8),
                                            static_cast<std::uint8_t>(code)) +
            ")";
  else if (!cause.empty())
    text += " (" + cause + ")";
  return text;
}

int FailOnDrive(kilnor::TKilnorPro& Component, std::string_view What) {
  const std::string_view joint = What.ends_with('.') ? " " : ": ";
  return Fail(std::string(What) + std::string(joint) + DriveErrorText(Component));
}

}  // namespace velmor::cli
