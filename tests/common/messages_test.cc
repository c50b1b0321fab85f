#include <gtest/gtest.h>

#include "common/messages.h"

TEST(Messages, FormatsErrorsAndWarningsExactly) {
  testing::internal::CaptureStderr();
  PrintError("a");
  PrintWarning("b");
  PrintErrorRef("c", 7);
  PrintWarningRef("d", -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR!   a\nWarning! b\nERROR!   c [7]\nWarning! d [-1]\n");
}
