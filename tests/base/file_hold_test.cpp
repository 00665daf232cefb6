#include "base/file_hold.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Errors = std::vector<DWORD>;

struct RetryCase {
    Errors failures;  // of the first attempts; the next one succeeds
    DWORD result;
    Errors pauses;
};

TEST(RetryWhileFileHeld, WaitsOutOnlyHoldsWithGrowingPausesForFiveSeconds) {
    const DWORD held = ERROR_SHARING_VIOLATION;
    for (const RetryCase& retry :
         {RetryCase{{}, ERROR_SUCCESS, {}},
          RetryCase{{held, ERROR_LOCK_VIOLATION}, ERROR_SUCCESS, {50, 100}},
          RetryCase{{ERROR_ACCESS_DENIED}, ERROR_ACCESS_DENIED, {}},
          RetryCase{{held, ERROR_FILE_NOT_FOUND}, ERROR_FILE_NOT_FOUND, {50}},
          RetryCase{Errors(20, held),
                    held,
                    {50, 100, 200, 400, 500, 500, 500, 500, 500, 500, 500, 500, 250}}}) {
        size_t attempts = 0;
        Errors pauses;
        EXPECT_EQ(retry.result, RetryWhileFileHeld(
                                    [&] {
                                        return attempts < retry.failures.size()
                                                   ? retry.failures[attempts++]
                                                   : ERROR_SUCCESS;
                                    },
                                    [&](DWORD ms) { pauses.push_back(ms); }));
        EXPECT_EQ(retry.pauses, pauses);
    }
}

}  // namespace
