#pragma once
// Owners of the values COM hands over: a BSTR, freed with SysFreeString, and a VARIANT, cleared
// with VariantClear, when the owner goes out of scope.
#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

namespace stubframework::utils {

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const wchar_t* text) : text_(SysAllocString(text)) {}
  explicit Bstr(const std::wstring& text)
      : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  ~Bstr() { SysFreeString(text_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR Get() const { return text_; }
  // For a function that hands out a new BSTR through an out parameter.
  BSTR* Out() {
    SysFreeString(std::exchange(text_, nullptr));
    return &text_;
  }
  // Gives the string up to the caller, who frees it.
  BSTR Detach() { return std::exchange(text_, nullptr); }
  std::wstring Text() const { return text_ ? std::wstring(text_, SysStringLen(text_)) : std::wstring(); }

 private:
  BSTR text_ = nullptr;
};

class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT* Get() { return &value_; }
  const VARIANT& operator*() const { return value_; }
  const VARIANT* operator->() const { return &value_; }
  // Clears what it held, for a function that fills the VARIANT.
  VARIANT* Out() {
    VariantClear(&value_);
    return &value_;
  }

 private:
  VARIANT value_;
};

}  // namespace stubframework::utils
