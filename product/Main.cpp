// Entry point of the Halvern installer stub.
#include <windows.h>

#include "core/FrameworkCore.h"
#include "product/MyExternalMethods.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  using namespace stubframework::core;
  FrameworkCore* core = CreateFrameworkCore();
  if (!core) return 0;
  core->parameters->externalProperties[L"propertyName1"] = L"propertyValue1";

  auto* methods = new myexternalmethods::MyExternalMethods(core);
  // Placeholder: the product layer set-up and the product analytics start arrive with their issues.
  methods->RegisterProductMethods();

  bool abnormalEnd = false;
  try {
    RunFrameworkCore(core, methods);
  } catch (...) {
    abnormalEnd = true;
  }
  // Placeholder: the product analytics exit event (with abnormalEnd) arrives with its issue.
  (void)abnormalEnd;

  ReleaseFrameworkCore(core);
  delete methods;
  return 0;
}
