#include "process/installer_signature.h"

#include <vector>

// platform.h brings wintrust.h, which softpub.h needs first.
#include "base/platform.h"
#include <softpub.h>
#include "base/scoped_handle.h"
#include "fileutil/module_dir.h"

namespace {

// Owners exist only once CryptFunctionsBound() has held: their closing
// functions need no check of their own.
void CloseStore(HCERTSTORE store) noexcept {
    platform::CertCloseStore()(store, 0);
}
void CloseMessage(HCRYPTMSG message) noexcept {
    platform::CryptMsgClose()(message);
}
void FreeCertificate(PCCERT_CONTEXT certificate) noexcept {
    platform::CertFreeCertificateContext()(certificate);
}

using CScopedStore = CScopedNullable<HCERTSTORE, CloseStore>;
using CScopedMessage = CScopedNullable<HCRYPTMSG, CloseMessage>;
using CScopedCertificate = CScopedNullable<PCCERT_CONTEXT, FreeCertificate>;

template <typename... Functions>
bool AllBound(Functions... functions) {
    return ((functions != nullptr) && ...);
}

// Neither crypt32 nor wintrust is a KnownDLL: both are bound from System32
// only, and only once an installer is checked, so an ordinary start loads
// neither.
bool CryptFunctionsBound() {
    using namespace platform;
    return AllBound(CryptQueryObject(), CryptMsgGetParam(), CryptMsgClose(),
                    CertFindCertificateInStore(), CertFreeCertificateContext(),
                    CertDuplicateCertificateContext(), CertCloseStore(),
                    CertCompareCertificateName(), WinVerifyTrust(), WTHelperProvDataFromStateData(),
                    WTHelperGetProvSignerFromChain());
}

// Read from our own image as mapped: an unsigned build reads no file and
// loads no library.
bool WeCarryASignature() {
    const auto* image = reinterpret_cast<const BYTE*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size != 0;
}

// The first certificate of the first signer's chain is the signer's own.
// Everything in the verification state goes when the state is closed, so
// the certificate is duplicated for the caller.
CScopedCertificate SignerOfVerifiedState(HANDLE state) {
    CRYPT_PROVIDER_DATA* const provider = platform::WTHelperProvDataFromStateData()(state);
    const CRYPT_PROVIDER_SGNR* const signer =
        provider == nullptr ? nullptr
                            : platform::WTHelperGetProvSignerFromChain()(provider, 0, FALSE, 0);
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) {
        return CScopedCertificate();
    }
    return CScopedCertificate(
        platform::CertDuplicateCertificateContext()(signer->pasCertChain[0].pCert));
}

// The certificate of the signer that WinVerifyTrust verified, or none when
// the signature does not verify. Taken from the verification's own state, so
// that the signer compared is the one verified, and the signature is read
// once, through the handle the loader holds. No UI, no revocation check and
// nothing fetched over the network: start-up never waits on it. The
// verification state is closed whatever the result.
CScopedCertificate VerifiedSignerCertificate(HANDLE file, const wchar_t* path) {
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof fileInfo;
    fileInfo.pcwszFilePath = path;
    fileInfo.hFile = file;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    // INVALID_HANDLE_VALUE: no interactive user to ask.
    const HWND noUser = static_cast<HWND>(INVALID_HANDLE_VALUE);
    CScopedCertificate signer;
    if (platform::WinVerifyTrust()(noUser, &action, &data) == ERROR_SUCCESS) {
        signer = SignerOfVerifiedState(data.hWVTStateData);
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    platform::WinVerifyTrust()(noUser, &action, &data);  // frees the state, judges nothing
    return signer;
}

// The certificate of the first signer of the file's embedded signature, or
// none, read without verification. It stays valid after its store is
// closed, until it is freed.
CScopedCertificate SignerCertificate(const wchar_t* path) {
    // Out values of failed calls are not trusted: nothing is owned until a call succeeds.
    HCERTSTORE rawStore = nullptr;
    HCRYPTMSG rawMessage = nullptr;
    if (!platform::CryptQueryObject()(CERT_QUERY_OBJECT_FILE, path,
                                      CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                                      CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr,
                                      &rawStore, &rawMessage, nullptr)) {
        return CScopedCertificate();
    }
    const CScopedStore store(rawStore);
    const CScopedMessage message(rawMessage);
    DWORD size = 0;
    if (!platform::CryptMsgGetParam()(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
        return CScopedCertificate();
    }
    std::vector<BYTE> signerInfo(size);
    if (!platform::CryptMsgGetParam()(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, signerInfo.data(),
                                      &size)) {
        return CScopedCertificate();
    }
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerInfo.data());
    CERT_INFO signerId = {};
    signerId.Issuer = signer->Issuer;
    signerId.SerialNumber = signer->SerialNumber;
    return CScopedCertificate(
        platform::CertFindCertificateInStore()(store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                               0, CERT_FIND_SUBJECT_CERT, &signerId, nullptr));
}

// The subject, not the certificate: a renewed certificate keeps the subject.
bool HaveTheSameSubject(PCCERT_CONTEXT ours, PCCERT_CONTEXT theirs) {
    return platform::CertCompareCertificateName()(X509_ASN_ENCODING, &ours->pCertInfo->Subject,
                                                  &theirs->pCertInfo->Subject) != FALSE;
}

}  // namespace

bool InstallerPassesSignatureCheck(HANDLE installer, const wchar_t* installerPath) {
    if (!WeCarryASignature()) {
        return true;
    }
    if (installer == nullptr || installer == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!CryptFunctionsBound()) {
        return false;
    }
    // Our own signature is read, not verified: nothing in the user's reach
    // (a distrusted entry in the user's certificate store, say) may make us
    // count as unsigned and so turn the check off.
    const CScopedCertificate ours = SignerCertificate(GetModuleFilePathW().c_str());
    if (!ours.IsValid()) {
        return false;
    }
    const CScopedCertificate theirs = VerifiedSignerCertificate(installer, installerPath);
    return theirs.IsValid() && HaveTheSameSubject(ours.Get(), theirs.Get());
}
