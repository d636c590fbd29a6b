#pragma once
// Authenticode checks of program files before the elevated stub runs or trusts them.
#include <windows.h>

#include <string>

namespace stubframework::core {

// WinVerifyTrust's verdict on the file's embedded signature, without any user interface or
// revocation lookup: ERROR_SUCCESS when the signature is intact and chains to a trusted root,
// otherwise its error (TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT, ...). With
// a handle, the file that handle holds is checked: the caller keeps it open, without write or
// delete sharing, for as long as the checked content must stay what it is.
LONG VerifyFileSignature(const std::wstring& path, HANDLE file = nullptr);

// The SHA-256, in lower-case hex, of the public key (the encoded SubjectPublicKeyInfo) of the
// certificate that signed the file's embedded signature; empty when there is none. A key hash
// names a publisher across renewed certificates, and no other signer can match it.
std::wstring SignerKeyHash(const std::wstring& path);

// Whether the elevated stub may run the file: its signature is intact and trusted
// (VerifyFileSignature, on the held handle when given) and its signer's key hash is one of pins.
// With no pins (a build for the tests may pin nothing) every file passes and why says so. why
// tells the log what was decided.
bool SignedByPinnedPublisher(const std::wstring& path, HANDLE file, const std::wstring* pins, size_t pinCount,
                             std::wstring& why);

// The same with the product definition's publishers.
bool SignedByPinnedPublisher(const std::wstring& path, HANDLE file, std::wstring& why);

}  // namespace stubframework::core
