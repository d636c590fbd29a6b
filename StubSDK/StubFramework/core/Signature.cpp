#include "core/Signature.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <vector>

namespace stubframework::core {
namespace {

// The certificate that signed the file's embedded signature; null when there is none.
PCCERT_CONTEXT SignerCertificate(const std::wstring& path) {
  HCERTSTORE store = nullptr;
  HCRYPTMSG message = nullptr;
  if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                        CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &message, nullptr))
    return nullptr;
  PCCERT_CONTEXT certificate = nullptr;
  DWORD size = 0;
  if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size) && size >= sizeof(CERT_INFO)) {
    std::vector<BYTE> buffer(size);
    if (CryptMsgGetParam(message, CMSG_SIGNER_CERT_INFO_PARAM, 0, buffer.data(), &size))
      certificate = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                               CERT_FIND_SUBJECT_CERT, buffer.data(), nullptr);
  }
  CryptMsgClose(message);
  CertCloseStore(store, 0);
  return certificate;
}

using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, void*);

// wintrust.dll is no known system DLL: imported, it would be looked for first in the folder the
// stub was started from (a downloads folder, say), so it is loaded from the system folder only.
WinVerifyTrustFn LoadWinVerifyTrust() {
  static WinVerifyTrustFn function = [] {
    HMODULE module = LoadLibraryExW(L"wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? reinterpret_cast<WinVerifyTrustFn>(GetProcAddress(module, "WinVerifyTrust")) : nullptr;
  }();
  return function;
}

}  // namespace

LONG VerifyFileSignature(const std::wstring& path, HANDLE file) {
  WinVerifyTrustFn verifyTrust = LoadWinVerifyTrust();
  if (!verifyTrust) return TRUST_E_PROVIDER_UNKNOWN;
  WINTRUST_FILE_INFO fileInfo = {};
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = path.c_str();
  fileInfo.hFile = file;
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  LONG status = verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return status;
}

bool SameSigner(const std::wstring& first, const std::wstring& second) {
  PCCERT_CONTEXT a = SignerCertificate(first);
  PCCERT_CONTEXT b = a ? SignerCertificate(second) : nullptr;
  bool same = a && b &&
              CertCompareCertificateName(X509_ASN_ENCODING, &a->pCertInfo->Subject, &b->pCertInfo->Subject);
  if (b) CertFreeCertificateContext(b);
  if (a) CertFreeCertificateContext(a);
  return same;
}

}  // namespace stubframework::core
