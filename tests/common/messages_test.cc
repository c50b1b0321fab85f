// The message layer: the system's two forms, numbers printed unsigned, and,
// inside a library call's sink, messages once per cause with the segment and
// page they are about, counted and handed to the host's callback.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/messages.h"

namespace {

void Collect(void* user, int severity, const char* line) {
  static_cast<std::vector<std::string>*>(user)->push_back(std::to_string(severity) + " " + line);
}

TEST(Messages, FormatsErrorsAndWarningsExactly) {
  testing::internal::CaptureStderr();
  PrintError("a");
  PrintWarning("b");
  PrintErrorRef("c", 7);
  PrintWarningRef("d", -1);  // a 32-bit number such as a segment number of 2^32 - 1
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "ERROR!   a\nWarning! b\nERROR!   c [7]\nWarning! d [4294967295]\n");
}

TEST(Messages, ASinkGetsEachCauseOnceWithItsSegmentAndPage) {
  std::vector<std::string> lines;
  jb2msg::Sink sink(Collect, &lines);
  testing::internal::CaptureStderr();
  {
    jb2msg::ScopedSink scope(&sink);
    PrintError("before any segment");
    {
      jb2msg::ScopedLocation at(5, 2);
      for (int i = 0; i < 8; ++i) PrintError("Data Ends Early");  // once
      PrintErrorRef("Region Refused", 5);                          // the segment's own number
      PrintErrorRef("Reference Symbol ID Too Large", 41);           // another number
      PrintWarning("w");
    }
    {
      jb2msg::ScopedLocation global(3000000000u, 0);
      PrintError("Data Ends Early");  // another segment: said again
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(lines, (std::vector<std::string>{"1 ERROR!   before any segment",
                                             "1 ERROR!   Data Ends Early [segment 5, page 2]",
                                             "1 ERROR!   Region Refused [segment 5, page 2]",
                                             "1 ERROR!   Reference Symbol ID Too Large [41] [segment 5, page 2]",
                                             "0 Warning! w [segment 5, page 2]",
                                             "1 ERROR!   Data Ends Early [segment 3000000000]"}));
  EXPECT_EQ(sink.errors, 5u);
  EXPECT_EQ(sink.warnings, 1u);
}

TEST(Messages, WithoutACallbackMessagesAreCountedNotShown) {
  jb2msg::Sink quiet;
  testing::internal::CaptureStderr();
  {
    jb2msg::ScopedSink scope(&quiet);
    jb2msg::CallScope call;  // an entry point inside the host's call keeps the host's sink
    PrintError("x");
    EXPECT_TRUE(call.Damaged());
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(quiet.errors, 1u);
}

}  // namespace
