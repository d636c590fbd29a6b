#pragma once
// The product layer's method object: the framework's methods plus the product's own names.
#include <array>
#include <string>

#include "methods/ExternalMethods.h"

namespace myexternalmethods {

struct ProductAnalyticsState;

// What the product analytics send with every event about the install and the device.
struct TrackingProperties {
  std::wstring channel;
  std::wstring msiBuildNumber;
  std::wstring msiFileName;
  std::wstring application;
  std::wstring language;
  std::wstring stubVersion;
  std::wstring license;
  std::wstring analyticsConsent;
  std::wstring reserved1;
  std::wstring reserved2;
  std::wstring deviceBits;
  std::wstring deviceOs;
  std::wstring deviceOsVersion;
  std::wstring deviceLang;
};


// The major, minor and build of a version text read as "%d.%d.%d": reading stops at the first
// field that is not there, which counts as 0 with those after it; a fourth field is ignored.
std::array<int, 3> VersionFields(const std::wstring& version);
// Whether the installed version is the package's or newer, by major, then minor, then build.
bool IsSameOrNewerVersion(const std::wstring& installed, const std::wstring& package);

class MyExternalMethods : public stubframework::ExternalMethods {
 public:
  explicit MyExternalMethods(stubframework::core::FrameworkCore* core);
  ~MyExternalMethods() override;

  // Creates the tracking properties with their start values and the device facts of now.
  void SetupProductLayer();
  // Registers the product's names on top of the framework's.
  void RegisterProductMethods();

  HRESULT PrepareInstall(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT GetOSVersionAndBuildNumber(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT DownloadAndInstallWV2RT(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT TrackingByAnalyticsSDKMethod(WORD flags, DISPPARAMS* params, VARIANT* result);
  HRESULT SetTrackingPropertyMethod(WORD flags, DISPPARAMS* params, VARIANT* result);

  ProductAnalyticsState* analyticsState = nullptr;
  TrackingProperties* trackingProperties = nullptr;

 private:
  // Sets a property the way the page does, so the store's own log lines record it.
  void SetPropertyAsScript(const std::wstring& name, const std::wstring& value);
};

}  // namespace myexternalmethods
