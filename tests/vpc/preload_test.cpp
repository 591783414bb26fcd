// SPDX-License-Identifier: MIT
// The virtual PC preloaded into programs that never use it, as a user preloads it into a shell: it
// must leave them exactly as they are. A machine file at fault is said when the machine is used.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

struct Outcome {
  int status = -1;
  std::string out;
};

// Runs a shell command line with the virtual PC preloaded into the shell and all it starts.
Outcome Preloaded(const std::string& command, const std::string& environment = "") {
  std::string line = environment + " LD_PRELOAD=" VPC_LIBRARY " sh -c '" + command + "' 2>&1";
  Outcome run;
  FILE* pipe = popen(line.c_str(), "r");
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, got);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(Preloaded, AProgramThatNeverUsesTheVirtualPcSleepsPollsAndWaitsAsWithoutIt) {
  Outcome run = Preloaded(PROBE);
  EXPECT_EQ(run.status, 0) << run.out;
  // The children of a preloaded shell, one after the other and side by side.
  run = Preloaded(PROBE " && " PROBE " & " PROBE "; wait");
  EXPECT_EQ(run.status, 0) << run.out;
}

TEST(Preloaded, AMachineFileAtFaultIsSaidWhenTheMachineIsUsedAndNotBefore) {
  Outcome unused = Preloaded(PROBE, "FERROX_VPC_MACHINE=/nonexistent/machine.toml");
  EXPECT_EQ(unused.status, 0) << unused.out;
  EXPECT_EQ(unused.out, "");
  Outcome used = Preloaded(PROBE " --open-node", "FERROX_VPC_MACHINE=/nonexistent/machine.toml");
  EXPECT_EQ(used.status, 0) << used.out;
  EXPECT_NE(used.out.find("virtual PC: not started: /nonexistent/machine.toml: cannot open the machine file"),
            std::string::npos)
      << used.out;
  EXPECT_NE(used.out.find("refused: No such device"), std::string::npos) << used.out;
  EXPECT_NE(Preloaded(PROBE " --open-node").out.find("opened"), std::string::npos);
}

// The virtual PC's machine does not follow a program into its new image, so a node descriptor kept
// across exec cannot be served there as the driver serves it: its requests are refused, and said
// so, rather than answered ENOTTY as if it named some other file.
TEST(Preloaded, ANodeDescriptorKeptAcrossExecIsRefusedAndSaidSo) {
  Outcome run = Preloaded(PROBE " --exec-keeping-node");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("after exec: -1 Bad file descriptor"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("virtual PC: descriptor "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" was kept across exec"), std::string::npos) << run.out;
}

// The machine stays with the process that started it: an image exec'd in its child finds it held
// there, and is refused rather than served by a second machine nobody else sees, unless the child
// starts it on a machine of its own.
TEST(Preloaded, AnImageExecdInAChildIsRefusedUnlessStartedOnAMachineOfItsOwn) {
  Outcome shared = Preloaded(PROBE " --exec-in-child");
  EXPECT_EQ(shared.status, 0) << shared.out;
  EXPECT_NE(shared.out.find("refused: No such device"), std::string::npos) << shared.out;
  EXPECT_NE(shared.out.find("was exec'd in a descendant of process "), std::string::npos) << shared.out;
  EXPECT_NE(shared.out.find("without FERROX_VPC_MACHINE_PROCESS"), std::string::npos) << shared.out;
  Outcome own = Preloaded(PROBE " --exec-in-child own");
  EXPECT_EQ(own.status, 0) << own.out;
  EXPECT_EQ(own.out, "opened\n");
}

// A long-running program's requests cost no memory: the log is off unless a test asks for it.
TEST(Preloaded, AProgramMakingManyRequestsKeepsTheMemoryItHadAfterTheFirstThousand) {
  Outcome run = Preloaded(PROBE " --requests");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("resident memory grew by"), std::string::npos) << run.out;
}

}  // namespace
