#pragma once
// The hardware identifier: "V2" and the MD5 digest of a text naming the computer's maker, model,
// board, firmware and first network adapter. Needs COM on the calling thread.
#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace stubframework::analytics {

// Key of the per-user cache of the network component.
extern const wchar_t kNetworkComponentKey[];

// Writes the identifier (34 characters and a terminator) into buffer when capacity exceeds its
// length; capacity becomes the length (0 when the description is 1024 characters or more).
bool GetHardwareId(wchar_t* buffer, int32_t& capacity);

// "V2" and the upper-case MD5 of description in the code page, over as many bytes as description
// has UTF-16 units (zero bytes where the conversion is shorter).
std::wstring HardwareIdOf(const std::wstring& description, UINT codePage);

// One description piece from two WMI properties: the first when it is a string, then "|" and the
// second when that is a string.
std::wstring PairText(const VARIANT& first, const VARIANT& second);

// The pieces (system, board, firmware, network) joined by "|"; a piece that is empty or 260
// characters or longer is left out with the "|" before it. False when the text would be 1024
// characters or longer.
bool JoinHardwareDescription(const std::vector<std::wstring>& pieces, std::wstring& description);

// The computer's description from WMI and the network component.
bool DescribeHardware(std::wstring& description);

// One network adapter as the WMI service lists it.
struct WmiAdapter {
  bool hasIndex = false;
  int32_t index = 0;
  bool hasErrorCode = false;
  int32_t errorCode = 0;
  bool hasMac = false;
  std::wstring mac;
};

class INetworkAdapterQuery {
 public:
  virtual ~INetworkAdapterQuery() = default;
  virtual bool Query(std::vector<WmiAdapter>& adapters) = 0;
};

// The adapters that are not root- or software-enumerated, up to 30, from WMI.
class WmiNetworkAdapterQuery : public INetworkAdapterQuery {
 public:
  bool Query(std::vector<WmiAdapter>& adapters) override;
};

// The MAC (12 digits, no colons) of the adapter with the smallest index, kept under keyPath (a
// path of HKEY_CURRENT_USER) as "HFNCv2" and as the value named by the index; a cached "HFNCv2"
// is used without a query, and a disabled adapter without an address uses its index value.
bool NetworkComponent(const std::wstring& keyPath, INetworkAdapterQuery& query, std::wstring& component);

}  // namespace stubframework::analytics
