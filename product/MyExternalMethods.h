#pragma once
// The product layer's method object: the framework's methods plus the product's own names.
#include "methods/ExternalMethods.h"

namespace myexternalmethods {

struct ProductAnalyticsState;
struct TrackingProperties;

class MyExternalMethods : public stubframework::ExternalMethods {
 public:
  explicit MyExternalMethods(stubframework::core::FrameworkCore* core);
  ~MyExternalMethods() override;

  // Registers the product's names on top of the framework's.
  void RegisterProductMethods();

  ProductAnalyticsState* analyticsState = nullptr;
  TrackingProperties* trackingProperties = nullptr;
};

}  // namespace myexternalmethods
