#include "analytics/NetworkAdapters.h"

#include <windows.h>
#include <setupapi.h>
#include <winioctl.h>

#include "core/TextFormat.h"
#include "core/UniqueHandle.h"

namespace stubframework::analytics {

namespace {

// The NDIS LAN device interface class, {AD498944-762F-11D0-8DCB-00C04FC3358C}.
const GUID kNdisLanClass = {0xAD498944, 0x762F, 0x11D0, {0x8D, 0xCB, 0x00, 0xC0, 0x4F, 0xC3, 0x35, 0x8C}};
// IOCTL_NDIS_QUERY_GLOBAL_STATS and OID_802_3_PERMANENT_ADDRESS.
const DWORD kQueryGlobalStats = CTL_CODE(FILE_DEVICE_PHYSICAL_NETCARD, 0, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);
const DWORD kPermanentAddressOid = 0x01010101;

std::wstring AsciiLower(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return text;
}

// Whether word starts at one of the first eight characters of text.
bool StartsEarly(const std::wstring& text, const wchar_t* word) {
  size_t at = text.find(word);
  return at != std::wstring::npos && at < 8;
}

class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
  ~DeviceInfoSet() {
    if (Valid()) SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  bool Valid() const { return set_ != INVALID_HANDLE_VALUE; }
  HDEVINFO Get() const { return set_; }

 private:
  HDEVINFO set_;
};

}  // namespace

std::vector<NetworkAdapter> ListNetworkAdapters() {
  std::vector<NetworkAdapter> adapters;
  DeviceInfoSet set(SetupDiGetClassDevsW(&kNdisLanClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set.Valid()) return adapters;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA interfaceData = {};
    interfaceData.cbSize = sizeof(interfaceData);
    if (!SetupDiEnumDeviceInterfaces(set.Get(), nullptr, &kNdisLanClass, index, &interfaceData)) break;
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set.Get(), &interfaceData, nullptr, 0, &size, nullptr);
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) break;
    // The detail is a header followed by the path; allocated as wide characters for alignment,
    // with room for a terminator the device may leave out.
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    // The interface's own device: interface and device indexes need not agree.
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof(device);
    if (!SetupDiGetDeviceInterfaceDetailW(set.Get(), &interfaceData, detail, size, nullptr, &device)) break;
    const wchar_t* pathStart = detail->DevicePath;
    size_t pathRoom = buffer.size() - static_cast<size_t>(pathStart - buffer.data());
    NetworkAdapter adapter;
    adapter.devicePath.assign(pathStart, wcsnlen(pathStart, pathRoom));
    wchar_t description[1024] = {};  // 2048 bytes
    DWORD type = 0;
    if (SetupDiGetDeviceRegistryPropertyW(set.Get(), &device, SPDRP_DEVICEDESC, &type,
                                          reinterpret_cast<BYTE*>(description), sizeof(description) - sizeof(wchar_t),
                                          nullptr))
      adapter.description.assign(description, wcsnlen(description, 1023));
    adapters.push_back(adapter);
  }
  return adapters;
}

std::vector<std::wstring> SelectPhysicalAdapters(const std::vector<NetworkAdapter>& adapters) {
  std::vector<std::wstring> paths;
  for (const NetworkAdapter& adapter : adapters) {
    std::wstring path = AsciiLower(adapter.devicePath);
    if (StartsEarly(path, L"root") || StartsEarly(path, L"usb") || StartsEarly(path, L"bth")) continue;
    // Descriptions read "Microsoft ..." as Windows reports them.
    if (StartsEarly(AsciiLower(adapter.description), L"microsoft")) continue;
    paths.push_back(adapter.devicePath);
  }
  return paths;
}

std::wstring MacText(const uint8_t* address) {
  return utils::FormatWide(L"%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1], address[2], address[3],
                           address[4], address[5]);
}

bool ReadPermanentAddress(const std::wstring& devicePath, std::wstring& mac) {
  utils::FileHandle device(CreateFileW(devicePath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr));
  if (!device.Valid()) return false;
  DWORD oid = kPermanentAddressOid;
  uint8_t address[8] = {};
  DWORD returned = 0;
  if (!DeviceIoControl(device.Get(), kQueryGlobalStats, &oid, sizeof(oid), address, sizeof(address), &returned,
                       nullptr) ||
      returned != 6)
    return false;
  mac = MacText(address);
  return true;
}

bool CollectAdapterMacs(std::vector<std::wstring>& macs) {
  for (const std::wstring& path : SelectPhysicalAdapters(ListNetworkAdapters())) {
    std::wstring mac;
    if (ReadPermanentAddress(path, mac)) macs.push_back(mac);
  }
  return !macs.empty();
}

}  // namespace stubframework::analytics
