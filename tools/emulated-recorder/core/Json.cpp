#include "Json.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace velmor::emu {

namespace {

const TJson kNull;
const TJson::TArray kNoItems;

// Recursive-descent reader over the text; every read checks the remaining
// length, so a truncated file fails cleanly.
class TReader {
 public:
  explicit TReader(std::string_view Text) : Text(Text) {}

  [[nodiscard]] std::optional<TJson> Document() {
    auto value = ReadValue(0);
    SkipSpace();
    if (!value || Pos != Text.size()) return std::nullopt;
    return value;
  }

 private:
  static constexpr int kMaxDepth = 64;

  void SkipSpace() {
    while (Pos < Text.size() && (Text[Pos] == ' ' || Text[Pos] == '\n' || Text[Pos] == '\r' ||
                                 Text[Pos] == '\t'))
      ++Pos;
  }

  [[nodiscard]] bool Consume(std::string_view Word) {
    if (Text.substr(Pos, Word.size()) != Word) return false;
    Pos += Word.size();
    return true;
  }

  [[nodiscard]] std::optional<TJson> ReadValue(int Depth) {
    if (Depth > kMaxDepth) return std::nullopt;
    SkipSpace();
    if (Pos >= Text.size()) return std::nullopt;
    const char c = Text[Pos];
    if (c == '{') return ReadObject(Depth);
    if (c == '[') return ReadArray(Depth);
    if (c == '"') {
      auto text = ReadString();
      if (!text) return std::nullopt;
      return TJson(std::move(*text));
    }
    if (Consume("true")) return TJson(true);
    if (Consume("false")) return TJson(false);
    if (Consume("null")) return TJson();
    return ReadNumber();
  }

  [[nodiscard]] std::optional<TJson> ReadObject(int Depth) {
    ++Pos;
    TJson object = TJson::Object();
    SkipSpace();
    if (Consume("}")) return object;
    while (true) {
      SkipSpace();
      auto key = ReadString();
      SkipSpace();
      if (!key || !Consume(":")) return std::nullopt;
      auto member = ReadValue(Depth + 1);
      if (!member) return std::nullopt;
      object.Set(*key, std::move(*member));
      SkipSpace();
      if (Consume("}")) return object;
      if (!Consume(",")) return std::nullopt;
    }
  }

  [[nodiscard]] std::optional<TJson> ReadArray(int Depth) {
    ++Pos;
    TJson array = TJson::Array();
    SkipSpace();
    if (Consume("]")) return array;
    while (true) {
      auto item = ReadValue(Depth + 1);
      if (!item) return std::nullopt;
      array.Push(std::move(*item));
      SkipSpace();
      if (Consume("]")) return array;
      if (!Consume(",")) return std::nullopt;
    }
  }

  [[nodiscard]] std::optional<std::string> ReadString() {
    if (Pos >= Text.size() || Text[Pos] != '"') return std::nullopt;
    ++Pos;
    std::string out;
    while (Pos < Text.size()) {
      const char c = Text[Pos++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (Pos >= Text.size()) return std::nullopt;
      const char e = Text[Pos++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          unsigned code = 0;
          if (Pos + 4 > Text.size()) return std::nullopt;
          auto [end, error] = std::from_chars(Text.data() + Pos, Text.data() + Pos + 4, code, 16);
          if (error != std::errc() || end != Text.data() + Pos + 4) return std::nullopt;
          Pos += 4;
          AppendUtf8(out, code);
          break;
        }
        default: out += e; break;
      }
    }
    return std::nullopt;
  }

  static void AppendUtf8(std::string& Out, unsigned Code) {
    if (Code < 0x80) {
      Out += static_cast<char>(Code);
    } else if (Code < 0x800) {
      Out += static_cast<char>(0xC0 | Code >> 6);
      Out += static_cast<char>(0x80 | (Code & 0x3F));
    } else {
      Out += static_cast<char>(0xE0 | Code >> 12);
      Out += static_cast<char>(0x80 | (Code >> 6 & 0x3F));
      Out += static_cast<char>(0x80 | (Code & 0x3F));
    }
  }

