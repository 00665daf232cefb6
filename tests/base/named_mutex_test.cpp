#include "base/named_mutex.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include "tests/fixtures/fixture_support.h"
#include "tests/support/test_support.h"

namespace {

// Shared by launchers started elevated and by the user; only its owner may change its DACL.
TEST(NamedMutex, LetsEveryInteractiveUserWaitAndGiveItBackAndNoMore) {
    const CNamedMutex mutex(L"quorl-test-shared", CNamedMutex::Access::kCreate);
    const CScopedKernelHandle read(::OpenMutexW(READ_CONTROL, FALSE, L"quorl-test-shared"));
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ::GetSecurityInfo(read.Get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      &dacl, nullptr, &descriptor);
    EXPECT_EQ("S-1-5-18:2031617 S-1-5-32-544:2031617 S-1-5-4:1048577",
              fixture::AllowedTrustees(dacl));
    ::LocalFree(descriptor);
    // One made so under another token (SYSTEM's here) opens for what we use alone.
    const CScopedKernelHandle other =
        test::CreateMutexUnder(L"O:SYD:(A;;0x100001;;;WD)", L"quorl-test-other", false);
    EXPECT_TRUE(CNamedMutex(L"quorl-test-other", CNamedMutex::Access::kCreate).IsValid());
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
}

}  // namespace
