// Accidents around a run of tessaro-sim: the host dying after any event of
// an update, the process killed at random moments, several runs at once
// against one controller, and a state that cannot be saved. Whatever
// happens, the simulator's files stay whole and the same job run again
// finishes the work.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <random>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "sim/state.h"
#include "tests/e2e/jobs_support.h"
#include "tests/support/temp_dir.h"
#include "tools/image_builder.h"
#include "tools/make-samples.h"

namespace tessaro::e2e {
namespace {

// As a shell shows a process that ended with SIGKILL.
constexpr int kKilledExitCode = 137;
constexpr int kStateFailureExitCode = 156;  // -100
// The busy line, in the build's text mode.
std::regex BusyLine() {
  return std::regex(TextMode("error     : controller in use by another process( \\(pid ([0-9]+)\\))?, nothing sent\n"));
}

// Three needed sub-firmwares of a few reports each, so that cuts also fall
// inside register writes; the first carries the identity that the restart
// takes as the new VID.
std::string SmallFirmware() {
  testing::FwImageSpec spec;
  spec.pidField = "TS01";
  spec.vid = {0x01, 0x00, 0x00, 0x07};
  spec.subs = {testing::MakeSubFirmware(2, 120, 0x0000, 1), testing::MakeSubFirmware(6, 130, 0x0100, 2),
               testing::MakeSubFirmware(11, 140, 0x0200, 3)};
  spec.subs[0].data.replace(0, 8, std::string("TS01\x01\x00\x00\x07", 8));
  return testing::BuildFwImage(spec);
}

// A newer configuration of two write reports.
std::string Config() {
  std::vector<uint8_t> body = {0x00, 0x7B};
  for (uint8_t i = 1; i <= 80; ++i) body.push_back(i);
  return testing::CfgText(testing::BalancedCfgBytes(0x85, body));
}

struct Job {
  const char* name;
  std::vector<std::string> args;
  InputFile file;
  // The flash file and configuration version once the job is done.
  std::string flash;
  uint8_t configVersion;
};

Job FirmwareJob(const std::string& image) {
  return {"firmware", {"-f", "--file", "fw.bin"}, {"fw.bin", image}, ExpectedFlash(image, 0x844), 0x84};
}
Job ConfigJob() { return {"config", {"-c", "--file", "cfg.txt"}, {"cfg.txt", Config()}, "", 0x85}; }

bool ParseSimState(const std::string& text, sim::State& state) {
  std::string error;
  state = sim::FactoryState(0);
  return sim::ParseState(text, state, error);
}

// Trace lines that stand for a HID event: what killAfterEvents counts.
size_t HidEvents(const RunResult& run) {
  size_t count = 0;
  for (const std::string& line : TraceLines(run)) {
    for (const char* kind : {"walk", "open ", "close ", "out ", "out-failed ", "in ", "in-failed"}) {
      if (line.rfind(kind, 0) == 0) {
        ++count;
        break;
      }
    }
  }
  return count;
}

// What a cut left is whole: the state parses, the flash holds nothing but
// bytes of the image. Run again, the same job succeeds; the controller sees
// nothing against its protocol but the write that the cut broke off.
void ExpectRerunFinishes(const RunResult& cut, const Job& job) {
  sim::State state;
  ASSERT_TRUE(ParseSimState(cut.ReadFile(kStateFile), state)) << cut.ReadFile(kStateFile);
  const std::string flash = cut.ReadFile(kFlashFile);
  ASSERT_LE(flash.size(), job.flash.size());
  for (size_t i = 0; i < flash.size(); ++i) {
    ASSERT_TRUE(flash[i] == job.flash[i] || flash[i] == '\xFF') << "flash byte " << i;
  }

  // A configuration already taken before the cut is not needed again: the
  // job says so with -6, its answer to an up-to-date controller.
  const bool configTaken = job.flash.empty() && !state.config.empty() && state.config[0] == job.configVersion;
  const RunResult rerun = RunIn(cut, job.args);
  EXPECT_EQ(rerun.exitCode, configTaken ? ExitCode(-6) : 0) << rerun.out << rerun.err;
  for (const std::string& line : TraceLines(rerun)) {
    if (line.rfind("violation", 0) == 0) {
      EXPECT_NE(line.find("broken off"), std::string::npos) << line;
    }
  }
  EXPECT_EQ(rerun.ReadFile(kFlashFile), job.flash);
  ASSERT_TRUE(ParseSimState(rerun.ReadFile(kStateFile), state));
  EXPECT_EQ(state.mode, sim::Mode::kNormal);
  ASSERT_FALSE(state.config.empty());
  EXPECT_EQ(state.config[0], job.configVersion);
  EXPECT_EQ(state.faults.killAfterEvents, 0u);
}

// The mode the controller is in after the mode commands of a trace.
sim::Mode ModeAfter(const std::vector<std::string>& trace) {
  sim::Mode mode = sim::Mode::kNormal;
  for (const std::string& line : trace) {
    if (line.rfind("out 0e10", 0) == 0) mode = sim::Mode::kPatch;
    if (line.rfind("out 0e11", 0) == 0) mode = sim::Mode::kUpdateProgram;
    if (line.rfind("out 0e13", 0) == 0) mode = sim::Mode::kNormal;
  }
  return mode;
}

// The firmware job's first report that changes the controller.
constexpr const char kPatchModeCommand[] = "out 0e10";

bool TraceHas(const RunResult& run, const std::string& prefix) {
  const std::vector<std::string> trace = TraceLines(run);
  return std::any_of(trace.begin(), trace.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
}

// Polls the trace of a run under way in `folder` until it shows an event.
bool AwaitTraceLine(const RunResult& folder, const std::string& prefix) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!TraceHas(folder, prefix)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

class CutAfterEveryEvent : public ::testing::TestWithParam<bool> {};

// The host dies right after the Nth event, for every N of the whole job.
TEST_P(CutAfterEveryEvent, RerunFinishesTheJob) {
  const Job job = GetParam() ? FirmwareJob(SmallFirmware()) : ConfigJob();
  const RunResult whole = RunSim(job.args, {SimState(), job.file});
  ASSERT_EQ(whole.exitCode, 0) << whole.out;
  const size_t events = HidEvents(whole);
  ASSERT_GT(events, 10u);
  for (size_t n = 1; n <= events; ++n) {
    SCOPED_TRACE(std::string(job.name) + " cut after event " + std::to_string(n));
    const RunResult cut =
        RunSim(job.args, {SimState("\"faults\": {\"killAfterEvents\": " + std::to_string(n) + "}"), job.file});
    ASSERT_EQ(cut.exitCode, kKilledExitCode) << cut.out << cut.err;
    EXPECT_EQ(HidEvents(cut), n);
    sim::State state;
    ASSERT_TRUE(ParseSimState(cut.ReadFile(kStateFile), state));
    // The mode is kept as the last completed event left it.
    EXPECT_EQ(state.mode, ModeAfter(TraceLines(cut)));
    ExpectRerunFinishes(cut, job);
  }
}

INSTANTIATE_TEST_SUITE_P(Sim, CutAfterEveryEvent, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "Firmware" : "Config");
                         });

// A larger update killed from outside at random moments.
TEST(RandomKills, RerunFinishesTheJob) {
  if (IsWindowsBuild()) GTEST_SKIP() << "SIGKILL of the program itself: native runs only";
  std::vector<testing::SubFirmware> subs = {testing::MakeSubFirmware(2, 9000, 0x0000, 1),
                                            testing::MakeSubFirmware(6, 5000, 0x0100, 2),
                                            testing::MakeSubFirmware(11, 7000, 0x0200, 3)};
  subs[0].data.replace(0, 8, std::string("TS01\x01\x00\x00\x07", 8));
  subs[1].flashAddress = 0x24;
  subs[2].flashAddress = 0x38;
  testing::FwImageSpec spec;
  spec.pidField = "TS01";
  spec.vid = {0x01, 0x00, 0x00, 0x07};
  spec.subs = subs;
  const Job job = FirmwareJob(testing::BuildFwImage(spec));

  // Kills are aimed at the update itself: each round waits for the
  // patch-mode command, the first report that changes the controller, then
  // kills at a random moment within the shortest update of three whole runs.
  // Kills before it are the cuts after every event above.
  auto updateUs = std::chrono::microseconds::max();
  for (int run = 0; run < 3; ++run) {
    const RunResult folder = Folder({SimState(), job.file});
    StartedRun whole = Start(folder, job.args);
    ASSERT_TRUE(AwaitTraceLine(folder, kPatchModeCommand));
    const auto begun = std::chrono::steady_clock::now();
    ASSERT_EQ(whole.Wait().exitCode, 0);
    updateUs = std::min(updateUs, std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - begun));
  }

