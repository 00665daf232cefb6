#include "process/restricted_process.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "base/file_hold.h"
#include "base/platform.h"
#include "base/scoped_handle.h"
#include "base/user_desktop.h"

namespace {

// The releasers' results are dropped: nothing is left to do with a level, a SID
// or a block that would not go, and the start goes on without it.
void CloseSaferLevel(SAFER_LEVEL_HANDLE level) noexcept {
    platform::SaferCloseLevel()(level);
}
void FreeSid(PSID sid) noexcept {
    platform::FreeSid()(sid);
}

using CScopedSaferLevel = CScopedNullable<SAFER_LEVEL_HANDLE, CloseSaferLevel>;
using CScopedToken = CScopedKernelHandle;
using CScopedSid = CScopedNullable<PSID, FreeSid>;

// The user's environment block, made by userenv.dll when it could be bound,
// from the first token a start is tried with and kept for the second road: both
// tokens are the same user's, so the block would be the same. Without the
// library or the block, BlockFor() is null and the child gets our own
// environment. The block belongs to its token: the caller keeps the token
// open until this is destroyed.
class CUserEnvironment {
public:
    CUserEnvironment() = default;
    ~CUserEnvironment() {
        if (m_block != nullptr) {
            platform::DestroyEnvironmentBlock()(m_block);
        }
    }
    CUserEnvironment(const CUserEnvironment&) = delete;
    CUserEnvironment& operator=(const CUserEnvironment&) = delete;

    void* BlockFor(HANDLE token) {
        if (m_built) {
            return m_block;
        }
        m_built = true;
        const auto create = platform::CreateEnvironmentBlock();
        // With inherit TRUE the block adds our own variables to the user's.
        if (create == nullptr || platform::DestroyEnvironmentBlock() == nullptr ||
            !create(&m_block, token, TRUE)) {
            m_block = nullptr;
        }
        return m_block;
    }

private:
    void* m_block = nullptr;
    bool m_built = false;
};

// Asks the type, which costs microseconds, before a label, an environment
// block and a process creation are spent on the token: Wine's Safer stub, for
// one, hands back a value that is no token at all.
bool IsPrimaryToken(HANDLE token) {
    TOKEN_TYPE type = TokenImpersonation;
    DWORD size = 0;
    return platform::GetTokenInformation()(token, TokenType, &type, sizeof type, &size) &&
           type == TokenPrimary;
}

// The Safer normal-user token, or none when there is no token that a process
// could be created with. The level is closed before returning, whether or not
// the token could be computed.
CScopedToken ComputeNormalUserToken() {
    // Out values of failed calls are not trusted: nothing is owned until a call succeeds.
    SAFER_LEVEL_HANDLE rawLevel = nullptr;
    if (!platform::SaferCreateLevel()(SAFER_SCOPEID_USER, SAFER_LEVELID_NORMALUSER,
                                      SAFER_LEVEL_OPEN, &rawLevel, nullptr)) {
        return CScopedToken();
    }
    const CScopedSaferLevel level(rawLevel);
    HANDLE token = nullptr;
    if (!platform::SaferComputeTokenFromLevel()(level.Get(), nullptr, &token, 0, nullptr)) {
        return CScopedToken();
    }
    CScopedToken normalUser(token);
    if (!IsPrimaryToken(normalUser.Get())) {
        normalUser.Reset();
    }
    return normalUser;
}

// The groups that UAC's filtered token makes deny-only, as Microsoft lists
// them ("How User Account Control works"): of the local machine, the
// administrators and the operators of accounts, servers, printers, backups,
// cryptography and network configuration, the power users, the remote access
// servers and the pre-Windows 2000 compatible access; of a domain, its
// administrators, controllers, certificate, schema, enterprise and policy
// administrators; and "local account and member of Administrators",
// S-1-5-114. A list of what to deny rather than of what to keep: a group that
// the client needs stays enabled, as in a standard user's token.
constexpr DWORD kBuiltinAdministrativeRids[] = {DOMAIN_ALIAS_RID_ADMINS,
                                                DOMAIN_ALIAS_RID_POWER_USERS,
                                                DOMAIN_ALIAS_RID_ACCOUNT_OPS,
                                                DOMAIN_ALIAS_RID_SYSTEM_OPS,
                                                DOMAIN_ALIAS_RID_PRINT_OPS,
                                                DOMAIN_ALIAS_RID_BACKUP_OPS,
                                                DOMAIN_ALIAS_RID_RAS_SERVERS,
                                                DOMAIN_ALIAS_RID_PREW2KCOMPACCESS,
                                                DOMAIN_ALIAS_RID_NETWORK_CONFIGURATION_OPS,
                                                DOMAIN_ALIAS_RID_CRYPTO_OPERATORS};
constexpr DWORD kDomainAdministrativeRids[] = {
    DOMAIN_GROUP_RID_ADMINS,
    DOMAIN_GROUP_RID_CONTROLLERS,
    DOMAIN_GROUP_RID_CERT_ADMINS,
    DOMAIN_GROUP_RID_SCHEMA_ADMINS,
    DOMAIN_GROUP_RID_ENTERPRISE_ADMINS,
    DOMAIN_GROUP_RID_POLICY_ADMINS,
    DOMAIN_GROUP_RID_READONLY_CONTROLLERS,
    DOMAIN_GROUP_RID_ENTERPRISE_READONLY_DOMAIN_CONTROLLERS};
// Not in every SDK's winnt.h.
constexpr DWORD kLocalAccountAndAdministratorRid = 114;

template <size_t Count>
bool IsListed(DWORD rid, const DWORD (&rids)[Count]) {
    return std::find(std::begin(rids), std::end(rids), rid) != std::end(rids);
}

bool IsAdministrativeGroup(PSID sid) {
    const SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    if (!::IsValidSid(sid) ||
        std::memcmp(::GetSidIdentifierAuthority(sid), &ntAuthority, sizeof ntAuthority) != 0) {
        return false;
    }
    const BYTE count = *::GetSidSubAuthorityCount(sid);
    if (count == 0) {
        return false;
    }
    const DWORD first = *::GetSidSubAuthority(sid, 0);
    const DWORD last = *::GetSidSubAuthority(sid, count - 1U);
    switch (count) {
        case 1:
            return first == kLocalAccountAndAdministratorRid;
        case 2:
            return first == SECURITY_BUILTIN_DOMAIN_RID &&
                   IsListed(last, kBuiltinAdministrativeRids);
        case 5:  // S-1-5-21-<three of the domain's>-<group>
            return first == SECURITY_NT_NON_UNIQUE && IsListed(last, kDomainAdministrativeRids);
        default:
            return false;
    }
}

// The token's groups; empty when they cannot be read.
std::vector<BYTE> ReadTokenGroups(HANDLE token) {
    DWORD size = 0;
    // Fails as it must without a buffer, telling the size it needs.
    platform::GetTokenInformation()(token, TokenGroups, nullptr, 0, &size);
    std::vector<BYTE> groups(size);
    if (size == 0 ||
        !platform::GetTokenInformation()(token, TokenGroups, groups.data(), size, &size)) {
        groups.clear();
    }
    return groups;
}

// The administrative groups among the token's, pointing into `groups`.
std::vector<SID_AND_ATTRIBUTES> AdministrativeGroupsOf(const std::vector<BYTE>& groups) {
    std::vector<SID_AND_ATTRIBUTES> administrative;
    const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(groups.data());
    const SID_AND_ATTRIBUTES* const first = list->Groups;
    for (const SID_AND_ATTRIBUTES* group = first; group != first + list->GroupCount; ++group) {
        if (IsAdministrativeGroup(group->Sid)) {
            administrative.push_back({group->Sid, 0});
        }
    }
    return administrative;
}

// Our own user: TOKEN_USER and room for the longest SID it points to.
struct TokenUserBuffer {
    TOKEN_USER user;
    // cppcheck-suppress unusedStructMember ; GetTokenInformation writes the SID here
    BYTE sid[SECURITY_MAX_SID_SIZE];
};

// An ACL with room for two allowing entries. ACLs are DWORD-aligned.
struct alignas(DWORD) TwoEntryAcl {
    ACL header;
    // cppcheck-suppress unusedStructMember ; AddAccessAllowedAce writes the entries here
    BYTE entries[2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)];
};

