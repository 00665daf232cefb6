#include "base/named_mutex.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <thread>

#include "tests/fixtures/fixture_support.h"
#include "tests/support/test_support.h"

namespace {

// Launchers started elevated and by the user share it; only its owner may change its DACL.
TEST(NamedMutex, LetsEveryInteractiveUserWaitAndGiveItBackAndNoMore) {
    const CNamedMutex mutex(L"quorl-test-shared", CNamedMutex::Access::kCreate);
    const CScopedKernelHandle read(::OpenMutexW(READ_CONTROL, FALSE, L"quorl-test-shared"));
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(0u, ::GetSecurityInfo(read.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &dacl, nullptr, &descriptor));
    EXPECT_EQ("S-1-5-18:2031617 S-1-5-32-544:2031617 S-1-5-4:1048577",
              fixture::AllowedTrustees(dacl));
    ::LocalFree(descriptor);
}

// Made under another token (owned by another, as SYSTEM here): ours grants only what we
// use, an older launcher's nothing.
TEST(NamedMutex, OpensAnotherTokensMutexForWhatItUsesAndCountsADeniedOneAsThere) {
    const struct {
        const wchar_t* sddl;
        bool opens;
    } rows[] = {{L"O:SYD:(A;;0x100001;;;WD)", true}, {L"D:", false}};
    for (const auto& row : rows) {
        const CScopedKernelHandle other =
            test::CreateMutexUnder(row.sddl, L"quorl-test-other", false);
        const CNamedMutex mutex(L"quorl-test-other", CNamedMutex::Access::kCreate);
        EXPECT_EQ(row.opens, mutex.IsValid()) << test::ToUtf8(row.sddl);
        EXPECT_TRUE(mutex.Existed());
    }
}

// A failed wait is no lock held elsewhere; a kept lock gives back no null handle at its end.
TEST(NamedMutex, TellsAFailedWaitFromAHeldLockAndKeepsAKeptOne) {
    DWORD status = 0;
    EXPECT_FALSE(CNamedMutex(L"no\\such\\space", CNamedMutex::Access::kCreate).Lock(0, &status));
    EXPECT_EQ(WAIT_FAILED, status);
    {
        CNamedMutex kept(L"quorl-test-kept", CNamedMutex::Access::kCreate);
        ASSERT_TRUE(kept.Lock(0));
        ::SetLastError(ERROR_SUCCESS);
        kept.KeepUntilProcessEnds();
    }
    EXPECT_EQ(0u, ::GetLastError());
    std::thread([&] {
        EXPECT_FALSE(
            CNamedMutex(L"quorl-test-kept", CNamedMutex::Access::kCreate).Lock(0, &status));
    }).join();
    EXPECT_EQ(WAIT_TIMEOUT, status);
}

}  // namespace
