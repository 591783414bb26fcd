// SPDX-License-Identifier: MIT
// ferrox trace, record and replay with the session of tests/trace on the virtual PC: recorded and
// replayed unchanged, changed by one write, by a wait left out, by polls more or fewer; the trace
// named for people and as JSON lines; recordings that are not.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <sstream>

#include "tests/cli/support.h"

namespace {

using cli::Ferrox;
using cli::Outcome;

const std::string Session = TRACE_SESSION;

std::string Record(const std::string& name, const std::string& session_arguments = "") {
  std::string recording = cli::TempFile(name).string();
  Outcome run = Ferrox("record -o " + recording + " -- " + Session + " " + session_arguments);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("ferrox: recorded "), std::string::npos) << run.err;
  return recording;
}

// Timing is held to only where a test says so: a loaded host may stretch a recorded gap past the
// 50 ms that strict timing looks at.
Outcome Replay(const std::string& recording, const std::string& options, const std::string& session_arguments = "") {
  std::string timing = options.find("--strict") == std::string::npos ? "--loose-timing " : "";
  std::string rest = options.find("--strict") == std::string::npos ? options : "";
  return Ferrox("replay " + recording + " " + timing + rest + " -- " + Session + " " + session_arguments);
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

TEST(CliTrace, RecordedSessionReplaysUnchangedAndFailsAtTheChangedWrite) {
  std::string recording = Record("session.rec");
  Outcome same = Replay(recording, "");
  EXPECT_EQ(same.status, 0) << same.err;
  EXPECT_NE(same.err.find("the program made the "), std::string::npos) << same.err;
  EXPECT_NE(same.out.find("printed 13 bytes on interrupts"), std::string::npos) << same.out;

  // The call that differs is the data write of the printed line's second byte.
  Outcome listing = Ferrox("trace --json --from " + recording + " -o /dev/stdout");
  ASSERT_EQ(listing.status, 0) << listing.err;
  int changed_call = -1;
  for (const nlohmann::json& event : JsonLines(listing.out))
    if (event["event"] == "port out" && event["port"] == 0x378 && event["value"] == 'e') {
      changed_call = event["sequence"];
      break;
    }
  ASSERT_GE(changed_call, 0);
  Outcome changed = Replay(recording, "", "--changed");
  EXPECT_EQ(changed.status, 1);
  EXPECT_NE(changed.err.find("ferrox: replay: diverged at call #" + std::to_string(changed_call) + "\n"), std::string::npos)
      << changed.err;
  EXPECT_NE(changed.err.find("expected: port out port=0x0378 width=1 value=0x65"), std::string::npos) << changed.err;
  EXPECT_NE(changed.err.find("came:     port out port=0x0378 width=1 value=0x45"), std::string::npos) << changed.err;
  std::filesystem::remove(recording);
}

// Under a descriptor limit below the pipe's usual place the pipe goes lower, and the calls are
// recorded all the same.
TEST(CliTrace, ALowDescriptorLimitStillRecordsTheCalls) {
  std::string recording = cli::TempFile("limited.rec").string();
  Outcome run = cli::Shell("ulimit -n 200 && " + std::string(FERROX_TOOL) + " --virtual record -o " + recording +
                           " -- " + Session);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("ferrox: recorded 0 calls"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("ferrox: recorded "), std::string::npos) << run.err;
  std::filesystem::remove(recording);
}

// A program that closes every descriptor from 3 up, as a daemon does, leaves the pipe the tool
// handed down, which it never opened: its calls are recorded all the same, and replay.
TEST(CliTrace, AProgramThatClosesEveryDescriptorIsStillRecorded) {
  std::string recording = cli::TempFile("closefrom.rec").string();
  Outcome run = Ferrox("record -o " + recording + " -- " + Session + " --closefrom");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("ferrox: recorded 0 calls"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("ferrox: recorded "), std::string::npos) << run.err;
  Outcome replayed = Replay(recording, "", "--closefrom");
  EXPECT_EQ(replayed.status, 0) << replayed.err;
  std::filesystem::remove(recording);
}

// A forked child that makes no call of the recording ends without judging the replay: that is
// its parent's to do.
TEST(CliTrace, AForkedChildThatOnlyExitsLeavesTheReplayToItsParent) {
  std::string recording = Record("forked.rec", "--fork-child");
  Outcome replayed = Replay(recording, "", "--fork-child");
  EXPECT_EQ(replayed.status, 0) << replayed.err;
  EXPECT_NE(replayed.out.find("printed 13 bytes on interrupts"), std::string::npos) << replayed.out;
  std::filesystem::remove(recording);
}

// Under closefrom(3) the replay's verdict still reaches the tool, which says it as its own fault.
TEST(CliTrace, AProgramThatClosesEveryDescriptorStillHasItsDivergenceTold) {
  std::string recording = Record("closefrom-changed.rec", "--closefrom");
  Outcome changed = Replay(recording, "", "--closefrom --changed");
  EXPECT_EQ(changed.status, 1);
  EXPECT_NE(changed.err.find("ferrox: replay: diverged at call #"), std::string::npos) << changed.err;
  EXPECT_EQ(changed.err.find("exited with status"), std::string::npos) << changed.err;
  std::filesystem::remove(recording);
}

// The live trace of the session with these arguments, as JSON lines.
std::vector<nlohmann::json> LiveTrace(const std::string& session_arguments, Outcome& run) {
  std::string file = cli::TempFile("live.json").string();
  run = Ferrox("trace --json -o " + file + " -- " + Session + " " + session_arguments);
  std::vector<nlohmann::json> events = JsonLines(cli::ReadFile(file));
  std::filesystem::remove(file);
  return events;
}

std::size_t Count(const std::vector<nlohmann::json>& events, const std::string& operation) {
  return static_cast<std::size_t>(std::ranges::count_if(events, [&](const nlohmann::json& e) { return e["event"] == operation; }));
}

// The processes of the session's window reads of 60 KiB, each as many times as it read one.
std::multiset<int> WindowReaders(const std::vector<nlohmann::json>& events) {
  std::multiset<int> processes;
  for (const nlohmann::json& event : events)
    if (event["event"] == "mem read" && event["count"] == 60 * 1024 && event["data"].get<std::string>().size() == 2 * 60 * 1024)
      processes.insert(event["process"].get<int>());
  return processes;
}

// A parent and its child each read windows of 60 KiB at once, every event more than a pipe takes
// whole: each comes through whole, live and recorded.
TEST(CliTrace, TheWindowReadsOfAParentAndItsChildComeThroughWhole) {
  constexpr std::size_t Reads = 40;
  Outcome live;
  std::vector<nlohmann::json> events = LiveTrace("--fork-windows " + std::to_string(Reads), live);
  ASSERT_EQ(live.status, 0) << live.err;
  std::multiset<int> readers = WindowReaders(events);
  EXPECT_EQ(readers.size(), 2 * Reads);
  EXPECT_EQ(readers.count(*readers.begin()), Reads);
  std::string recording = Record("fork-windows.rec", "--fork-windows " + std::to_string(Reads));
  Outcome listing = Ferrox("trace --json --from " + recording + " -o /dev/stdout");
  ASSERT_EQ(listing.status, 0) << listing.err;
  readers = WindowReaders(JsonLines(listing.out));
  EXPECT_EQ(readers.size(), 2 * Reads);
  EXPECT_EQ(readers.count(*readers.begin()), Reads);
  std::filesystem::remove(recording);
}

// Children forked while another thread of the parent is writing an event: each child's request
// is traced all the same, live and recorded, and none hangs on the event it never began.
TEST(CliTrace, ChildrenForkedWhileAnEventIsWrittenAreTraced) {
  constexpr int Children = 60;
  auto children = [](const std::vector<nlohmann::json>& events) {
    std::set<int> parent, refused;
    for (const nlohmann::json& event : events)
      if (event["event"] == "open") parent.insert(event["process"].get<int>());
    for (const nlohmann::json& event : events)
      if (event["event"] == "port in" && !parent.contains(event["process"].get<int>()) && event.contains("error") &&
          event["error"] == "EBADF")
        refused.insert(event["process"].get<int>());
    return refused.size();
  };
  Outcome live;
  std::vector<nlohmann::json> events = LiveTrace("--fork-amid-events " + std::to_string(Children), live);
  ASSERT_EQ(live.status, 0) << live.out << live.err;
  EXPECT_EQ(children(events), static_cast<std::size_t>(Children));
  std::string recording = Record("fork-amid.rec", "--fork-amid-events " + std::to_string(Children));
  Outcome listing = Ferrox("trace --json --from " + recording + " -o /dev/stdout");
  ASSERT_EQ(listing.status, 0) << listing.err;
  EXPECT_EQ(children(JsonLines(listing.out)), static_cast<std::size_t>(Children));
  std::filesystem::remove(recording);
}

// Where the calls of some process's events skip a number: each process numbers its calls from #0,
// and again from #0 in an image it execs. Empty when none does.
std::string FirstGap(const std::vector<nlohmann::json>& events) {
  std::map<int, long> next;
  for (const nlohmann::json& event : events) {
    if (!event.contains("sequence")) continue;
    long sequence = event["sequence"];
    long& expected = next[event["process"].get<int>()];
    if (sequence != expected && sequence != 0)
      return "process " + event["process"].dump() + ": call #" + std::to_string(sequence) + " after #" +
             std::to_string(expected - 1);
    expected = sequence + 1;
  }
  return "";
}

// The stress test's schedules of threads, forks, execs, signals and components pass under the trace
// layer as without it, and every process's calls reach the live trace and the recording whole.
// FERROX_STRESS_TRACED_SEEDS runs more seeds (make fuzz).
TEST(CliTrace, TheStressSchedulesPassTracedAndRecordedWithEveryCallKept) {
  if (std::string(VPC_STRESS).empty()) GTEST_SKIP() << "the stress test runs natively only";
  const char* asked = std::getenv("FERROX_STRESS_TRACED_SEEDS");
  std::string program = std::string(VPC_STRESS) + " --seeds " + (asked ? asked : "6");
  std::string traced = cli::TempFile("stress.jsonl").string();
  Outcome live = Ferrox("trace --json -o " + traced + " -- " + program);
  ASSERT_EQ(live.status, 0) << live.out << live.err;
  std::vector<nlohmann::json> events = JsonLines(cli::ReadFile(traced));
  EXPECT_GT(events.size(), 100u);
  EXPECT_EQ(FirstGap(events), "");

  std::string recording = cli::TempFile("stress.rec").string();
  Outcome run = Ferrox("record -o " + recording + " -- " + program);
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  std::size_t recorded = 0;
  ASSERT_EQ(std::sscanf(run.err.substr(run.err.find("ferrox: recorded ")).c_str(), "ferrox: recorded %zu calls", &recorded), 1)
      << run.err;
  Outcome listing = Ferrox("trace --json --from " + recording + " -o /dev/stdout");
  ASSERT_EQ(listing.status, 0) << listing.err;
  events = JsonLines(listing.out);
  EXPECT_EQ(static_cast<std::size_t>(std::ranges::count_if(events, [](const nlohmann::json& e) { return e.contains("sequence"); })),
            recorded);
  EXPECT_EQ(FirstGap(events), "");
  std::filesystem::remove(traced);
  std::filesystem::remove(recording);
}

// The calls of both images of a program that execs itself are kept, in order; a replay, which
// answers one image, refuses the recording rather than diverging.
TEST(CliTrace, AProgramThatExecsItselfKeepsTheCallsOfBothImages) {
  std::string recording = cli::TempFile("exec-self.rec").string();
  Outcome run = Ferrox("record -o " + recording + " -- " + Session + " --exec-self");
  ASSERT_EQ(run.status, 0) << run.err;
  std::size_t recorded = 0;
  ASSERT_EQ(std::sscanf(run.err.substr(run.err.find("ferrox: recorded ")).c_str(), "ferrox: recorded %zu calls", &recorded), 1);
  Outcome listing = Ferrox("trace --json --from " + recording + " -o /dev/stdout");
  ASSERT_EQ(listing.status, 0) << listing.err;
  std::vector<nlohmann::json> events = JsonLines(listing.out);
  std::size_t calls = static_cast<std::size_t>(std::ranges::count_if(events, [](const nlohmann::json& e) { return e.contains("sequence"); }));
  EXPECT_EQ(calls, recorded);
  // The first image's calls end with three reads of the printer's status and the close; then come
  // the second's, from its open as call #0.
  auto close = std::ranges::find_if(events, [](const nlohmann::json& e) { return e["event"] == "close"; });
  ASSERT_GE(close - events.begin(), 3);
  for (auto read = close - 3; read != close; ++read) EXPECT_EQ((*read)["port"], 0x379) << *read;
  ASSERT_NE(close + 1, events.end());
  EXPECT_EQ(close[1]["event"], "open");
  EXPECT_EQ(close[1]["sequence"], 0);
  Outcome replayed = Replay(recording, "", "--exec-self");
  EXPECT_EQ(replayed.status, 1);
  EXPECT_NE(replayed.err.find("a replay takes one program image"), std::string::npos) << replayed.err;
  std::filesystem::remove(recording);
}

// Two components listen on the printer's line: each interrupt signals both, during one request,
// and the live trace shows every signal, as the recording does.
TEST(CliTrace, EverySignalThatCameDuringOneRequestIsTraced) {
  Outcome live;
  std::vector<nlohmann::json> events = LiveTrace("--shared-line", live);
  ASSERT_EQ(live.status, 0) << live.err;
  EXPECT_NE(live.out.find("the second component took 13 interrupts"), std::string::npos) << live.out;
  EXPECT_EQ(Count(events, "signal"), 26u);
  std::string recording = Record("shared-line.rec", "--shared-line");
  Outcome listing = Ferrox("trace --json --from " + recording + " -o /dev/stdout");
  ASSERT_EQ(listing.status, 0) << listing.err;
  EXPECT_EQ(Count(JsonLines(listing.out), "signal"), 26u);
  std::filesystem::remove(recording);
}

// The session as the guest of the end-to-end suite recorded it on the reference driver, both ABIs:
// the emulated PC is slow, so its waits are not held to.
TEST(CliTrace, SessionRecordedOnTheDriverInTheEmulatedPcReplays) {
  for (const char* abi : {"x86_64", "i386"}) {
    std::string fixture = std::string(FERROX_SOURCE_DIR) + "/tests/trace/emulated-pc-" + abi + ".rec";
    Outcome run = Replay(fixture, "--loose-polling");
    EXPECT_EQ(run.status, 0) << abi << "\n" << run.err;
    EXPECT_NE(run.out.find("ata primary master: FERROX E2E DISK"), std::string::npos) << abi << "\n" << run.out;
    EXPECT_EQ(Replay(fixture, "--loose-polling", "--changed").status, 1) << abi;
  }
}

TEST(CliTrace, AWaitLeftOutIsCaughtUnlessTimingIsLoose) {
  std::string recording = Record("paused.rec", "--pause 400");
  Outcome hurried = Replay(recording, "--strict");
  EXPECT_EQ(hurried.status, 1);
  EXPECT_NE(hurried.err.find("too soon"), std::string::npos) << hurried.err;
  EXPECT_NE(hurried.err.find("expected: map phys=0x00000400 size=256"), std::string::npos) << hurried.err;
  EXPECT_EQ(Replay(recording, "").status, 0);
  std::filesystem::remove(recording);
}

TEST(CliTrace, PollsMoreOrFewerThanRecordedPassOnlyWhenPollingIsLoose) {
  std::string plain = Record("plain.rec"), polled = Record("polled.rec", "--extra-polls 3");
  EXPECT_EQ(Replay(plain, "", "--extra-polls 3").status, 1);
  EXPECT_EQ(Replay(plain, "--loose-polling", "--extra-polls 3").status, 0);
  EXPECT_EQ(Replay(polled, "").status, 1);
  Outcome fewer = Replay(polled, "--loose-polling");
  EXPECT_EQ(fewer.status, 0) << fewer.err;
  // Loose polling does not pass a changed write.
  EXPECT_EQ(Replay(plain, "--loose-polling", "--changed").status, 1);
  std::filesystem::remove(plain);
  std::filesystem::remove(polled);
}

TEST(CliTrace, TraceNamesTheHardwareAndItsJsonHasOneObjectPerLine) {
  Outcome text = Ferrox("trace -- " + Session);
  ASSERT_EQ(text.status, 0) << text.err;
  for (const char* expected : {"open flags=0x0000 -> fd=", "(ata primary command: identify device)",
                               "(ata primary status: ready, data request)", "(parallel port 0x378 status: busy no",
                               "irq unmask line=7 signal=44", "signal signal=44 line=7 [cookie=",
                               "(revision id, programming interface, subclass, class)", "mem read phys=0x00000400",
                               "-> data=f8 03 f8 02"})
    EXPECT_NE(text.err.find(expected), std::string::npos) << expected;
  // A signal comes after the call during which it was raised: an access to the printer's port.
  std::size_t signal = text.err.find(" signal signal=44");
  std::size_t before = text.err.rfind('\n', text.err.rfind('\n', signal) - 1);
  EXPECT_NE(text.err.substr(before, signal - before).find("(parallel port 0x378"), std::string::npos);

  std::string file = cli::TempFile("trace.json").string();
  ASSERT_EQ(Ferrox("trace --json -o " + file + " -- " + Session).status, 0);
  std::vector<nlohmann::json> events = JsonLines(cli::ReadFile(file));
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.front()["event"], "open");
  EXPECT_EQ(events.back()["event"], "close");
  std::filesystem::remove(file);
}

