// The unit tests that need nothing of Linux, cross-built for Windows and run under Wine.

#include <gtest/gtest.h>

#include "wine_bed.hpp"

namespace camsteer::windows {
namespace {

TEST(WineUnitTests, PassUnderWine) {
    const std::unique_ptr<WineBed> bed = wineBedFor({"camsteer_unit_tests.exe"});
    if (!bed) {
        return;
    }
    const Finished done = bed->run("camsteer_unit_tests.exe", {"--gtest_brief=1"});
    ASSERT_TRUE(done.status.has_value()) << "did not end:\n" << done.out;
    EXPECT_EQ(done.status->describe(), "exit status 0") << done.out << done.err;
    EXPECT_NE(done.out.find("[  PASSED  ]"), std::string::npos) << done.out;
}

}  // namespace
}  // namespace camsteer::windows
