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

// True when both files carry an embedded signature whose signer certificates have the same
// subject name. It says nothing about trust: callers verify each file as well.
bool SameSigner(const std::wstring& first, const std::wstring& second);

}  // namespace stubframework::core
