#include "platform/QuitSignals.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/wait.h>
#include <unistd.h>

// Once told to end, the process ends by the deadline even while work goes
// on that neither yields nor returns.
TEST(QuitSignalsTest, TheProcessEndsByTheDeadlineWhateverStillRuns) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        platform::endWithin(200);
        ::sleep(10); // a blocking wait, as the modem's hold of the line
        ::_exit(3);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_GE(ms, 200);
    EXPECT_LT(ms, 1000);
}
