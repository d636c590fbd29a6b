#include "page-bridge/Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/TextFormat.h"

namespace pagebridge {
namespace {

constexpr int kMaxDepth = 64;

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  bool Whole(JsonValue& value) {
    if (!Value(value, 0)) return false;
    Blanks();
    return at_ == text_.size();
  }

 private:
  void Blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  bool Literal(const char* word) {
    size_t length = strlen(word);
    if (text_.compare(at_, length, word) != 0) return false;
    at_ += length;
    return true;
  }
  bool Value(JsonValue& value, int depth) {
    if (depth > kMaxDepth) return false;
    Blanks();
    if (at_ >= text_.size()) return false;
    char c = text_[at_];
    if (c == '{') return Object(value, depth);
    if (c == '[') return Array(value, depth);
    if (c == '"') {
      value.type = JsonValue::kString;
      return String(value.text);
    }
    if (Literal("true")) return value.type = JsonValue::kBool, value.boolean = true, true;
    if (Literal("false")) return value.type = JsonValue::kBool, value.boolean = false, true;
    if (Literal("null")) return value.type = JsonValue::kNull, true;
    return Number(value);
  }
  bool Number(JsonValue& value) {
    size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    while (at_ < text_.size() && strchr("0123456789.eE+-", text_[at_])) ++at_;
    if (at_ == start) return false;
    std::string digits = text_.substr(start, at_ - start);
    char* end = nullptr;
    value.number = strtod(digits.c_str(), &end);
    value.type = JsonValue::kNumber;
    return end && *end == '\0';
  }
  bool Hex4(unsigned& unit) {
    if (at_ + 4 > text_.size()) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[at_++];
      unit <<= 4;
      if (c >= '0' && c <= '9') unit |= c - '0';
      else if (c >= 'a' && c <= 'f') unit |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') unit |= c - 'A' + 10;
      else return false;
    }
    return true;
  }
  // Escapes give UTF-16 units as they are (lone surrogates included, as script strings may hold
  // them); raw bytes are UTF-8.
  bool String(std::wstring& out) {
    ++at_;
    std::string raw;
    auto flush = [&]() {
      out += stubframework::utils::Utf8ToWide(raw);
      raw.clear();
    };
    while (at_ < text_.size()) {
      char c = text_[at_++];
      if (c == '"') return flush(), true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        raw += c;
        continue;
      }
      if (at_ >= text_.size()) return false;
      char e = text_[at_++];
      unsigned unit = 0;
      switch (e) {
        case '"': raw += '"'; break;
        case '\\': raw += '\\'; break;
        case '/': raw += '/'; break;
        case 'b': raw += '\b'; break;
        case 'f': raw += '\f'; break;
        case 'n': raw += '\n'; break;
        case 'r': raw += '\r'; break;
        case 't': raw += '\t'; break;
        case 'u':
          if (!Hex4(unit)) return false;
          flush();
          out += static_cast<wchar_t>(unit);
          break;
        default: return false;
      }
    }
    return false;
  }
  bool Array(JsonValue& value, int depth) {
    ++at_;
    value.type = JsonValue::kArray;
    Blanks();
    if (at_ < text_.size() && text_[at_] == ']') return ++at_, true;
    for (;;) {
      value.items.emplace_back();
      if (!Value(value.items.back(), depth + 1)) return false;
      Blanks();
      if (at_ >= text_.size()) return false;
      char c = text_[at_++];
      if (c == ']') return true;
      if (c != ',') return false;
    }
  }
  bool Object(JsonValue& value, int depth) {
    ++at_;
    value.type = JsonValue::kObject;
    Blanks();
    if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
    for (;;) {
      Blanks();
      std::wstring name;
      if (at_ >= text_.size() || text_[at_] != '"' || !String(name)) return false;
      Blanks();
      if (at_ >= text_.size() || text_[at_++] != ':') return false;
      if (!Value(value.members[name], depth + 1)) return false;
      Blanks();
      if (at_ >= text_.size()) return false;
      char c = text_[at_++];
      if (c == '}') return true;
      if (c != ',') return false;
    }
  }

  const std::string& text_;
  size_t at_ = 0;
};

}  // namespace

const JsonValue& JsonValue::operator[](const wchar_t* name) const {
  static const JsonValue none;
  auto found = members.find(name);
  return found == members.end() ? none : found->second;
}

bool ParseJson(const std::string& utf8, JsonValue& value) {
  value = JsonValue();
  return Reader(utf8).Whole(value);
}

int JsonInt(const JsonValue& value, int fallback) {
  if (value.type != JsonValue::kNumber || !(value.number >= -2147483648.0 && value.number <= 2147483647.0))
    return fallback;
  int whole = static_cast<int>(value.number);
  return whole == value.number ? whole : fallback;
}

std::string JsonString(const std::wstring& text) {
  // Every unit that is not printable ASCII is escaped, so lone surrogates and NULs survive.
  std::string out = "\"";
  for (wchar_t c : text) {
    if (c == L'"' || c == L'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    }
  }
  return out + "\"";
}

std::string JsonNumber(double number) {
  if (!std::isfinite(number)) return "null";
  char text[32];
  if (number == std::floor(number) && std::fabs(number) < 9007199254740992.0)
    snprintf(text, sizeof(text), "%.0f", number);
  else
    snprintf(text, sizeof(text), "%.17g", number);
  return text;
}

}  // namespace pagebridge
