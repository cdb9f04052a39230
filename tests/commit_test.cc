// The commit that moves the finished outputs over the old files: all of them
// or none, whichever move fails, and an interrupt in the middle waits.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "output/output.h"
#include "scratch_dir.h"

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace {
// Counts down the renames of this process; the one that reaches 0 raises an
// interrupt after it has moved its file.
int interrupt_after_renames = 0;
}  // namespace

// Every rename of the test program, eqalign's own included, passes here.
extern "C" int rename(const char* from, const char* to) {
  const int result = renameat(AT_FDCWD, from, AT_FDCWD, to);
  if (result == 0 && interrupt_after_renames > 0 && --interrupt_after_renames == 0) raise(SIGINT);
  return result;
}
#endif

namespace {

namespace fs = std::filesystem;

const bytes OLD{'o', 'l', 'd'};
const bytes NEW{'n', 'e', 'w'};

// What stands at an output name before the commit.
enum before { NOTHING, AN_OLD_FILE, A_FOLDER };

// The outputs of three tracks in `dir`, each finished in its temporary.
struct outputs {
  track_slot slots[3];
  outputs(const scratch_dir& dir, const before (&found)[3]) {
    for (int i = 0; i < 3; ++i) {
      track_slot& s = slots[i];
      s.output_name = dir / (std::to_string(i) + ".raw");
      if (found[i] == AN_OLD_FILE) dir.put(std::to_string(i) + ".raw", OLD);
      std::FILE* f = create_temporary(s.output_name, s.temporary);
      std::fwrite(NEW.data(), 1, NEW.size(), f);
      std::fclose(f);
      if (found[i] == A_FOLDER) fs::create_directory(utf8_path(s.output_name));
    }
  }
};

std::set<std::string> names_in(const scratch_dir& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(dir.path)) names.insert(e.path().filename().string());
  return names;
}

TEST(Commit, EveryOutputIsReplacedOrNoneIs) {
  struct row {
    const char* label;
    before found[3];
    bool temporary_lost;  // the last temporary is gone when its move comes
    const char* reason;   // of the failure, or none
  };
  const row rows[] = {
      {"all moved", {NOTHING, AN_OLD_FILE, AN_OLD_FILE}, false, nullptr},
      // The failing output's own old file, moved aside first, is put back too.
      {"the last temporary lost", {NOTHING, AN_OLD_FILE, AN_OLD_FILE}, true, "No such file or directory"},
      {"a folder at the last name", {AN_OLD_FILE, NOTHING, A_FOLDER}, false, "Is a directory"},
  };
  for (const row& r : rows) {
    scratch_dir dir;
    outputs o(dir, r.found);
    if (r.temporary_lost) fs::remove(utf8_path(o.slots[2].temporary));
    testing::internal::CaptureStdout();
    const run_status status = commit_outputs(o.slots, 3);
    const std::string out = testing::internal::GetCapturedStdout();
    std::set<std::string> expected;
    for (int i = 0; i < 3; ++i) {
      const std::string name = std::to_string(i) + ".raw";
      if (r.reason == nullptr) {
        EXPECT_EQ(read_bytes(dir / name), NEW) << r.label << " " << name;
      } else if (r.found[i] == AN_OLD_FILE) {
        EXPECT_EQ(read_bytes(dir / name), OLD) << r.label << " " << name;
      }
      // A new output whose name held nothing before is removed again.
      if (r.reason == nullptr || r.found[i] != NOTHING) expected.insert(name);
    }
    EXPECT_EQ(names_in(dir), expected) << r.label;
    EXPECT_EQ(status, r.reason == nullptr ? STATUS_OK : STATUS_OUTPUT_FAILED) << r.label;
    if (r.reason == nullptr) {
      EXPECT_EQ(out, "") << r.label;
    } else {
      EXPECT_TRUE(out.starts_with("Cannot write output file : " + o.slots[2].output_name + ".\r\nReason : ")) << out;
#ifndef _WIN32
      EXPECT_EQ(out.substr(out.find("Reason : ")), std::string("Reason : ") + r.reason + ".\r\n") << r.label;
#endif
    }
  }
}

#ifndef _WIN32
// An interrupt raised right after the first output is moved waits until the
// last is in place, and then ends the process by itself.
TEST(Commit, AnInterruptBetweenTwoMovesWaitsForTheLast) {
  scratch_dir dir;
  EXPECT_EXIT(
      {
        watch_interrupts();
        outputs o(dir, {AN_OLD_FILE, AN_OLD_FILE, AN_OLD_FILE});
        // The first output's old file is moved aside, then its temporary in.
        interrupt_after_renames = 2;
        commit_outputs(o.slots, 3);
        std::_Exit(0);
      },
      testing::KilledBySignal(SIGINT), "");
  EXPECT_EQ(names_in(dir), (std::set<std::string>{"0.raw", "1.raw", "2.raw"}));
  for (const char* name : {"0.raw", "1.raw", "2.raw"}) EXPECT_EQ(read_bytes(dir / name), NEW) << name;
}

// Descriptors 0 to 2 left closed by the caller are held open, so that no
// input or output of the run can take their place.
TEST(Commit, ClosedStandardDescriptorsAreHeldOpen) {
  EXPECT_EXIT(
      {
        for (int fd = 0; fd <= 2; ++fd) close(fd);
        prepare_process();
        const int next = open("/dev/null", O_RDONLY);
        std::_Exit(fcntl(0, F_GETFD) >= 0 && fcntl(1, F_GETFD) >= 0 && fcntl(2, F_GETFD) >= 0 && next > 2 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
