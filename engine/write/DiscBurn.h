#pragma once
// Recording on the medium in the selected drive: the prepared compilation as
// a new session where the disc's next session starts, or an ISO image file
// byte for byte from sector 0. Both refuse, before a sector is written, what
// the medium cannot take; the end arrives through OnWriteDone.
#include <cstddef>
#include <string_view>

#include "engine/device/SCSILib.h"
#include "engine/image/TreeTypes.h"
#include "engine/platform/Workers.h"

namespace kilnor {

// Longest ISOFileName, in UTF-16 code units.
inline constexpr std::size_t kMaxISOFileNameChars = 4095;

// False at once, with the reason recorded, when the compilation is not
// prepared, the medium cannot be written or simulated as asked, the session
// would not fit, an imported entry does not lie before the session, or the
// stream ended before the writer could begin.
[[nodiscard]] bool Burn(TCDFiles& CDFiles, TSCSIDevice& Device, TWorkerRegistry& Workers, void* Component,
                        const TWriteDoneEvent& OnWriteDone);

// Records the file as it is. False at once for a name longer than
// kMaxISOFileNameChars, a file that cannot be opened (error 2), a disc that
// is not blank or rewritable, and for the refusals of Burn.
[[nodiscard]] bool BurnISOImage(TCDFiles& CDFiles, TSCSIDevice& Device, std::u16string_view FileName,
                                TWorkerRegistry& Workers, void* Component, const TWriteDoneEvent& OnWriteDone);

}  // namespace kilnor