  std::mt19937 random(20261208);
  std::uniform_int_distribution<int64_t> moment(0, updateUs.count());
  int killedMidway = 0;
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const RunResult folder = Folder({SimState(), job.file});
    StartedRun run = Start(folder, job.args);
    ASSERT_TRUE(AwaitTraceLine(folder, kPatchModeCommand));
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    run.Signal(SIGKILL);
    const RunResult cut = run.Wait();
    // Counted only as the trace shows it: the update had begun, and the
    // process died of the kill rather than at its own end.
    if (cut.signal == SIGKILL && TraceHas(cut, kPatchModeCommand)) ++killedMidway;
    ExpectRerunFinishes(cut, job);
    if (HasFailure()) return;
  }
  // Most kills land inside the update, however busy the machine; a few
  // after its end are fine.
  EXPECT_GT(killedMidway, 100);
}

// Reads the state file over and over while runs share a folder, counting
// the times it was not a whole state.
class StateWatcher {
 public:
  explicit StateWatcher(const RunResult& folder)
      : thread_([this, path = folder.dir() + "/" + kStateFile] {
          sim::State state;
          while (!done_) {
            if (!ParseSimState(testing::ReadFileBytes(path), state)) ++halfWritten_;
          }
        }) {}
  ~StateWatcher() { Stop(); }
  int Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
    return halfWritten_;
  }

 private:
  std::atomic<bool> done_{false};
  std::atomic<int> halfWritten_{0};
  std::thread thread_;
};