// The virtual PC tries the kernel's signal path once with a signal of its own: that is no
// interrupt of the program's, so neither the live trace nor a recording (nor its replay) holds it.
// The session's interrupts carry the cookie its line was unmasked with (a token in a 64-bit
// process, the component's address in a 32-bit one).
TEST(CliTrace, TheVirtualPcsOwnSignalProbeIsNotTraced) {
  auto session_interrupt = [](const std::string& trace) {
    const std::string unmask = "irq unmask line=7 signal=44 [process=";
    std::size_t cookie = trace.find(" cookie=", trace.find(unmask));
    if (cookie == std::string::npos) return std::string("(no unmask of line 7)");
    return "signal signal=44 line=7 [" + trace.substr(cookie + 1, trace.find(']', cookie) - cookie);
  };
  Outcome live = Ferrox("trace -- " + Session);
  ASSERT_EQ(live.status, 0) << live.err;
  EXPECT_NE(live.err.find(session_interrupt(live.err)), std::string::npos) << live.err;
  EXPECT_EQ(live.err.find("cookie=0x5ec0ffee"), std::string::npos) << live.err;
  std::string recording = Record("probe.rec");
  Outcome listing = Ferrox("trace --from " + recording + " -o /dev/stdout");
  ASSERT_EQ(listing.status, 0) << listing.err;
  EXPECT_NE(listing.out.find(session_interrupt(listing.out)), std::string::npos) << listing.out;
  EXPECT_EQ(listing.out.find("cookie=0x5ec0ffee"), std::string::npos) << listing.out;
  std::filesystem::remove(recording);
}