// A default DACL that grants the user and SYSTEM full access, as the Safer
// normal-user level gives.
void SetUserDefaultDacl(HANDLE token, const TOKEN_USER& user) {
    SID localSystem = {SID_REVISION, 1, {SECURITY_NT_AUTHORITY}, {SECURITY_LOCAL_SYSTEM_RID}};
    TwoEntryAcl dacl = {};
    if (!::InitializeAcl(&dacl.header, sizeof dacl, ACL_REVISION) ||
        !::AddAccessAllowedAce(&dacl.header, ACL_REVISION, GENERIC_ALL, user.User.Sid) ||
        !::AddAccessAllowedAce(&dacl.header, ACL_REVISION, GENERIC_ALL, &localSystem)) {
        return;
    }
    TOKEN_DEFAULT_DACL defaultDacl = {&dacl.header};
    platform::SetTokenInformation()(token, TokenDefaultDacl, &defaultDacl, sizeof defaultDacl);
}

// A restricted copy of an elevated token keeps the elevated defaults: the
// client's new mutexes, events and pipes would be owned by Administrators, now
// deny-only, and open to Administrators and SYSTEM alone, so that a later
// client or a helper running as the plain user could not open them. So the
// user becomes the owner and gets a default DACL, as under the Safer level.
// Neither is a condition of the start: without them the client is just as
// restricted, only its objects are shared with fewer, which beats no mail
// client at all. Wine refuses the owner (FALSE, error 0) and keeps the DACL.
void SetUserDefaults(HANDLE restricted, const CScopedToken& own) {
    TokenUserBuffer user = {};
    DWORD size = 0;
    if (!platform::GetTokenInformation()(own.Get(), TokenUser, &user, sizeof user, &size)) {
        return;
    }
    TOKEN_OWNER owner = {user.user.User.Sid};
    platform::SetTokenInformation()(restricted, TokenOwner, &owner, sizeof owner);
    SetUserDefaultDacl(restricted, user.user);
}

