#pragma once
// Queries of the local WMI service (namespace ROOT\CIMV2) with the current user's credentials.
// COM must be initialised on the calling thread.
#include <windows.h>
#include <wbemidl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/ComRef.h"
#include "core/ComValue.h"

namespace stubframework::analytics {

// One WMI class instance, released with the holder.
class WmiObject {
 public:
  explicit WmiObject(IWbemClassObject* object = nullptr) : object_(object) {}

  // The property as the WMI service gives it (VT_EMPTY when it cannot be read).
  void Property(const wchar_t* name, utils::Variant& value) const;
  // A property that is a string (VT_BSTR); false for any other type or a failed read.
  bool String(const wchar_t* name, std::wstring& text) const;
  // A property that is a 32-bit integer (VT_I4); false otherwise.
  bool Int32(const wchar_t* name, int32_t& value) const;

 private:
  utils::ComRef<IWbemClassObject> object_;
};

class WmiConnection {
 public:
  // Creates the locator, connects and sets the proxy blanket (NTLM, call-level authentication,
  // impersonation). False on any failure.
  bool Connect();
  // Runs a WQL query (forward only, returning immediately) and takes up to limit instances with
  // one wait for them; false when the query fails.
  bool Query(const std::wstring& wql, ULONG limit, std::vector<WmiObject>& objects);

 private:
  // Declared first, released last.
  utils::ComRef<IWbemLocator> locator_;
  utils::ComRef<IWbemServices> services_;
};

}  // namespace stubframework::analytics
