#include "launcher/client_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ChooseClient, TakesQuorlExeInAnyCaseOverTheNamesSortedBeforeIt) {
    EXPECT_EQ(L"..\\Quorl.exe", ChooseClient({L"..\\Quorl Setup.exe", L"..\\Quorl Uninstall.exe",
                                              L"..\\Quorl-Helper.exe", L"..\\Quorl.exe"}));
    EXPECT_EQ(L"..\\QUORL.EXE", ChooseClient({L"..\\Quorl Uninstall.exe", L"..\\QUORL.EXE"}));
}

TEST(ChooseClient, WithoutQuorlExeTakesTheFirstMatch) {
    EXPECT_EQ(L"..\\Quorl-Helper.exe",
              ChooseClient({L"..\\Quorl-Helper.exe", L"..\\MyQuorl.exe", L"..\\xQuorl.exe"}));
    EXPECT_EQ(L"", ChooseClient({}));
}

}  // namespace
