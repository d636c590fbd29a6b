// Prints the text a signed file carries after its first certificate, as UTF-8 on standard output,
// read by the code behind the stub's getEmbeddedDataFromCurrentExe: the release checks compare it
// with the text they put there.
//   tail_text <file>   ends with 0, 1 when the reader fails, 2 on a wrong command line
#include <windows.h>

#include <string>

#include "methods/SignatureTail.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  std::wstring text;
  if (stubframework::methods::ReadSignatureTailText(argv[1], text) != 0) return 1;
  const int size = static_cast<int>(text.size());
  std::string bytes(WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr);
  // Bytes as they are: the console's code page would change every character outside ASCII.
  DWORD written = 0;
  return WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) && written == bytes.size()
             ? 0
             : 1;
}
