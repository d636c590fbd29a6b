#pragma once
// A complete framework core for tests, built in the order the program builds its own at start-up
// (log, parameters, resource folder, analytics, external object, worker set, then the method
// object, which the external object is given) and released in reverse, with the calling thread
// in a single-threaded apartment that serves the workers' callbacks unless a test declines it,
// and script methods called the way the script engine calls them. Also the product's identity as
// the build defines it.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ProductDefinition.h"
#include "core/FrameworkCore.h"
#include "methods/ExternalMethods.h"

namespace testsupport {

// The product code and version of product/product.ini, and what the stub derives from them: the
// major version, its key under HKEY_CURRENT_USER, that key as the registry helpers name it, and
// the folder under %TEMP% that keeps copies of its logs.
inline const std::wstring kProductCode = stubframework::definition::kProductCode;
inline const std::wstring kProductVersion = stubframework::definition::kProductVersion;
inline const std::wstring kProductMajorVersion = kProductVersion.substr(0, kProductVersion.find(L'.'));
inline const std::wstring kProductSubkey =
    L"SOFTWARE\\Velmora\\stubframework\\" + kProductCode + L"\\" + kProductMajorVersion;
inline const std::wstring kProductRegistryKey = L"HKEY_CURRENT_USER\\" + kProductSubkey;
inline const std::wstring kLogFolderName = kProductCode + L"_log";

// A script argument: text, bool, integer or a script function.
struct ScriptArgument {
  ScriptArgument(const wchar_t* text) : text(text) {}
  ScriptArgument(const std::wstring& text) : text(text) {}
  ScriptArgument(bool flag) : type(VT_BOOL), flag(flag) {}
  ScriptArgument(int number) : type(VT_I4), number(number) {}
  ScriptArgument(IDispatch* dispatch) : type(VT_DISPATCH), dispatch(dispatch) {}
  VARTYPE type = VT_BSTR;
  std::wstring text;
  bool flag = false;
  int number = 0;
  IDispatch* dispatch = nullptr;
};

// methods->*method(arguments in script order), called the way the script engine calls it.
HRESULT CallScriptMethod(stubframework::ExternalMethods* methods, stubframework::ScriptMethod method,
                         const std::vector<ScriptArgument>& arguments, WORD flags = DISPATCH_METHOD,
                         VARIANT* result = nullptr);

class TestCore {
  // Entered before the core is built and left after it is released.
  bool apartment_ = false;

 public:
  // Makes the method object; the product's tests make the product's own.
  using MethodsFactory = std::function<stubframework::ExternalMethods*(stubframework::core::FrameworkCore*)>;

  // Without the apartment, nothing on the calling thread reaches COM servers such as the desktop
  // shell.
  enum class Apartment { kSingleThreaded, kNone };

  explicit TestCore(const MethodsFactory& makeMethods = nullptr, Apartment apartment = Apartment::kSingleThreaded);
  ~TestCore();
  TestCore(const TestCore&) = delete;
  TestCore& operator=(const TestCore&) = delete;

  // method(arguments in script order) on the core's method object.
  HRESULT Call(stubframework::ScriptMethod method, const std::vector<ScriptArgument>& arguments,
               WORD flags = DISPATCH_METHOD, VARIANT* result = nullptr);
  // Calls a worker method with a recording function as its last argument and returns every call
  // of that function once the worker has ended; the worker set is then fresh again.
  std::vector<std::vector<int>> CallAndAwait(stubframework::ScriptMethod method,
                                             std::vector<ScriptArgument> arguments);
  // Stops and joins every worker, then gives the core a fresh worker set. True when none was left.
  bool RenewWorkers();
  std::string LogText();

  stubframework::core::FrameworkCore core;
  stubframework::core::StubParameters& parameters;  // *core.parameters
  stubframework::ExternalMethods* methods = nullptr;
};

}  // namespace testsupport