// The layer reads records as the driver does: one out of reach is the driver's EFAULT, not a crash.
TEST(CliTrace, ARecordOutOfReachIsTheDriversFaultUnderTheTraceToo) {
  Outcome run = Ferrox("trace -- " + Session + " --unreadable-record");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "a record out of reach: EFAULT\n");
  EXPECT_NE(run.err.find("port in -> failed EFAULT"), std::string::npos) << run.err;
}

TEST(CliTrace, PortInstructionsTheVirtualPcTrapsAreTraced) {
  Outcome run = Ferrox("trace -- " + std::string(FERROX_TOOL) + " port read --direct 0x379");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("iopl level=3"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("trapped in port=0x0379 width=1 count=1 -> value="), std::string::npos) << run.err;
}

TEST(CliTrace, PortInstructionsReplayAsRecorded) {
  std::string recording = cli::TempFile("direct.rec").string();
  std::string write = std::string(FERROX_TOOL) + " port write --direct 0x378 ";
  ASSERT_EQ(Ferrox("record -o " + recording + " -- " + write + "0x55").status, 0);
  Outcome same = Ferrox("replay " + recording + " -- " + write + "0x55");
  EXPECT_EQ(same.status, 0) << same.err;
  Outcome changed = Ferrox("replay " + recording + " -- " + write + "0x56");
  EXPECT_EQ(changed.status, 1);
  EXPECT_NE(changed.err.find("expected: trapped out port=0x0378 width=1 count=1 value=0x55\n"
                             "  came:     trapped out port=0x0378 width=1 count=1 value=0x56"),
            std::string::npos)
      << changed.err;
  std::filesystem::remove(recording);
}

