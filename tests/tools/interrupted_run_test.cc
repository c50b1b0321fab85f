// An interrupted run (SIGINT, SIGTERM, SIGHUP) removes the temporary files
// it was writing and ends as killed by the signal; files already given
// their final names stay.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/test_util.h"
#include "tools/interrupt_cleanup.h"
#include "tools/output_files.h"

namespace {

TEST(InterruptedRun, RemovesTheTemporaryFilesAndKeepsFinishedOnes) {
  const std::string dir = jb2test::MakeTempDir();
  const unsigned char bytes[] = {1, 2, 3};
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    const std::string done = dir + "/done" + std::to_string(signal), open = dir + "/open" + std::to_string(signal);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      jb2tool::RemoveTemporariesOnInterrupt();
      jb2tool::OutputFiles finished(JB2_OUTPUT_FILE, done);
      if (jb2tool::OutputFiles::Take(&finished, 0, bytes, 3) != 0 || !finished.Commit()) _exit(2);
      // Two streams begun: one closed, one still open.
      jb2tool::OutputFiles begun(JB2_OUTPUT_EMBEDDED, open);
      if (jb2tool::OutputFiles::Take(&begun, 0, bytes, 3) != 0 || jb2tool::OutputFiles::Take(&begun, 1, bytes, 3) != 0)
        _exit(3);
      if (!jb2test::FileExists(open + ".jb2g.part") || !jb2test::FileExists(open + "_1.jb2e.part")) _exit(4);
      raise(signal);
      _exit(5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signal << ", exit " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_TRUE(jb2test::FileExists(done + ".jb2"));
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    EXPECT_NE(entry.path().extension(), ".part") << entry.path();
}

}  // namespace
