#pragma once
// Faults armed on a drive, consumed in order: only the first fault of the
// queue is live; when it has fired (or run its course) the next one is.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "Sense.h"

namespace velmor::emu {

enum class TFaultType : std::uint8_t {
  FailCommand,  // the Nth command with Opcode fails with the given sense
  Busy,         // the next Polls commands (of Opcode, when given) answer BUSY
  NotReady,     // the next Polls commands (of Opcode, when given) answer NOT READY
  WriteError,   // the write that covers Lba fails with a medium error
  MediumFull,   // the write that goes past Count more blocks finds the end of the medium
  Eject,        // the tray opens after Count more writes
  PowerLoss,    // the drive loses power after Count more writes
};

struct TFault {
  TFaultType Type = TFaultType::FailCommand;
  std::optional<std::uint8_t> Opcode;
  std::uint32_t Count = 1;  // Nth command, polls, blocks or writes, by type
  std::uint32_t Lba = 0;
  TSense Sense = sense::Make(sense::kNotReady, 0x04, 0x01);
};

[[nodiscard]] std::string_view FaultTypeName(TFaultType Type);
[[nodiscard]] std::optional<TFaultType> FaultTypeByName(std::string_view Name);
[[nodiscard]] std::string DescribeFault(const TFault& Fault);

// What the armed fault does to one command.
struct TFaultAction {
  enum class TKind : std::uint8_t { None, CheckCondition, Busy, Eject, PowerLoss } Kind = TKind::None;
  TSense Sense;
};

class TFaultQueue {
 public:
  void Arm(TFault Fault) { Queue.push_back(Fault); }
  void Clear() { Queue.clear(); }
  [[nodiscard]] const std::deque<TFault>& Armed() const { return Queue; }
  void Replace(std::deque<TFault> Faults) { Queue = std::move(Faults); }

  // Called for every command before it runs; Lba and Blocks describe a write.
  // Changed reports that the queue moved on, so its stored copy is stale.
  [[nodiscard]] TFaultAction OnCommand(std::uint8_t Opcode, bool IsWrite, std::uint32_t Lba,
                                       std::uint32_t Blocks, bool& Changed);

 private:
  [[nodiscard]] bool Matches(const TFault& Fault, std::uint8_t Opcode) const {
    return !Fault.Opcode || *Fault.Opcode == Opcode;
  }
  void Consume(bool& Changed) {
    Queue.pop_front();
    Changed = true;
  }

  std::deque<TFault> Queue;
};

}  // namespace velmor::emu