TEST(CliTrace, FaultsAreSaidAndFailTheCommand) {
  cli::ExpectFailure("trace -- /nonexistent/program", "cannot run /nonexistent/program: No such file or directory");
  std::string bad = cli::TempFile("bad.rec").string();
  std::ofstream(bad) << "not a recording";
  cli::ExpectFailure("replay " + bad + " -- " + Session, bad + ": not a ferrox recording");
  std::string truncated = Record("truncated.rec");
  std::filesystem::resize_file(truncated, std::filesystem::file_size(truncated) - 3);
  cli::ExpectFailure("replay " + truncated + " -- " + Session, truncated + ": event ");
  EXPECT_NE(Ferrox("replay " + truncated + " -- " + Session).err.find("the recording ends inside the event"), std::string::npos);
  cli::ExpectUsageFault("trace", "trace: give a program after --, or --from RECORDING");
  std::filesystem::remove(bad);
  std::filesystem::remove(truncated);
}

}  // namespace

namespace {

// A recording is read whole: only from a regular file or a pipe, and no further than a recording
// can reach, so that a directory, a device or an endless pipe is a fault, not a crash or a
// memory that grows without end.
TEST(CliTrace, RecordingsAreReadOnlyFromFilesAndPipesAndWithinBounds) {
  std::string directory = testing::TempDir();
  cli::ExpectFailure("trace --from " + directory, directory + ": cannot be read: it is a directory");
  cli::ExpectFailure("replay " + directory + " -- /bin/true", directory + ": cannot be read: it is a directory");
  cli::ExpectFailure("trace --from /dev/zero", "/dev/zero: cannot be read: it is neither a regular file nor a pipe");
  cli::ExpectFailure("lpt print /dev/zero", "cannot read /dev/zero: it is neither a regular file nor a pipe");
  Outcome endless = cli::Shell("head -c 300M /dev/zero | " + std::string(FERROX_TOOL) + " trace --from -");
  EXPECT_EQ(endless.status, 1);
  EXPECT_NE(endless.err.find("ferrox: standard input: cannot be read: it is longer than 256 MiB"), std::string::npos)
      << endless.err;

  std::string recording = Record("piped.rec");
  Outcome piped = cli::Shell(std::string(FERROX_TOOL) + " trace --from - < " + recording);
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, Ferrox("trace --from " + recording).out);
  EXPECT_NE(piped.out.find("open flags="), std::string::npos) << piped.out;
  std::filesystem::remove(recording);
}

}  // namespace

