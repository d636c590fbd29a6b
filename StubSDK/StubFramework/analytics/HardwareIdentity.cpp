#include "analytics/HardwareIdentity.h"

#include <map>

#include "analytics/WmiQuery.h"
#include "core/Digest.h"
#include "core/TextFormat.h"
#include "core/UniqueHandle.h"

namespace stubframework::analytics {

const wchar_t kNetworkComponentKey[] = L"Software\\Velmora\\Norb";

namespace {

const size_t kPieceLimit = 260;
const size_t kDescriptionLimit = 1024;
const int32_t kDeviceDisabled = 22;
const wchar_t kCacheValue[] = L"HFNCv2";

// REG_SZ or REG_EXPAND_SZ (expanded) of up to 4096 bytes; anything else reads as empty.
std::wstring ReadCacheValue(const std::wstring& keyPath, const std::wstring& name) {
  utils::RegistryKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.Out()) != ERROR_SUCCESS) return L"";
  wchar_t data[2049] = {};  // 4096 bytes and a terminator the value may lack
  DWORD size = 4096;
  DWORD type = 0;
  LONG read = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return L"";
  std::wstring text(data, wcsnlen(data, size / sizeof(wchar_t)));
  if (type == REG_SZ) return text;
  DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
  if (needed == 0) return L"";
  std::vector<wchar_t> expanded(needed + 1, L'\0');
  if (ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed) == 0) return L"";
  return expanded.data();
}

void WriteCacheValue(const std::wstring& keyPath, const std::wstring& name, const std::wstring& text) {
  utils::RegistryKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Out(),
                      nullptr) != ERROR_SUCCESS)
    return;
  // Stored without the terminating zero.
  RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

std::wstring QueryWmiPair(WmiConnection& wmi, const std::wstring& className, const wchar_t* first,
                          const wchar_t* second) {
  std::vector<WmiObject> objects;
  if (!wmi.Query(L"select * from " + className, 1, objects) || objects.empty()) return L"";
  utils::Variant one, two;
  objects.front().Property(first, one);
  objects.front().Property(second, two);
  return PairText(*one, *two);
}

}  // namespace

std::wstring PairText(const VARIANT& first, const VARIANT& second) {
  auto text = [](const VARIANT& value) {
    return std::wstring(value.bstrVal ? value.bstrVal : L"", value.bstrVal ? SysStringLen(value.bstrVal) : 0);
  };
  std::wstring pair;
  if (first.vt == VT_BSTR) pair = text(first);
  if (second.vt == VT_BSTR) pair += L"|" + text(second);
  return pair;
}

bool JoinHardwareDescription(const std::vector<std::wstring>& pieces, std::wstring& description) {
  std::wstring text;
  for (size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].empty() || pieces[i].size() >= kPieceLimit) continue;
    if (i > 0) text += L'|';
    text += pieces[i];
  }
  if (text.size() >= kDescriptionLimit) return false;
  description = text;
  return true;
}

std::wstring HardwareIdOf(const std::wstring& description, UINT codePage) {
  int units = static_cast<int>(description.size());
  int converted = units ? WideCharToMultiByte(codePage, 0, description.data(), units, nullptr, 0, nullptr, nullptr) : 0;
  // Room for the whole conversion, which multi-byte code pages make longer than the text.
  std::vector<char> bytes(static_cast<size_t>(converted > units ? converted : units), '\0');
  if (converted > 0)
    WideCharToMultiByte(codePage, 0, description.data(), units, bytes.data(), converted, nullptr, nullptr);
  return L"V2" + utils::DigestHex(utils::DigestKind::Md5, reinterpret_cast<const uint8_t*>(bytes.data()),
                                  static_cast<size_t>(units), true);
}

bool WmiNetworkAdapterQuery::Query(std::vector<WmiAdapter>& adapters) {
  WmiConnection wmi;
  std::vector<WmiObject> objects;
  if (!wmi.Query(L"select * from Win32_NetworkAdapter where NOT PNPDeviceID LIKE 'ROOT\\\\%' AND NOT PNPDeviceID "
                 L"LIKE 'SW\\\\%' ",
                 30, objects))
    return false;
  for (const WmiObject& object : objects) {
    WmiAdapter adapter;
    adapter.hasIndex = object.Int32(L"Index", adapter.index);
    adapter.hasErrorCode = object.Int32(L"ConfigManagerErrorCode", adapter.errorCode);
    adapter.hasMac = object.String(L"MACAddress", adapter.mac);
    adapters.push_back(adapter);
  }
  return true;
}

bool NetworkComponent(const std::wstring& keyPath, INetworkAdapterQuery& query, std::wstring& component) {
  std::wstring cached = ReadCacheValue(keyPath, kCacheValue);
  if (cached.empty()) {
    std::vector<WmiAdapter> adapters;
    query.Query(adapters);
    std::map<int32_t, std::wstring> macs;
    for (const WmiAdapter& adapter : adapters) {
      if (!adapter.hasIndex) continue;
      std::wstring indexName = utils::FormatWide(L"%d", adapter.index);
      std::wstring mac;
      if (adapter.hasMac)
        mac = adapter.mac;
      else if (adapter.hasErrorCode && adapter.errorCode == kDeviceDisabled)
        mac = ReadCacheValue(keyPath, indexName);
      std::wstring digits;
      for (wchar_t c : mac)
        if (c != L':') digits += c;
      if (!digits.empty()) macs.emplace(adapter.index, digits);
    }
    if (!macs.empty()) {
      cached = macs.begin()->second;
      WriteCacheValue(keyPath, utils::FormatWide(L"%d", macs.begin()->first), cached);
      WriteCacheValue(keyPath, kCacheValue, cached);
    }
  }
  if (cached.empty()) return false;
  component = cached;
  return true;
}

bool DescribeHardware(std::wstring& description) {
  WmiConnection wmi;
  WmiNetworkAdapterQuery adapters;
  std::vector<std::wstring> pieces = {
      QueryWmiPair(wmi, L"Win32_ComputerSystem", L"Manufacturer", L"Model"),
      QueryWmiPair(wmi, L"Win32_BaseBoard", L"Manufacturer", L"SerialNumber"),
      QueryWmiPair(wmi, L"Win32_BIOS", L"Manufacturer", L"SerialNumber"),
      std::wstring()};
  NetworkComponent(kNetworkComponentKey, adapters, pieces[3]);
  return JoinHardwareDescription(pieces, description);
}

bool GetHardwareId(wchar_t* buffer, int32_t& capacity) {
  std::wstring description;
  if (!DescribeHardware(description)) {
    capacity = 0;
    return false;
  }
  std::wstring id = HardwareIdOf(description, CP_THREAD_ACP);
  bool fits = buffer && capacity > 0 && static_cast<size_t>(capacity) > id.size();
  if (fits) wcscpy_s(buffer, static_cast<size_t>(capacity), id.c_str());
  capacity = static_cast<int32_t>(id.size());
  return fits;
}

}  // namespace stubframework::analytics
