#pragma once
// A small JSON value with a reader and a writer, enough for the state files
// of the emulated recorder (objects keep their keys sorted, numbers are
// 64-bit integers or doubles).
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velmor::emu {

class TJson {
 public:
  using TArray = std::vector<TJson>;
  using TObject = std::map<std::string, TJson, std::less<>>;

  TJson() = default;
  TJson(std::nullptr_t) {}
  TJson(bool Value) : Value(Value) {}
  TJson(int Value) : Value(std::int64_t{Value}) {}
  TJson(std::int64_t Value) : Value(Value) {}
  TJson(std::uint32_t Value) : Value(std::int64_t{Value}) {}
  TJson(double Value) : Value(Value) {}
  TJson(const char* Value) : Value(std::string(Value)) {}
  TJson(std::string Value) : Value(std::move(Value)) {}
  TJson(TArray Value) : Value(std::move(Value)) {}
  TJson(TObject Value) : Value(std::move(Value)) {}

  [[nodiscard]] static TJson Object() { return TJson(TObject{}); }
  [[nodiscard]] static TJson Array() { return TJson(TArray{}); }

  [[nodiscard]] bool IsNull() const { return std::holds_alternative<std::monostate>(Value); }
  [[nodiscard]] bool IsObject() const { return std::holds_alternative<TObject>(Value); }
  [[nodiscard]] bool IsArray() const { return std::holds_alternative<TArray>(Value); }

  // Typed reads with a fallback for a missing or mistyped value.
  [[nodiscard]] std::int64_t Int(std::int64_t Fallback = 0) const;
  [[nodiscard]] bool Bool(bool Fallback = false) const;
  [[nodiscard]] std::string String(std::string_view Fallback = {}) const;
  [[nodiscard]] const TArray& Items() const;

  // Object member access; a missing member reads as null.
  [[nodiscard]] const TJson& operator[](std::string_view Key) const;
  TJson& Set(std::string_view Key, TJson Member);
  TJson& Push(TJson Item);

  [[nodiscard]] std::string Dump() const;
  [[nodiscard]] static std::optional<TJson> Parse(std::string_view Text);

 private:
  void DumpTo(std::string& Out, int Indent) const;
  std::variant<std::monostate, bool, std::int64_t, double, std::string, TArray, TObject> Value;
};

}  // namespace velmor::emu