// A firmware job holds the controller; a query and a configuration job
// started meanwhile are told it is busy and send nothing, and no file is
// ever seen half-written. The firmware job is stopped inside its update (in
// its wait after the patch-mode command), so that the others meet it there
// however the machine schedules the three; continued, it finishes.
TEST(RunsAtOnce, OneJobHoldsTheControllerAtATime) {
  const Job firmware = FirmwareJob(SmallFirmware());
  const Job config = ConfigJob();
  const RunResult folder = Folder({SimState(), firmware.file, config.file});
  StateWatcher watcher(folder);
  StartedRun holder = Start(folder, firmware.args);
  EXPECT_TRUE(AwaitTraceLine(folder, "sleep 250"));
  holder.Signal(SIGSTOP);
  const std::vector<std::string> heldTrace = TraceLines(folder);
  ASSERT_NE(ModeAfter(heldTrace), sim::Mode::kNormal) << "the firmware job was not stopped inside its update";

  std::vector<StartedRun> others;
  others.push_back(Start(folder, {"-p", "vid"}));
  others.push_back(Start(folder, config.args));
  const std::vector<std::string> entries = {"", "update configuration, file name:cfg.txt\n"};
  for (size_t i = 0; i < others.size(); ++i) {
    const RunResult result = others[i].Wait();
    SCOPED_TRACE(result.out + result.err);
    std::smatch busy;
    const std::string rest = result.out.substr(std::min(result.out.size(), TextMode(entries[i]).size()));
    ASSERT_TRUE(std::regex_match(rest, busy, BusyLine()));
    EXPECT_EQ(result.exitCode, ExitCode(-1));
    // The holder is alive, so natively it is named.
    if (!IsWindowsBuild()) {
      ASSERT_TRUE(busy[2].matched);
      EXPECT_EQ(busy[2].str(), std::to_string(holder.pid()));
    }
  }
  EXPECT_EQ(TraceLines(folder), heldTrace) << "a busy run reached the controller";

  holder.Signal(SIGCONT);
  const RunResult held = holder.Wait();
  EXPECT_EQ(held.exitCode, 0) << held.out << held.err;
  EXPECT_EQ(folder.ReadFile(kFlashFile), firmware.flash);
  EXPECT_EQ(folder.ReadFile(kTraceFile).find("violation"), std::string::npos);
  // Free again: the configuration job now goes through.
  const RunResult after = RunIn(folder, config.args);
  EXPECT_EQ(after.exitCode, 0) << after.out << after.err;
  sim::State state;
  ASSERT_TRUE(ParseSimState(folder.ReadFile(kStateFile), state));
  EXPECT_EQ(state.vid, (std::array<uint8_t, 4>{0x01, 0x00, 0x00, 0x07}));
  ASSERT_FALSE(state.config.empty());
  EXPECT_EQ(state.config[0], 0x85);
  EXPECT_EQ(watcher.Stop(), 0);
}

