#include "engine/device/SenseTexts.h"

#include <array>
#include <cstdio>

namespace kilnor {

namespace {

struct TSenseMeaning {
  std::uint8_t Asc;
  std::uint8_t Ascq;
  std::string_view Text;
};

constexpr std::array<std::string_view, 16> kSenseKeys{
    "no sense",        "recovered error", "not ready",       "medium error",
    "hardware error",  "illegal request", "unit attention",  "data protect",
    "blank check",     "vendor specific", "copy aborted",    "aborted command",
    "obsolete key",    "volume overflow", "miscompare",      "reserved key"};

// The codes optical drives answer with, from the standards' tables.
constexpr TSenseMeaning kMeanings[] = {
    {0x00, 0x00, "no additional sense information"},
    {0x00, 0x16, "operation in progress"},
    {0x02, 0x00, "no seek complete"},
    {0x04, 0x00, "logical unit not ready, cause not reportable"},
    {0x04, 0x01, "logical unit is in process of becoming ready"},
    {0x04, 0x02, "logical unit not ready, initializing command required"},
    {0x04, 0x03, "logical unit not ready, manual intervention required"},
    {0x04, 0x04, "logical unit not ready, format in progress"},
    {0x04, 0x07, "logical unit not ready, operation in progress"},
    {0x04, 0x08, "logical unit not ready, long write in progress"},
    {0x04, 0x09, "logical unit not ready, self-test in progress"},
    {0x05, 0x00, "logical unit does not respond to selection"},
    {0x06, 0x00, "no reference position found"},
    {0x08, 0x00, "logical unit communication failure"},
    {0x08, 0x01, "logical unit communication time-out"},
    {0x09, 0x00, "track following error"},
    {0x09, 0x01, "tracking servo failure"},
    {0x09, 0x02, "focus servo failure"},
    {0x09, 0x03, "spindle servo failure"},
    {0x0C, 0x00, "write error"},
    {0x0C, 0x07, "write error, recovery needed"},
    {0x0C, 0x09, "write error, loss of streaming"},
    {0x0C, 0x0A, "write error, padding blocks added"},
    {0x11, 0x00, "unrecovered read error"},
    {0x11, 0x05, "l-ec uncorrectable error"},
    {0x11, 0x06, "circ unrecovered error"},
    {0x15, 0x00, "random positioning error"},
    {0x1A, 0x00, "parameter list length error"},
    {0x20, 0x00, "invalid command operation code"},
    {0x21, 0x00, "logical block address out of range"},
    {0x21, 0x02, "invalid address for write"},
    {0x24, 0x00, "invalid field in cdb"},
    {0x25, 0x00, "logical unit not supported"},
    {0x26, 0x00, "invalid field in parameter list"},
    {0x26, 0x01, "parameter not supported"},
    {0x26, 0x02, "parameter value invalid"},
    {0x27, 0x00, "write protected"},
    {0x28, 0x00, "not ready to ready change, medium may have changed"},
    {0x29, 0x00, "power on, reset, or bus device reset occurred"},
    {0x29, 0x01, "power on occurred"},
    {0x29, 0x02, "scsi bus reset occurred"},
    {0x29, 0x03, "bus device reset function occurred"},
    {0x29, 0x04, "device internal reset"},
    {0x2A, 0x00, "parameters changed"},
    {0x2A, 0x01, "mode parameters changed"},
    {0x2C, 0x00, "command sequence error"},
    {0x2E, 0x00, "insufficient time for operation"},
    {0x30, 0x00, "incompatible medium installed"},
    {0x30, 0x01, "cannot read medium, unknown format"},
    {0x30, 0x02, "cannot read medium, incompatible format"},
    {0x30, 0x03, "cleaning cartridge installed"},
    {0x30, 0x04, "cannot write medium, unknown format"},
    {0x30, 0x05, "cannot write medium, incompatible format"},
    {0x30, 0x06, "cannot format medium, incompatible medium"},
    {0x30, 0x07, "cleaning failure"},
    {0x30, 0x08, "cannot write, application code mismatch"},
    {0x30, 0x09, "current session not fixated for append"},
    {0x30, 0x10, "medium not formatted"},
    {0x31, 0x00, "medium format corrupted"},
    {0x31, 0x01, "format command failed"},
    {0x39, 0x00, "saving parameters not supported"},
    {0x3A, 0x00, "medium not present"},
    {0x3A, 0x01, "medium not present, tray closed"},
    {0x3A, 0x02, "medium not present, tray open"},
    {0x3E, 0x00, "logical unit has not self-configured yet"},
    {0x44, 0x00, "internal target failure"},
    {0x4E, 0x00, "overlapped commands attempted"},
    {0x51, 0x00, "erase failure"},
    {0x51, 0x01, "erase failure, incomplete erase operation detected"},
    {0x53, 0x00, "media load or eject failed"},
    {0x53, 0x02, "medium removal prevented"},
    {0x57, 0x00, "unable to recover table-of-contents"},
    {0x5A, 0x01, "operator medium removal request"},
    {0x5D, 0x00, "failure prediction threshold exceeded"},
    {0x63, 0x00, "end of user area encountered on this track"},
    {0x63, 0x01, "packet does not fit in available space"},
    {0x64, 0x00, "illegal mode for this track"},
    {0x64, 0x01, "invalid packet size"},
    {0x65, 0x00, "voltage fault"},
    {0x6F, 0x00, "copy protection key exchange failure, authentication failure"},
    {0x6F, 0x01, "copy protection key exchange failure, key not present"},
    {0x6F, 0x02, "copy protection key exchange failure, key not established"},
    {0x6F, 0x03, "read of scrambled sector without authentication"},
    {0x6F, 0x04, "media region code is mismatched to logical unit region"},
    {0x72, 0x00, "session fixation error"},
    {0x72, 0x01, "session fixation error writing lead-in"},
    {0x72, 0x02, "session fixation error writing lead-out"},
    {0x72, 0x03, "session fixation error, incomplete track in session"},
    {0x72, 0x04, "empty or partially written reserved track"},
    {0x72, 0x05, "no more track reservations allowed"},
    {0x73, 0x00, "cd control error"},
    {0x73, 0x01, "power calibration area almost full"},
    {0x73, 0x02, "power calibration area is full"},
    {0x73, 0x03, "power calibration area error"},
    {0x73, 0x04, "program memory area update failure"},
    {0x73, 0x05, "program memory area is full"},
    {0x73, 0x06, "rma/pma is almost full"},
};

// Meanings of a code whatever its qualifier, for qualifiers not listed above.
constexpr TSenseMeaning kFamilies[] = {
    {0x04, 0, "logical unit not ready"},
    {0x0C, 0, "write error"},
    {0x11, 0, "unrecovered read error"},
    {0x21, 0, "logical block address out of range"},
    {0x26, 0, "invalid field in parameter list"},
    {0x28, 0, "medium may have changed"},
    {0x29, 0, "power on or reset occurred"},
    {0x2A, 0, "parameters changed"},
    {0x30, 0, "incompatible medium installed"},
    {0x31, 0, "medium format corrupted"},
    {0x3A, 0, "medium not present"},
    {0x51, 0, "erase failure"},
    {0x53, 0, "media load or eject failed"},
    {0x63, 0, "end of user area encountered on this track"},
    {0x64, 0, "illegal mode for this track"},
    {0x6F, 0, "copy protection key exchange failure"},
    {0x72, 0, "session fixation error"},
    {0x73, 0, "cd control error"},
};

}  // namespace

std::string_view SenseKeyName(std::uint8_t SenseKey) { return kSenseKeys[SenseKey & 0x0F]; }

std::string_view AdditionalSenseMeaning(std::uint8_t Asc, std::uint8_t Ascq) {
  for (const TSenseMeaning& meaning : kMeanings)
    if (meaning.Asc == Asc && meaning.Ascq == Ascq) return meaning.Text;
  for (const TSenseMeaning& family : kFamilies)
    if (family.Asc == Asc) return family.Text;
  return {};
}

std::string SenseDescription(std::uint8_t SenseKey, std::uint8_t Asc, std::uint8_t Ascq) {
  char code[16];
  std::snprintf(code, sizeof code, "%X/%02X/%02X", SenseKey & 0x0F, Asc, Ascq);
  std::string_view meaning = AdditionalSenseMeaning(Asc, Ascq);
  if (meaning.empty()) meaning = SenseKeyName(SenseKey);
  return "sense " + std::string(code) + ": " + std::string(meaning);
}

}  // namespace kilnor
