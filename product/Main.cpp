// Entry point of the Halvern installer stub.
#include <windows.h>

#include "core/FrameworkCore.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  using namespace stubframework::core;
  FrameworkCore* core = CreateFrameworkCore();
  if (!core) return 0;
  core->parameters->externalProperties[L"propertyName1"] = L"propertyValue1";

  // Placeholder: the method object and the product methods arrive with the script bridge issue;
  // the product analytics start and exit events with the product analytics issue.
  bool abnormalEnd = false;
  try {
    RunFrameworkCore(core, nullptr);
  } catch (...) {
    abnormalEnd = true;
  }
  (void)abnormalEnd;

  ReleaseFrameworkCore(core);
  return 0;
}
