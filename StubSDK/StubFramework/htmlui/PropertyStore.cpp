#include "htmlui/PropertyStore.h"

namespace stubframework::htmlui {
namespace {

class Guard {
 public:
  explicit Guard(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
  ~Guard() { LeaveCriticalSection(&lock_); }
  Guard(const Guard&) = delete;
  Guard& operator=(const Guard&) = delete;

 private:
  CRITICAL_SECTION& lock_;
};

}  // namespace

PropertyStore::PropertyStore() { InitializeCriticalSection(&lock_); }
PropertyStore::~PropertyStore() { DeleteCriticalSection(&lock_); }

void PropertyStore::Set(const std::wstring& name, const std::wstring& value) {
  Guard guard(lock_);
  entries_[name] = value;
}

std::wstring PropertyStore::Get(const std::wstring& name) {
  Guard guard(lock_);
  return entries_[name];
}

PropertyStore::Map PropertyStore::Snapshot() {
  Guard guard(lock_);
  return entries_;
}

}  // namespace stubframework::htmlui