  [[nodiscard]] std::optional<TJson> ReadNumber() {
    const std::size_t start = Pos;
    bool fractional = false;
    while (Pos < Text.size() && (std::isdigit(static_cast<unsigned char>(Text[Pos])) ||
                                 Text[Pos] == '-' || Text[Pos] == '+' || Text[Pos] == '.' ||
                                 Text[Pos] == 'e' || Text[Pos] == 'E')) {
      if (Text[Pos] == '.' || Text[Pos] == 'e' || Text[Pos] == 'E') fractional = true;
      ++Pos;
    }
    const char* first = Text.data() + start;
    const char* last = Text.data() + Pos;
    if (first == last) return std::nullopt;
    if (!fractional) {
      std::int64_t whole = 0;
      auto [end, error] = std::from_chars(first, last, whole);
      if (error == std::errc() && end == last) return TJson(whole);
      return std::nullopt;
    }
    double real = 0;
    auto [end, error] = std::from_chars(first, last, real);
    if (error != std::errc() || end != last) return std::nullopt;
    return TJson(real);
  }

  std::string_view Text;
  std::size_t Pos = 0;
};

void AppendQuoted(std::string& Out, const std::string& Text) {
  Out += '"';
  for (const char c : Text) {
    switch (c) {
      case '"': Out += "\\\""; break;
      case '\\': Out += "\\\\"; break;
      case '\n': Out += "\\n"; break;
      case '\t': Out += "\\t"; break;
      case '\r': Out += "\\r"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
          Out += escaped;
        } else {
          Out += c;
        }
    }
  }
  Out += '"';
}

}  // namespace

std::int64_t TJson::Int(std::int64_t Fallback) const {
  if (auto* whole = std::get_if<std::int64_t>(&Value)) return *whole;
  if (auto* real = std::get_if<double>(&Value)) return static_cast<std::int64_t>(*real);
  return Fallback;
}

bool TJson::Bool(bool Fallback) const {
  if (auto* flag = std::get_if<bool>(&Value)) return *flag;
  return Fallback;
}

std::string TJson::String(std::string_view Fallback) const {
  if (auto* text = std::get_if<std::string>(&Value)) return *text;
  return std::string(Fallback);
}

const TJson::TArray& TJson::Items() const {
  if (auto* items = std::get_if<TArray>(&Value)) return *items;
  return kNoItems;
}

const TJson& TJson::operator[](std::string_view Key) const {
  if (auto* object = std::get_if<TObject>(&Value)) {
    auto found = object->find(Key);
    if (found != object->end()) return found->second;
  }
  return kNull;
}

TJson& TJson::Set(std::string_view Key, TJson Member) {
  if (!IsObject()) Value = TObject{};
  auto& object = std::get<TObject>(Value);
  object.insert_or_assign(std::string(Key), std::move(Member));
  return *this;
}

TJson& TJson::Push(TJson Item) {
  if (!IsArray()) Value = TArray{};
  std::get<TArray>(Value).push_back(std::move(Item));
  return *this;
}

std::string TJson::Dump() const {
  std::string out;
  DumpTo(out, 0);
  out += '\n';
  return out;
}

void TJson::DumpTo(std::string& Out, int Indent) const {
  const std::string pad(static_cast<std::size_t>(Indent + 2), ' ');
  const std::string closePad(static_cast<std::size_t>(Indent), ' ');
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          Out += "null";
        } else if constexpr (std::is_same_v<T, bool>) {
          Out += v ? "true" : "false";
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          Out += std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          char text[32];
          std::snprintf(text, sizeof text, "%.17g", v);
          Out += text;
        } else if constexpr (std::is_same_v<T, std::string>) {
          AppendQuoted(Out, v);
        } else if constexpr (std::is_same_v<T, TArray>) {
          if (v.empty()) {
            Out += "[]";
            return;
          }
          Out += "[\n";
          for (std::size_t i = 0; i < v.size(); ++i) {
            Out += pad;
            v[i].DumpTo(Out, Indent + 2);
            Out += i + 1 < v.size() ? ",\n" : "\n";
          }
          Out += closePad + "]";
        } else {
          if (v.empty()) {
            Out += "{}";
            return;
          }
          Out += "{\n";
          std::size_t i = 0;
          for (const auto& [key, member] : v) {
            Out += pad;
            AppendQuoted(Out, key);
            Out += ": ";
            member.DumpTo(Out, Indent + 2);
            Out += ++i < v.size() ? ",\n" : "\n";
          }
          Out += closePad + "}";
        }
      },
      Value);
}

std::optional<TJson> TJson::Parse(std::string_view Text) { return TReader(Text).Document(); }

}  // namespace velmor::emu