// What the Safer normal-user level computes, made by hand: our own token with
// every administrative group for deny only, no privilege but change-notify,
// and the user's owner and default DACL. A restricted form of our own token
// needs no privilege to start a process with. Groups that cannot be read
// start nothing: none could be denied.
CScopedToken MakeRestrictedToken() {
    // The new token's handle has the access asked for here: what process
    // creation, the environment block, the integrity label and the defaults need.
    const DWORD access = TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_IMPERSONATE |
                         TOKEN_ADJUST_DEFAULT;
    HANDLE rawOwn = nullptr;
    if (!platform::OpenProcessToken()(::GetCurrentProcess(), access, &rawOwn)) {
        return CScopedToken();
    }
    const CScopedToken own(rawOwn);
    const std::vector<BYTE> groups = ReadTokenGroups(own.Get());
    if (groups.empty()) {
        return CScopedToken();
    }
    std::vector<SID_AND_ATTRIBUTES> denyOnly = AdministrativeGroupsOf(groups);
    HANDLE restricted = nullptr;
    if (!platform::CreateRestrictedToken()(own.Get(), DISABLE_MAX_PRIVILEGE,
                                           static_cast<DWORD>(denyOnly.size()), denyOnly.data(), 0,
                                           nullptr, 0, nullptr, &restricted)) {
        return CScopedToken();
    }
    CScopedToken restrictedToken(restricted);
    SetUserDefaults(restrictedToken.Get(), own);
    return restrictedToken;
}

// Starts the command line under the token, labelled medium integrity first.
bool StartUnderToken(HANDLE token, CUserEnvironment& environment, wchar_t* commandLine) {
    // Without the label the token still starts the client, only at the
    // integrity level it was made with.
    SetMediumIntegrity(token);

    void* const block = environment.BlockFor(token);
    const DWORD creationFlags =
        block != nullptr ? CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE
                         : NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE;

    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    // A shortcut's "Run: Minimized" reaches the client; without it the client
    // chooses its window as it always did.
    const WORD showState = RequestedShowState();
    if (showState != SW_SHOWNORMAL) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = showState;
    }
    PROCESS_INFORMATION child = {};
    // A relative current directory is resolved against our working directory,
    // which start-up made the launcher's own directory. A scanner that has the
    // client open, after an update say, delays the creation.
    const DWORD created = RetryWhileFileHeld([&] {
        return platform::CreateProcessAsUserW()(token, nullptr, commandLine, nullptr, nullptr,
                                                FALSE, creationFlags, block, L"..\\", &startup,
                                                &child)
                   ? ERROR_SUCCESS
                   : ::GetLastError();
    });
    if (created == ERROR_SUCCESS) {
        const CScopedKernelHandle process(child.hProcess);
        const CScopedKernelHandle thread(child.hThread);
        // Otherwise the client the user asked for opens behind other windows.
        AllowToComeToFront(child.dwProcessId);
    }
    return created == ERROR_SUCCESS;
}

}  // namespace

RestrictedStart StartRestrictedProcess(wchar_t* commandLine) {
    // Both tokens outlive the environment block, which is made from the first
    // of them that a start is tried with.
    const CScopedToken safer = ComputeNormalUserToken();
    CScopedToken restricted;
    CUserEnvironment environment;
    if (safer.IsValid() && StartUnderToken(safer.Get(), environment, commandLine)) {
        return RestrictedStart::kSaferLevel;
    }
    restricted = MakeRestrictedToken();
    if (restricted.IsValid() && StartUnderToken(restricted.Get(), environment, commandLine)) {
        return RestrictedStart::kOwnTokenRestricted;
    }
    return RestrictedStart::kNotStarted;
}

bool SetMediumIntegrity(HANDLE token) {
    SID_IDENTIFIER_AUTHORITY labelAuthority = SECURITY_MANDATORY_LABEL_AUTHORITY;
    PSID rawSid = nullptr;
    if (!platform::AllocateAndInitializeSid()(&labelAuthority, 1, SECURITY_MANDATORY_MEDIUM_RID, 0,
                                              0, 0, 0, 0, 0, 0, &rawSid)) {
        return false;
    }
    const CScopedSid mediumSid(rawSid);
    TOKEN_MANDATORY_LABEL label = {};
    label.Label.Sid = mediumSid.Get();
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    const DWORD size = static_cast<DWORD>(sizeof label) + ::GetLengthSid(mediumSid.Get());
    return platform::SetTokenInformation()(token, TokenIntegrityLevel, &label, size) != FALSE;
}
