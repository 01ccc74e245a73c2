#include <unistd.h>

#include <gtest/gtest.h>

#include "app/ui/arrow_set.hpp"

namespace camsteer {
namespace {

TEST(ImagesDir, WorkingDirectoryComesFirst) {
    char previous[4096];
    ASSERT_NE(nullptr, getcwd(previous, sizeof previous));
    ASSERT_EQ(0, chdir(CAMSTEER_SOURCE_DIR));
    const std::string found = findImagesDir();
    ASSERT_EQ(0, chdir(previous));
    EXPECT_EQ("images", found);
}

}  // namespace
}  // namespace camsteer
