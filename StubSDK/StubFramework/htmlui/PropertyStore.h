#pragma once
// The run's shared name-to-text map, read and written by page script and native workers.
// Names are case-sensitive and ordered by UTF-16 code units. Every access holds one lock.
#include <windows.h>

#include <map>
#include <string>

namespace stubframework::htmlui {

class PropertyStore {
 public:
  using Map = std::map<std::wstring, std::wstring>;

  PropertyStore();
  ~PropertyStore();
  PropertyStore(const PropertyStore&) = delete;
  PropertyStore& operator=(const PropertyStore&) = delete;

  void Set(const std::wstring& name, const std::wstring& value);
  // An unknown name is inserted with an empty value.
  std::wstring Get(const std::wstring& name);
  // A copy of every entry, in name order.
  Map Snapshot();

 private:
  CRITICAL_SECTION lock_;
  Map entries_;
};

}  // namespace stubframework::htmlui
