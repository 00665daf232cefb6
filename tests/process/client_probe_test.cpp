#include "process/client_probe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/test_support.h"

namespace {

const wchar_t kClientMutex[] = L"__Quorl_Mutex__50051";

// Whether a mutex of that name exists, asked without creating one.
bool MutexExists(const wchar_t* name) {
    const CScopedKernelHandle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, name));
    return mutex.IsValid() || ::GetLastError() == ERROR_ACCESS_DENIED;
}

TEST(IsClientRunning, SeesTheClientMutexOfAnotherProcessAndLeavesItHeld) {
    test::CHolder client(kClientMutex, L"");
    ASSERT_TRUE(client.WaitUntilHeld());

    EXPECT_TRUE(IsClientRunning(L"50051"));
    EXPECT_TRUE(IsClientRunning(L"50051"));

    EXPECT_TRUE(MutexExists(kClientMutex));
    const test::ProcessResult holder = client.Quit();
    EXPECT_TRUE(holder.finished);
    EXPECT_EQ(holder.exitCode, 0u);
    // Gone with its holder: the probe kept no handle of its own.
    EXPECT_FALSE(MutexExists(kClientMutex));
}

TEST(IsClientRunning, FindsNothingTwiceAndLeavesNothingBehind) {
    EXPECT_FALSE(IsClientRunning(L"50051"));
    EXPECT_FALSE(IsClientRunning(L"50051"));
    EXPECT_FALSE(MutexExists(kClientMutex));
}

// A client starting meanwhile would find its own mutex there already and take
// itself for a second instance.
TEST(IsClientRunning, NeverMakesTheMutexWhileItProbes) {
    std::atomic<bool> probing{true};
    std::thread loader([&probing] {
        while (probing) {
            IsClientRunning(L"50051");
        }
    });
    bool foundThere = false;
    for (int look = 0; look < 20000 && !foundThere; ++look) {
        foundThere = MutexExists(kClientMutex);
    }
    probing = false;
    loader.join();
    EXPECT_FALSE(foundThere);
}

TEST(IsClientRunning, CountsAMutexItMayNotOpenAsARunningClient) {
    test::CHolder client(kClientMutex, L"--deny");
    ASSERT_TRUE(client.WaitUntilHeld());
    {
        const CScopedKernelHandle opened(::CreateMutexW(nullptr, FALSE, kClientMutex));
        ASSERT_FALSE(opened.IsValid());
        ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }

    EXPECT_TRUE(IsClientRunning(L"50051"));
    EXPECT_EQ(client.Quit().exitCode, 0u);
}

TEST(IsClientRunning, MatchesTheNameExactly) {
    const wchar_t* const nearMisses[] = {L"__quorl_mutex__50051", L"__QUORL_MUTEX__50051",
                                         L"__Quorl_Mutex___50051", L"__Quorl_Mutex__ 50051",
                                         L"__Quorl_Mutex__-50051"};
    for (const wchar_t* name : nearMisses) {
        const CScopedKernelHandle held(::CreateMutexW(nullptr, FALSE, name));
        ASSERT_TRUE(held.IsValid());
        EXPECT_FALSE(IsClientRunning(L"50051")) << test::ToUtf8(name);
    }
    const CScopedKernelHandle client(::CreateMutexW(nullptr, FALSE, kClientMutex));
    EXPECT_FALSE(IsClientRunning(L"5005"));
    EXPECT_FALSE(IsClientRunning(L"500511"));
}

TEST(IsClientRunning, ProbesTheBarePrefixForAnEmptySuffix) {
    EXPECT_FALSE(IsClientRunning(L""));
    const CScopedKernelHandle held(::CreateMutexW(nullptr, FALSE, L"__Quorl_Mutex__"));
    ASSERT_TRUE(held.IsValid());
    EXPECT_TRUE(IsClientRunning(L""));
    EXPECT_FALSE(IsClientRunning(L"50051"));
}

}  // namespace
