#pragma once
// The system libraries that are no known DLLs of Windows, each with the exit code its planted
// stand-in ends a process with: planted-library.cpp, built once under each name into
// <build>/planted. A DLL of that name beside a program is loaded from there only when the program
// searches its own folder first (under Wine, with the override "name=n,b").
namespace testsupport {

struct PlantedLibrary {
  const wchar_t* name;
  unsigned exitCode;
};

constexpr PlantedLibrary kPlantedLibraries[] = {
    {L"bcrypt", 71}, {L"crypt32", 72}, {L"msi", 73},     {L"urlmon", 74},
    {L"winhttp", 75}, {L"wininet", 76}, {L"version", 77},
};

}  // namespace testsupport
