#include "Faults.h"

#include <array>
#include <cstdio>

namespace velmor::emu {

namespace {

struct TFaultName {
  TFaultType Type;
  std::string_view Name;
};

constexpr std::array kNames{
    TFaultName{TFaultType::FailCommand, "fail-command"}, TFaultName{TFaultType::Busy, "busy"},
    TFaultName{TFaultType::NotReady, "not-ready"},       TFaultName{TFaultType::WriteError, "write-error"},
    TFaultName{TFaultType::MediumFull, "medium-full"},   TFaultName{TFaultType::Eject, "eject"},
    TFaultName{TFaultType::PowerLoss, "power-loss"},
};

}  // namespace

std::string_view FaultTypeName(TFaultType Type) {
  for (const auto& entry : kNames)
    if (entry.Type == Type) return entry.Name;
  return "unknown";
}

std::optional<TFaultType> FaultTypeByName(std::string_view Name) {
  for (const auto& entry : kNames)
    if (entry.Name == Name) return entry.Type;
  return std::nullopt;
}

std::string DescribeFault(const TFault& Fault) {
  char text[160];
  const std::string opcode =
      Fault.Opcode ? [&] {
        char hex[16];
        std::snprintf(hex, sizeof hex, " opcode %02Xh", *Fault.Opcode);
        return std::string(hex);
      }()
                   : std::string();
  const char* name = FaultTypeName(Fault.Type).data();
  switch (Fault.Type) {
    case TFaultType::FailCommand:
      std::snprintf(text, sizeof text, "%s%s: command %u fails with %X/%02X/%02X", name, opcode.c_str(),
                    Fault.Count, Fault.Sense.Key, Fault.Sense.Asc, Fault.Sense.Ascq);
      break;
    case TFaultType::Busy:
      std::snprintf(text, sizeof text, "%s%s: %u polls", name, opcode.c_str(), Fault.Count);
      break;
    case TFaultType::NotReady:
      std::snprintf(text, sizeof text, "%s%s: %u polls with %X/%02X/%02X", name, opcode.c_str(), Fault.Count,
                    Fault.Sense.Key, Fault.Sense.Asc, Fault.Sense.Ascq);
      break;
    case TFaultType::WriteError:
      std::snprintf(text, sizeof text, "%s: at block %u", name, Fault.Lba);
      break;
    case TFaultType::MediumFull:
      std::snprintf(text, sizeof text, "%s: after %u blocks", name, Fault.Count);
      break;
    case TFaultType::Eject:
    case TFaultType::PowerLoss:
      std::snprintf(text, sizeof text, "%s: after %u writes", name, Fault.Count);
      break;
  }
  return text;
}

TFaultAction TFaultQueue::OnCommand(std::uint8_t Opcode, bool IsWrite, std::uint32_t Lba,
                                    std::uint32_t Blocks, bool& Changed) {
  using TKind = TFaultAction::TKind;
  if (Queue.empty()) return {};
  TFault& fault = Queue.front();
  switch (fault.Type) {
    case TFaultType::FailCommand:
      if (!Matches(fault, Opcode)) return {};
      Changed = true;
      if (fault.Count > 1) {
        --fault.Count;
        return {};
      }
      {
        const TSense failure = fault.Sense;
        Consume(Changed);
        return {TKind::CheckCondition, failure};
      }
    case TFaultType::Busy:
    case TFaultType::NotReady: {
      if (!Matches(fault, Opcode)) return {};
      const TFaultAction action{fault.Type == TFaultType::Busy ? TKind::Busy : TKind::CheckCondition,
                                fault.Sense};
      Changed = true;
      if (fault.Count <= 1)
        Consume(Changed);
      else
        --fault.Count;
      return action;
    }
    case TFaultType::WriteError:
      if (!IsWrite || Lba > fault.Lba || std::uint64_t{Lba} + Blocks <= fault.Lba) return {};
      {
        TSense failure = sense::WriteError();
        failure.Information = fault.Lba;
        Consume(Changed);
        return {TKind::CheckCondition, failure};
      }
    case TFaultType::MediumFull:
      if (!IsWrite) return {};
      Changed = true;
      if (fault.Count >= Blocks) {
        fault.Count -= Blocks;
        return {};
      }
      Consume(Changed);
      return {TKind::CheckCondition, sense::EndOfUserArea()};
    case TFaultType::Eject:
    case TFaultType::PowerLoss:
      if (!IsWrite) return {};
      Changed = true;
      if (fault.Count > 0) {
        --fault.Count;
        return {};
      }
      {
        const TKind kind = fault.Type == TFaultType::Eject ? TKind::Eject : TKind::PowerLoss;
        Consume(Changed);
        return {kind, {}};
      }
  }
  return {};
}

}  // namespace velmor::emu