namespace {

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A strobe waits for the printer with a thousand identical writes of the control register: one
// line with their count, unless every call is asked for; calls that differ stay apart.
TEST(CliTrace, RunsOfIdenticalCallsAreOneLineUnlessAllAreAsked) {
  std::string program = std::string(FERROX_TOOL) + " lpt strobe";
  Outcome folded = Ferrox("trace -- " + program);
  ASSERT_EQ(folded.status, 0) << folded.err;
  Outcome every = Ferrox("trace --all -- " + program);
  ASSERT_EQ(every.status, 0) << every.err;
  std::size_t writes = Count(every.err, "port out port=0x037a");
  EXPECT_GT(writes, 100u) << every.err;
  EXPECT_EQ(Count(every.err, "\u00d7"), 0u);
  EXPECT_LT(Count(folded.err, "port out port=0x037a"), 10u) << folded.err;
  std::size_t run = folded.err.find("\u00d7");
  ASSERT_NE(run, std::string::npos) << folded.err;
  std::size_t line = folded.err.rfind('\n', run) + 1;
  EXPECT_NE(folded.err.substr(line, run - line).find("port out port=0x037a"), std::string::npos) << folded.err;
  // The counts of the runs and the lines left alone add up to every call.
  std::size_t counted = 0;
  std::istringstream lines(folded.err);
  for (std::string text; std::getline(lines, text);) {
    if (text.find("port out port=0x037a") == std::string::npos) continue;
    std::size_t times = text.find("\u00d7");
    counted += times == std::string::npos ? 1 : std::stoul(text.substr(times + 2));
  }
  EXPECT_EQ(counted, writes);
}

// On standard error the trace shares the stream with the program: its lines are marked, and its
// JSON, which a line of the program's would break, goes only to a file.
TEST(CliTrace, ATraceOnStandardErrorIsMarkedAndItsJsonNeedsAFile) {
  Outcome run = Ferrox("trace -- sh -c 'echo the program speaks >&2; exec " + std::string(FERROX_TOOL) +
                       " port read 0x379'");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("\nthe program speaks\n"), std::string::npos) << run.err;
  std::istringstream lines(run.err);
  std::size_t marked = 0;
  for (std::string line; std::getline(lines, line);)
    if (line.find("port in port=0x0379") != std::string::npos || line.find("open flags=") != std::string::npos) {
      EXPECT_EQ(line.rfind("[trace] ", 0), 0u) << line;
      ++marked;
    }
  EXPECT_GE(marked, 2u) << run.err;
  cli::ExpectUsageFault("trace --json -- " + Session, "trace --json needs -o FILE");
  std::string file = cli::TempFile("unmarked.trace").string();
  ASSERT_EQ(Ferrox("trace -o " + file + " -- " + Session).status, 0);
  EXPECT_EQ(cli::ReadFile(file).find("[trace]"), std::string::npos) << "a file holds the trace alone";
  std::filesystem::remove(file);
}

