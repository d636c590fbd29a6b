#include "core/Signature.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <vector>

#include "ProductDefinition.h"
#include "core/Digest.h"
#include "core/TextFormat.h"

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

std::wstring SignerKeyHash(const std::wstring& path) {
  PCCERT_CONTEXT certificate = SignerCertificate(path);
  if (!certificate) return L"";
  BYTE* encoded = nullptr;
  DWORD size = 0;
  std::wstring hash;
  if (CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &certificate->pCertInfo->SubjectPublicKeyInfo,
                          CRYPT_ENCODE_ALLOC_FLAG, nullptr, &encoded, &size)) {
    hash = utils::DigestHex(utils::DigestKind::Sha256, encoded, size, false);
    LocalFree(encoded);
  }
  CertFreeCertificateContext(certificate);
  return hash;
}

bool SignedByPinnedPublisher(const std::wstring& path, HANDLE file, const std::wstring* pins, size_t pinCount,
                             std::wstring& why) {
  if (pinCount == 0) {
    why = L"no publisher is pinned in this build: the signature is not checked";
    return true;
  }
  LONG trust = VerifyFileSignature(path, file);
  if (trust != ERROR_SUCCESS) {
    why = utils::FormatWide(L"its signature is not intact and trusted (0x%08lX)", static_cast<unsigned long>(trust));
    return false;
  }
  std::wstring signer = SignerKeyHash(path);
  for (size_t i = 0; i < pinCount; ++i) {
    if (!signer.empty() && signer == pins[i]) {
      why = L"signed by the pinned publisher " + signer;
      return true;
    }
  }
  why = L"signed by " + (signer.empty() ? std::wstring(L"an unreadable signer") : L"the publisher " + signer) +
        L", which is not pinned";
  return false;
}

bool SignedByPinnedPublisher(const std::wstring& path, HANDLE file, std::wstring& why) {
  std::vector<std::wstring> pins;
  for (const char* hash : definition::kPublisherKeyHashes) pins.emplace_back(hash, hash + strlen(hash));
  return SignedByPinnedPublisher(path, file, pins.data(), pins.size(), why);
}

}  // namespace stubframework::core
