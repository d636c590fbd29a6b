#pragma once
// The little JSON the page bridge exchanges with its browser script: a reader for request
// bodies and a writer for answers. Texts are UTF-16 inside, UTF-8 on the wire.
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pagebridge {

struct JsonValue {
  enum Type { kNull, kBool, kNumber, kString, kArray, kObject };
  Type type = kNull;
  bool boolean = false;
  double number = 0;
  std::wstring text;
  std::vector<JsonValue> items;
  std::map<std::wstring, JsonValue> members;

  // The member of that name, or a null value.
  const JsonValue& operator[](const wchar_t* name) const;
  bool Has(const wchar_t* name) const { return members.count(name) != 0; }
};

// False for anything that is not one whole JSON value of at most 64 levels.
bool ParseJson(const std::string& utf8, JsonValue& value);

// A whole number of 32 bits as int; anything else (a fraction, out of range, not a number) gives
// fallback. Converting a double out of int's range is undefined, so every number read from a
// request goes through this.
int JsonInt(const JsonValue& value, int fallback);

// A JSON string literal of text, quotes included (UTF-8).
std::string JsonString(const std::wstring& text);
// A JSON number: integers exactly, others with 17 significant digits; NaN and infinities as null.
std::string JsonNumber(double number);

}  // namespace pagebridge
