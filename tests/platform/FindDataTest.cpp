#include <gtest/gtest.h>

#include "engine/platform/FindData.h"

TEST(FindData, StartsEmpty) {
  kilnor::TWin32FindDataW fd;
  EXPECT_EQ(fd.cFileName[0], u'\0');
  EXPECT_EQ(fd.dwFileAttributes, 0u);
}
