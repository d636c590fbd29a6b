// Accessors of the stub parameters that fall back to the values kept under the product key.
#include "core/Registry.h"
#include "core/StubParameters.h"
#include "core/TextFormat.h"

namespace stubframework::core {

const std::wstring& StubParameters::TextWithFallback(std::wstring& member, const wchar_t* valueName) {
  if (!member.empty()) return member;
  std::wstring text;
  if (utils::ReadRegistryValue(registryKey, valueName, text)) member = text;
  return member;
}

const std::wstring& StubParameters::ProductId() { return TextWithFallback(productId, L"product_id"); }

const std::wstring& StubParameters::ProductVersion() {
  return TextWithFallback(productVersion, L"production_version");
}

const std::wstring& StubParameters::Channel() { return TextWithFallback(channel, L"channel"); }

int StubParameters::Status() {
  if (status == notSet) {
    std::wstring text;
    if (utils::ReadRegistryValue(registryKey, L"status", text)) status = utils::ParseDecimalInt(text);
  }
  return status;
}

}  // namespace stubframework::core
