// The CRC-32 of whole files that getCrc and the download worker compare with file lists.
#include <gtest/gtest.h>
#include <zlib.h>

#include "core/UniqueHandle.h"
#include "methods/FileCrc.h"
#include "support/TestSupport.h"

using stubframework::methods::ComputeFileCrc;
using testsupport::ScratchFolder;
using testsupport::WriteFileBytes;

TEST(ComputeFileCrc, GivesTheZipCrcOfTheWholeFile) {
  ScratchFolder folder;
  DWORD crc = 1;
  ASSERT_TRUE(WriteFileBytes(folder.File(L"check.txt"), "123456789"));
  ASSERT_TRUE(ComputeFileCrc(folder.File(L"check.txt"), crc));
  EXPECT_EQ(crc, 0xCBF43926u);  // the standard check value of this CRC

  ASSERT_TRUE(WriteFileBytes(folder.File(L"empty.txt"), ""));
  ASSERT_TRUE(ComputeFileCrc(folder.File(L"empty.txt"), crc));
  EXPECT_EQ(crc, 0u);

  // Several 1 MiB blocks and a short last one continue one CRC.
  std::string large(5 * 512 * 1024 + 17, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 31) ^ (i >> 9));
  ASSERT_TRUE(WriteFileBytes(folder.File(L"large.bin"), large));
  ASSERT_TRUE(ComputeFileCrc(folder.File(L"large.bin"), crc));
  EXPECT_EQ(crc, crc32(0, reinterpret_cast<const Bytef*>(large.data()), static_cast<uInt>(large.size())));
}

TEST(ComputeFileCrc, FailsForMissingFilesAndFilesOpenElsewhere) {
  ScratchFolder folder;
  DWORD crc = 1;
  EXPECT_FALSE(ComputeFileCrc(folder.File(L"missing.bin"), crc));
  EXPECT_EQ(crc, 0u);

  // A worker still writing the file keeps it from being read.
  ASSERT_TRUE(WriteFileBytes(folder.File(L"busy.bin"), "partial"));
  {
    stubframework::utils::FileHandle writer(CreateFileW(folder.File(L"busy.bin").c_str(), GENERIC_WRITE,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                        nullptr));
    ASSERT_TRUE(writer.Valid());
    EXPECT_FALSE(ComputeFileCrc(folder.File(L"busy.bin"), crc));
  }
  EXPECT_TRUE(ComputeFileCrc(folder.File(L"busy.bin"), crc));
}

// Devices open like files, but a read from a serial port or the console can wait for ever: only
// regular files are read, and a device name answers at once as a missing file does. Wine maps
// COM1 (and AUX) to a serial port here, NUL to /dev/null, CON and CONIN$ to the console.
TEST(ComputeFileCrc, AnswersDeviceNamesAsMissingFiles) {
  const wchar_t* devices[] = {L"COM1",          L"com1",      L"AUX",       L"COM1:",       L"COM1.txt",
                              L"C:\\windows\\COM1", L"\\\\.\\COM1", L"\\\\?\\COM1", L"\\\\.\\NUL", L"NUL",
                              L"nul.txt",       L"CON",       L"CONIN$",    L"CONOUT$",     L"LPT1",
                              L"PRN",           L"COM9 .log", L"\\\\.\\pipe\\halvern"};
  for (const wchar_t* device : devices) {
    DWORD crc = 1;
    EXPECT_FALSE(ComputeFileCrc(device, crc)) << device;
    EXPECT_EQ(crc, 0u) << device;
  }
  // Names that only resemble devices are files like any other.
  ScratchFolder folder;
  for (const wchar_t* name : {L"COM10", L"CONSOLE.txt", L"a.con", L"nul_", L"LPT"}) {
    ASSERT_TRUE(WriteFileBytes(folder.File(name), "123456789")) << name;
    DWORD crc = 0;
    EXPECT_TRUE(ComputeFileCrc(folder.File(name), crc)) << name;
    EXPECT_EQ(crc, 0xCBF43926u) << name;
  }
}
