#include "product/MyExternalMethods.h"

namespace myexternalmethods {

using stubframework::ExternalMethods;

MyExternalMethods::MyExternalMethods(stubframework::core::FrameworkCore* core) : ExternalMethods(core) {}

MyExternalMethods::~MyExternalMethods() = default;

void MyExternalMethods::RegisterProductMethods() {
  Register(L"minimizedWindow", &MyExternalMethods::MinimizedWindow);
  // Placeholders: each of these names answers E_NOTIMPL until the issue named beside it lands.
  Register(L"prepareInstall", &MyExternalMethods::NotBuilt);              // product layer
  Register(L"trackingByAnalyticsSDK", &MyExternalMethods::NotBuilt);      // product analytics
  Register(L"setTrackingProperty", &MyExternalMethods::NotBuilt);         // product analytics
  Register(L"getOSVersionAndBuildNumber", &MyExternalMethods::NotBuilt);  // product layer
  Register(L"downloadAndInstallWV2RT", &MyExternalMethods::NotBuilt);     // product layer
}

}  // namespace myexternalmethods
