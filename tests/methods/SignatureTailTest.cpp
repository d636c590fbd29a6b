// ReadSignatureTailText on real signed executables (osslsigncode, throwaway certificate) with
// texts appended after the first certificate, and on damaged ones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/TextFormat.h"
#include "methods/SignatureTail.h"
#include "support/TestSupport.h"

using stubframework::methods::ReadSignatureTailText;

namespace {

std::wstring Fixture(const wchar_t* name) {
  const wchar_t* folder = _wgetenv(L"HALVERN_METHOD_FIXTURES");
  return std::wstring(folder ? folder : L"") + L"\\" + name;
}

struct Expectation {
  const wchar_t* file;
  DWORD code;
  std::wstring text;
};

void ExpectTail(const Expectation& expected) {
  SCOPED_TRACE(stubframework::utils::WideToUtf8(expected.file));
  std::wstring text = L"left over";
  EXPECT_EQ(ReadSignatureTailText(Fixture(expected.file), text), expected.code);
  EXPECT_EQ(text, expected.text);
}

}  // namespace

TEST(SignatureTail, TextsAfterTheFirstCertificate) {
  ASSERT_NE(_wgetenv(L"HALVERN_METHOD_FIXTURES"), nullptr);
  const Expectation cases[] = {
      {L"host-signed.exe", 0, L""},
      {L"host-tail-abc.exe", 0, L"abc"},
      {L"host-tail-hello.exe", 0, L"Hello"},
      {L"host-tail-utf8.exe", 0, L"Gr\u00fc\u00dfe, \u4e16\u754c"},
      {L"host-tail-nul.exe", 0, L"ab"},                           // ends at the first zero byte
      {L"host-tail-invalid.exe", 0, L""},                         // not UTF-8: no text, no garbage
      {L"probe32.exe", 0, L"abc"},                                // 32-bit header layout
      {L"probe64.exe", 0, L"abc"},                                // 64-bit header layout
  };
  for (const Expectation& expected : cases) ExpectTail(expected);
}

TEST(SignatureTail, UnsignedExecutableHasNoText) {
  std::wstring text = L"left over";
  EXPECT_EQ(ReadSignatureTailText(testsupport::ProgramFolder() + L"script_host.exe", text), 0u);
  EXPECT_EQ(text, L"");
}

TEST(SignatureTail, RefusesWhatDoesNotFitTheFile) {
  ASSERT_NE(_wgetenv(L"HALVERN_METHOD_FIXTURES"), nullptr);
  const Expectation cases[] = {
      {L"host-table-past-end.exe", ERROR_INSTALL_FAILURE, L""},   // table offset beyond the end
      {L"host-first-too-long.exe", ERROR_INSTALL_FAILURE, L""},   // first entry longer than the table
      {L"truncated.exe", ERROR_INSTALL_FAILURE, L""},             // headers cut off
      {L"not-pe.txt", ERROR_INSTALL_FAILURE, L""},
      {L"no-such-file.exe", ERROR_INSTALL_FAILURE, L""},
  };
  for (const Expectation& expected : cases) ExpectTail(expected);
}

TEST(SignatureTail, AcceptsUpTo100000BytesAfterTheCertificate) {
  std::wstring text;
  EXPECT_EQ(ReadSignatureTailText(Fixture(L"host-tail-limit.exe"), text), 0u);
  EXPECT_EQ(text.size(), 100000u);
  EXPECT_TRUE(text == std::wstring(100000, L'y'));
  EXPECT_EQ(ReadSignatureTailText(Fixture(L"host-tail-huge.exe"), text), static_cast<DWORD>(ERROR_INSTALL_FAILURE));
}