// A state that cannot be saved ends the run with the simulator's failure
// code and one line, never with a silent success; the files stay as they were.
struct UnsavableCase {
  const char* name;
  std::string file;  // made read-only, or replaced by a FIFO
  bool fifo;
  std::string line;
};

void PrintTo(const UnsavableCase& c, std::ostream* out) { *out << c.name; }

class UnsavableState : public ::testing::TestWithParam<UnsavableCase> {};

TEST_P(UnsavableState, EndsTheRunBeforeAnyReport) {
  if (IsWindowsBuild()) GTEST_SKIP() << "FIFOs and permission bits: native runs only";
  const UnsavableCase& c = GetParam();
  const RunResult folder = Folder({SimState(), {"fw.bin", SmallFirmware()}});
  const std::string path = folder.dir() + "/" + c.file;
  if (c.fifo) {
    std::remove(path.c_str());
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  } else {
    testing::WriteFileBytes(path, c.file == kStateFile ? SimState().bytes : "");
    chmod(path.c_str(), 0444);
  }
  const RunResult run = RunIn(folder, {"-f", "--file", "fw.bin"});
  EXPECT_EQ(run.exitCode, kStateFailureExitCode) << run.out;
  EXPECT_EQ(run.err, c.line);
  EXPECT_EQ(run.out, "update firmware, file name:fw.bin\n");
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(S_ISFIFO(status.st_mode), c.fifo);
  if (c.file != kTraceFile && run.HasFile(kTraceFile)) {
    EXPECT_EQ(run.ReadFile(kTraceFile).find("out "), std::string::npos);
  }
  if (c.file != kStateFile) {
    EXPECT_EQ(run.ReadFile(kStateFile), SimState().bytes);
  }
}

const UnsavableCase kUnsavable[] = {
    {"ReadOnlyState", kStateFile, false, "tessaro-sim.json: read-only, cannot be written\n"},
    {"ReadOnlyFlash", kFlashFile, false, "tessaro-sim.flash: read-only, cannot be written\n"},
    {"FifoAtTheState", kStateFile, true, "tessaro-sim.json: not a regular file\n"},
    {"FifoAtTheFlash", kFlashFile, true, "tessaro-sim.flash: not a regular file\n"},
    {"FifoAtTheTrace", kTraceFile, true, "tessaro-sim.trace: not a regular file\n"},
};

INSTANTIATE_TEST_SUITE_P(Sim, UnsavableState, ::testing::ValuesIn(kUnsavable),
                         [](const ::testing::TestParamInfo<UnsavableCase>& info) {
                           return std::string(info.param.name);
                         });

// A disk that fills up in the middle of an update: the run ends at the
// event that could not be saved, with what was saved before it whole.
TEST(FullDisk, EndsTheRunAtTheEventThatCannotBeSaved) {
  if (IsWindowsBuild()) GTEST_SKIP() << "a file size limit: native runs only";
  const Job job = FirmwareJob(samples::SampleFirmwareImage());
  const RunResult folder = Folder({SimState(), job.file});
  const RunResult run = Start(folder, job.args, Program::kSim, 16 * 1024).Wait();
  EXPECT_EQ(run.exitCode, kStateFailureExitCode) << run.out;
  // The trace, a record and not the controller, may have hit the limit first.
  const std::string line = "tessaro-sim.flash: cannot be written\n";
  ASSERT_GE(run.err.size(), line.size()) << run.err;
  EXPECT_EQ(run.err.substr(run.err.size() - line.size()), line);
  sim::State state;
  ASSERT_TRUE(ParseSimState(run.ReadFile(kStateFile), state));
  EXPECT_EQ(state.mode, sim::Mode::kUpdateProgram);
  const std::string flash = run.ReadFile(kFlashFile);
  EXPECT_LE(flash.size(), 16u * 1024);
  EXPECT_EQ(flash, job.flash.substr(0, flash.size()));
  ExpectRerunFinishes(run, job);
}

}  // namespace
}  // namespace tessaro::e2e
