#pragma once
// The computer's physical network adapters and their permanent (burned-in) MAC addresses.
#include <cstdint>
#include <string>
#include <vector>

namespace stubframework::analytics {

struct NetworkAdapter {
  std::wstring devicePath;
  std::wstring description;
};

// Every present LAN-class device interface with its own device's description (empty when the
// device reports none).
std::vector<NetworkAdapter> ListNetworkAdapters();

// The device paths of the adapters that are not root-enumerated, USB or Bluetooth and not
// Microsoft's virtual adapters: "root", "usb" or "bth" starting within the first eight characters
// of the path, or "microsoft" within the first eight of the description, drop an adapter (both
// compared without regard to ASCII case).
std::vector<std::wstring> SelectPhysicalAdapters(const std::vector<NetworkAdapter>& adapters);

// "%02X:%02X:%02X:%02X:%02X:%02X" of a 6-byte address.
std::wstring MacText(const uint8_t* address);

// The permanent address of one adapter device, as MacText; false when the device cannot be
// opened or does not answer with exactly 6 bytes.
bool ReadPermanentAddress(const std::wstring& devicePath, std::wstring& mac);

// MacText of every selected adapter that answers; true when there is at least one.
bool CollectAdapterMacs(std::vector<std::wstring>& macs);

}  // namespace stubframework::analytics