// A recording from standard input replays as from its file, and the copy the program's virtual PC
// read it from is gone afterwards.
TEST(CliTrace, ARecordingOnStandardInputReplays) {
  std::string recording = Record("stdin.rec");
  std::filesystem::path scratch = cli::TempFile("replay_tmp");
  std::filesystem::create_directories(scratch);
  Outcome run = cli::Shell("TMPDIR=" + scratch.string() + " " + FERROX_TOOL + " --virtual replay --loose-timing - -- " +
                           Session + " < " + recording);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("calls of standard input\n"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("printed 13 bytes on interrupts"), std::string::npos) << run.out;
  EXPECT_TRUE(std::filesystem::is_empty(scratch));
  Outcome changed = cli::Shell(std::string(FERROX_TOOL) + " --virtual replay --loose-timing - -- " + Session +
                               " --changed < " + recording);
  EXPECT_EQ(changed.status, 1);
  EXPECT_NE(changed.err.find("ferrox: replay: diverged at call #"), std::string::npos) << changed.err;
  Outcome empty = cli::Shell("printf '' | " + std::string(FERROX_TOOL) + " --virtual replay - -- " + Session);
  EXPECT_EQ(empty.status, 1);
  EXPECT_NE(empty.err.find("ferrox: standard input: not a ferrox recording"), std::string::npos) << empty.err;
  std::filesystem::remove_all(scratch);
  std::filesystem::remove(recording);
}

}  // namespace
