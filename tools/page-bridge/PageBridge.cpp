// The page bridge: runs the stub's user-interface process exactly as the stub does, with its
// pages shown in a browser instead of the system's HTML engine (see BridgeView.h). Started without
// run=1 it is the launcher, as the stub is, and runs a copy of itself.
//
// Arguments: the stub's own, plus
//   --bridge-package=FOLDER  serve this package folder instead of the embedded one
//   --bridge-port=N          listen on this port (default: any free one)
//   --bridge-answer-boxes    answer message boxes with OK after a second (unattended runs)
// The environment variable HALVERN_BRIDGE_URL_FILE names a file that gets the entry page's
// address (the launcher's copy inherits it), for programs that start the bridge.
#include <winsock2.h>  // before windows.h, which would bring the old sockets header
#include <windows.h>

#include <cstdio>
#include <string>

#include "page-bridge/BridgeView.h"
#include "core/CommandLine.h"
#include "core/TextFormat.h"
#include "product/ProductRun.h"

namespace {

std::string ResourceText(int id) {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
  HGLOBAL loaded = resource ? LoadResource(nullptr, resource) : nullptr;
  const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  return data ? std::string(data, SizeofResource(nullptr, resource)) : std::string();
}

// The value of "--name=value" among the arguments, or empty.
std::wstring OptionValue(const std::vector<std::wstring>& arguments, const std::wstring& name) {
  std::wstring prefix = name + L"=";
  for (const std::wstring& argument : arguments)
    if (argument.compare(0, prefix.size(), prefix) == 0) return argument.substr(prefix.size());
  return L"";
}

}  // namespace

int wmain() {
  std::vector<std::wstring> arguments = stubframework::core::SplitCommandLine(GetCommandLineW());
  pagebridge::BridgeOptions options;
  options.packageFolder = OptionValue(arguments, L"--bridge-package");
  options.port = static_cast<unsigned short>(_wtoi(OptionValue(arguments, L"--bridge-port").c_str()));
  for (const std::wstring& argument : arguments) options.answerBoxes |= argument == L"--bridge-answer-boxes";
  // The method table gives each call site's flags; both go into one function scope, so the page
  // sees no name of theirs.
  options.script = "(function () {\n" + ResourceText(2) + "\n" + ResourceText(1) + "\n}());\n";
  if (!options.packageFolder.empty()) {
    wchar_t full[MAX_PATH];
    if (GetFullPathNameW(options.packageFolder.c_str(), MAX_PATH, full, nullptr)) options.packageFolder = full;
  }

  myexternalmethods::ProductRun run;
  if (!run.Start()) return 0;
  pagebridge::BridgeView view(options);
  run.Run(&view);
  printf("bridge: run ended, status %d\n", run.core->parameters->Status());
  fflush(stdout);
  run.Finish();
  return 0;
}
