// Arming, listing and clearing faults.
#include <cstdio>

#include "Commands.h"
#include "StateStore.h"

namespace velmor::emucli {

namespace {

// Operation codes are written in hexadecimal, with or without 0x or h.
[[nodiscard]] std::optional<std::uint64_t> Opcode(const TArguments& Arguments, std::string& Error) {
  auto text = Arguments.Option("opcode");
  if (!text) return std::nullopt;
  std::string digits = *text;
  if (digits.starts_with("0x") || digits.starts_with("0X")) digits = digits.substr(2);
  if (!digits.empty() && (digits.back() == 'h' || digits.back() == 'H')) digits.pop_back();
  auto value = ParseNumber("0x" + digits);
  if (!value) Error = "--opcode needs a hexadecimal operation code, e.g. 2A";
  return value;
}

[[nodiscard]] std::optional<emu::TFault> FaultFromArguments(const TArguments& Arguments, std::string& Error) {
  const auto type = emu::FaultTypeByName(Arguments.Word(2));
  if (!type) {
    Error = "unknown fault type \"" + Arguments.Word(2) + "\" (see velmor-emulator help)";
    return std::nullopt;
  }
  emu::TFault fault;
  fault.Type = *type;
  const auto opcode = Opcode(Arguments, Error);
  const auto count = Arguments.Number("count", Error);
  const auto lba = Arguments.Number("lba", Error);
  if (!Error.empty()) return std::nullopt;
  if ((opcode && *opcode > 0xFF) || (count && *count > 0xFFFFFFFFull) || (lba && *lba > 0xFFFFFFFFull)) {
    Error = "a fault option is out of range";
    return std::nullopt;
  }
  if (opcode) fault.Opcode = static_cast<std::uint8_t>(*opcode);
  fault.Count = count ? static_cast<std::uint32_t>(*count) : (*type == emu::TFaultType::Eject || *type == emu::TFaultType::PowerLoss || *type == emu::TFaultType::MediumFull ? 0 : 1);
  fault.Lba = lba ? static_cast<std::uint32_t>(*lba) : 0;
  if (auto text = Arguments.Option("sense")) {
    auto sense = emu::ParseSense(*text);
    if (!sense) {
      Error = "--sense needs KEY/ASC/ASCQ in hexadecimal, e.g. 3/0C/00";
      return std::nullopt;
    }
    fault.Sense = *sense;
  } else if (*type == emu::TFaultType::FailCommand) {
    Error = "fail-command needs --sense KEY/ASC/ASCQ";
    return std::nullopt;
  }
  const bool counted = *type == emu::TFaultType::FailCommand || *type == emu::TFaultType::Busy ||
                       *type == emu::TFaultType::NotReady;
  if (counted && fault.Count == 0) {
    Error = std::string(emu::FaultTypeName(*type)) + " needs a --count of at least 1";
    return std::nullopt;
  }
  if (*type == emu::TFaultType::FailCommand && !fault.Opcode) {
    Error = "fail-command needs --opcode";
    return std::nullopt;
  }
  if (*type == emu::TFaultType::WriteError && !lba) {
    Error = "write-error needs --lba";
    return std::nullopt;
  }
  return fault;
}

}  // namespace

int RunFault(const TContext& Context) {
  const std::string action = Context.Arguments.Word(1);
  emu::TEmulator emulator(Context.Directory);
  auto drive = ChosenDrive(Context, emulator);
  if (!drive) return 1;
  if (action == "list") {
    emulator.WithDrive(*drive, [](emu::TDrive& d) {
      for (const auto& fault : d.Faults().Armed()) std::printf("%s\n", emu::DescribeFault(fault).c_str());
    });
    return 0;
  }
  if (action == "clear") {
    emulator.WithDrive(*drive, [](emu::TDrive& d) { d.ClearFaults(); });
    return Saved(emulator);
  }
  if (action != "add") return Fail("fault needs add, list or clear");
  std::string error;
  auto fault = FaultFromArguments(Context.Arguments, error);
  if (!fault) return Fail(error);
  emulator.WithDrive(*drive, [&](emu::TDrive& d) { d.ArmFault(*fault); });
  if (Saved(emulator) != 0) return 1;
  std::printf("armed: %s\n", emu::DescribeFault(*fault).c_str());
  return 0;
}

}  // namespace velmor::emucli
