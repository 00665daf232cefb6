#include "process/installer_signature.h"

#include <wincrypt.h>
#include <wintrust.h>
// After wintrust.h, which it needs.
#include <softpub.h>

#include <vector>

#include "base/function_address.h"
#include "base/scoped_handle.h"
#include "fileutil/module_dir.h"
#include "process/system_library.h"

namespace {

// The calls of crypt32.dll and wintrust.dll. The declarations only give the
// types; nothing is imported from either library.
struct CryptCalls {
    decltype(&::CryptQueryObject) queryObject;
    decltype(&::CryptMsgGetParam) getMessageParam;
    decltype(&::CryptMsgClose) closeMessage;
    decltype(&::CertFindCertificateInStore) findCertificate;
    decltype(&::CertFreeCertificateContext) freeCertificate;
    decltype(&::CertDuplicateCertificateContext) duplicateCertificate;
    decltype(&::CertCloseStore) closeStore;
    decltype(&::CertCompareCertificateName) compareNames;
    decltype(&::WinVerifyTrust) verifyTrust;
    decltype(&::WTHelperProvDataFromStateData) providerData;
    decltype(&::WTHelperGetProvSignerFromChain) providerSigner;
};

// Filled while CCryptLibraries keeps both libraries loaded. The owners below
// close through it, and none of them outlives the libraries: an owner's
// closing function is fixed at compile time, so it can reach the loaded
// libraries only through a table of this file's own.
CryptCalls g_calls = {};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

void CloseStore(HCERTSTORE store) noexcept {
    g_calls.closeStore(store, 0);
}
void CloseMessage(HCRYPTMSG message) noexcept {
    g_calls.closeMessage(message);
}
void FreeCertificate(PCCERT_CONTEXT certificate) noexcept {
    g_calls.freeCertificate(certificate);
}

using CScopedStore = CScopedNullable<HCERTSTORE, CloseStore>;
using CScopedMessage = CScopedNullable<HCRYPTMSG, CloseMessage>;
using CScopedCertificate = CScopedNullable<PCCERT_CONTEXT, FreeCertificate>;

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& function) {
    function = AsFunction<Function>(::GetProcAddress(module, name));
    return function != nullptr;
}

// Neither library is a KnownDLL: both are loaded from System32 only, and
// only while an installer is checked, so a copy planted beside the
// executable is never picked up and an ordinary start loads neither.
class CCryptLibraries {
public:
    CCryptLibraries()
        : m_crypt32(LoadSystemLibrary(L"crypt32.dll")),
          m_wintrust(LoadSystemLibrary(L"wintrust.dll")) {
        const HMODULE crypt32 = m_crypt32.Get();
        const HMODULE wintrust = m_wintrust.Get();
        m_loaded =
            crypt32 != nullptr && wintrust != nullptr &&
            Resolve(crypt32, "CryptQueryObject", g_calls.queryObject) &&
            Resolve(crypt32, "CryptMsgGetParam", g_calls.getMessageParam) &&
            Resolve(crypt32, "CryptMsgClose", g_calls.closeMessage) &&
            Resolve(crypt32, "CertFindCertificateInStore", g_calls.findCertificate) &&
            Resolve(crypt32, "CertFreeCertificateContext", g_calls.freeCertificate) &&
            Resolve(crypt32, "CertDuplicateCertificateContext", g_calls.duplicateCertificate) &&
            Resolve(crypt32, "CertCloseStore", g_calls.closeStore) &&
            Resolve(crypt32, "CertCompareCertificateName", g_calls.compareNames) &&
            Resolve(wintrust, "WinVerifyTrust", g_calls.verifyTrust) &&
            Resolve(wintrust, "WTHelperProvDataFromStateData", g_calls.providerData) &&
            Resolve(wintrust, "WTHelperGetProvSignerFromChain", g_calls.providerSigner);
    }
    ~CCryptLibraries() { g_calls = CryptCalls(); }
    CCryptLibraries(const CCryptLibraries&) = delete;
    CCryptLibraries& operator=(const CCryptLibraries&) = delete;

    bool Loaded() const noexcept { return m_loaded; }

private:
    CScopedModule m_crypt32;
    CScopedModule m_wintrust;
    bool m_loaded = false;
};

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
    CRYPT_PROVIDER_DATA* const provider = g_calls.providerData(state);
    const CRYPT_PROVIDER_SGNR* const signer =
        provider == nullptr ? nullptr : g_calls.providerSigner(provider, 0, FALSE, 0);
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) {
        return CScopedCertificate();
    }
    return CScopedCertificate(g_calls.duplicateCertificate(signer->pasCertChain[0].pCert));
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
    if (g_calls.verifyTrust(noUser, &action, &data) == ERROR_SUCCESS) {
        signer = SignerOfVerifiedState(data.hWVTStateData);
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    g_calls.verifyTrust(noUser, &action, &data);
    return signer;
}

// The certificate of the first signer of the file's embedded signature, or
// none, read without verification. It stays valid after its store is
// closed, until it is freed.
CScopedCertificate SignerCertificate(const wchar_t* path) {
    // Out values of failed calls are not trusted: nothing is owned until a call succeeds.
    HCERTSTORE rawStore = nullptr;
    HCRYPTMSG rawMessage = nullptr;
    if (!g_calls.queryObject(CERT_QUERY_OBJECT_FILE, path,
                             CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                             CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &rawStore,
                             &rawMessage, nullptr)) {
        return CScopedCertificate();
    }
    const CScopedStore store(rawStore);
    const CScopedMessage message(rawMessage);
    DWORD size = 0;
    if (!g_calls.getMessageParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
        return CScopedCertificate();
    }
    std::vector<BYTE> signerInfo(size);
    if (!g_calls.getMessageParam(message.Get(), CMSG_SIGNER_INFO_PARAM, 0, signerInfo.data(),
                                 &size)) {
        return CScopedCertificate();
    }
    const auto* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(signerInfo.data());
    CERT_INFO signerId = {};
    signerId.Issuer = signer->Issuer;
    signerId.SerialNumber = signer->SerialNumber;
    return CScopedCertificate(g_calls.findCertificate(store.Get(),
                                                      X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                      CERT_FIND_SUBJECT_CERT, &signerId, nullptr));
}

// The subject, not the certificate: a renewed certificate keeps the subject.
bool HaveTheSameSubject(PCCERT_CONTEXT ours, PCCERT_CONTEXT theirs) {
    return g_calls.compareNames(X509_ASN_ENCODING, &ours->pCertInfo->Subject,
                                &theirs->pCertInfo->Subject) != FALSE;
}

}  // namespace

bool IsSignedLikeUs(HANDLE installer, const wchar_t* installerPath) {
    if (!WeCarryASignature()) {
        return true;
    }
    if (installer == nullptr || installer == INVALID_HANDLE_VALUE) {
        return false;
    }
    const CCryptLibraries libraries;
    if (!libraries.Loaded()) {
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
