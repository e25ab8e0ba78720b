// TESSARO_RESULT and TESSARO_TRACE on tessaro-sim: the result file for every
// outcome, its replacement in one step, the trace against the simulator's
// own, and a run that is byte for byte the same with or without them. These
// also run against the Windows programs under Wine, where the same files are
// expected.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "base/sha256.h"
#include "tests/e2e/jobs_support.h"
#include "tests/support/temp_dir.h"
#include "tools/make-samples.h"

namespace tessaro::e2e {
namespace {

using Json = nlohmann::json;

const std::vector<std::string> kBoth = {"TESSARO_RESULT=result.json", "TESSARO_TRACE=field.trace"};
// Free text as a production line would give it, quotes and all.
const std::vector<std::string> kFiled = {"TESSARO_RESULT=result.json", "TESSARO_STATION=line 3 \"east\"\\bay",
                                         "TESSARO_UNIT=SN-0042 \xc3\xa9"};
const std::string kFirstCollection = "\\\\?\\hid#tessaro-sim&col01";

// The result file, kept for the schema check.
Json ResultOf(const RunResult& run) { return Json::parse(KeepForSchemaCheck(run.ReadFile("result.json"))); }

// Every member of `expected` is in `actual` with the same value; objects are
// compared member by member, so a case names only what it is about.
void ExpectContains(const Json& actual, const Json& expected, const std::string& where = "") {
  for (auto it = expected.begin(); it != expected.end(); ++it) {
    const std::string key = where + "/" + it.key();
    if (!actual.contains(it.key())) {
      ADD_FAILURE() << "missing " << key;
    } else if (it->is_object()) {
      ExpectContains(actual[it.key()], *it, key);
    } else {
      EXPECT_EQ(actual[it.key()], *it) << key;
    }
  }
}

std::string Sha256Of(const std::string& bytes) {
  return Sha256Hex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string WithoutViolations(const std::string& trace) {
  std::string kept;
  for (const std::string& line : testing::SplitLines(trace)) {
    if (line.rfind("violation ", 0) != 0) kept += line + "\n";
  }
  return kept;
}

// The trace without the look the recorded run takes past the controller it
// took, to name every match: each collection there opened and closed at once
// (never sent a report).
std::string WithoutMatchesListing(const std::string& trace) {
  const std::vector<std::string> lines = testing::SplitLines(trace);
  std::string kept;
  bool taken = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const bool opens = lines[i].rfind("open ", 0) == 0;
    const bool closedAtOnce = opens && i + 1 < lines.size() && lines[i + 1] == "close " + lines[i].substr(5);
    if (taken && closedAtOnce) {
      ++i;
      continue;
    }
    taken = taken || (opens && !closedAtOnce);
    if (taken && !opens) taken = false;
    kept += lines[i] + "\n";
  }
  return kept;
}

struct OutcomeCase {
  const char* outcome;
  std::vector<std::string> args;
  std::vector<InputFile> files;
  Json expected;
};

TEST(RunRecords, ResultFileForEveryOutcome) {
  const std::string firmware = samples::SampleFirmwareImage();
  std::string badChecksum = firmware;
  badChecksum[300] = static_cast<char>(badChecksum[300] ^ 0x01);
  const std::vector<OutcomeCase> cases = {
      {"read", {"-p", "vid"}, {SimState(R"("vid": "FFFFFFFF")")},
       {{"job", "query"}, {"result", -1}, {"exitCode", 255},
        {"property", {{"name", "vid"}, {"vid", "ff ff ff ff"}, {"vidNumber", 4294967295u}}}}},
      {"read", {"--prop", "CfgVer"}, {SimState(R"("config": "FF0001")")},
       {{"result", 255}, {"exitCode", 255}, {"options", {{"prop", "CfgVer"}}},
        {"property", {{"name", "cfgver"}, {"cfgVersion", 255}}}}},
      {"updated", {"-f", "--file", "fw.bin"}, {SimState(), SampleFirmware()},
       {{"job", "firmware"}, {"result", 0}, {"controller", kFirstCollection},
        {"options", {{"file", "fw.bin"}, {"flag", 2116}, {"ignoreVer", false}}},
        {"before", {{"pid", "TS01"}, {"vid", "01 00 00 01"}, {"vidNumber", 0x01000001}, {"sensorId", 3}}},
        {"after", {{"vid", "01 00 00 02"}}},
        {"file", {{"name", "fw.bin"}, {"size", firmware.size()}, {"sha256", Sha256Of(firmware)}}},
        {"image", {{"pid", "TS01"}, {"vid", "01 00 00 02"}}},
        {"lastMessage", "info      : Update Firmware Success,VID after update:01 00 00 02"}, {"lastError", nullptr}}},
      {"updated", {"-c", "--file", "cfg.txt"}, {SimState(), SampleConfig()},
       {{"job", "config"}, {"before", {{"cfgVersion", 0x84}, {"headIntact", true}}},
        {"after", {{"cfgVersion", 0x85}}}, {"image", {{"cfgVersion", 0x85}}}}},
      {"not-needed-other-pid", {"-f", "--file", "fw.bin"}, {SimState(R"("pid": "TS02")"), SampleFirmware()},
       {{"result", 0}, {"before", {{"pid", "TS02"}}}, {"image", {{"pid", "TS01"}}}}},
      {"not-needed-same-vid", {"-f", "--file", "fw.bin"}, {SimState(R"("vid": "01000002")"), SampleFirmware()},
       {{"result", 0}, {"lastMessage", "info      : Doesn't meet the update conditions"}}},
      {"not-needed-version", {"-c", "--file", "cfg.txt"}, {SimState(R"("config": "FF0001")"), SampleConfig()},
       {{"result", -6}, {"exitCode", 250}, {"before", {{"cfgVersion", 255}}}}},
      {"failed", {"-f", "--file", "fw.bin"},
       {SimState(R"("faults": {"commandFailures": {"10": 3}})"), SampleFirmware()},
       {{"result", -2}, {"exitCode", 254}, {"lastError", "error     : Update fw finish ERROR"}}},
      {"no-controller", {"-p", "sensorid"}, {SimState(R"("present": false)")},
       {{"result", 255}, {"lastError", "error     : open TLC failed"}, {"controller", nullptr}}},
      {"refused-file", {"-c", "--file", "missing.txt"}, {SimState()},
       {{"result", -2}, {"before", {{"cfgVersion", 0x84}}}}},
      {"refused-file", {"-f", "--file", "fw.bin"}, {SimState(), {"fw.bin", badChecksum}},
       {{"result", -2}, {"file", {{"size", badChecksum.size()}, {"sha256", Sha256Of(badChecksum)}}}}},
      // A mask without Q5: refused before the controller hears of it.
      {"refused-file", {"-f", "--file", "fw.bin", "--flag=68"}, {SimState(), SampleFirmware()},
       {{"result", -1}, {"lastError", "error     : Q5 didn't been update"}, {"options", {{"flag", 68}}}}},
      {"refused-options", {"-f", "-c", "--file", "fw.bin"}, {},
       {{"job", nullptr}, {"result", 1}, {"lastMessage", "Firmware and config can't be upgraded at the same time"}}},
      {"refused-options", {"-f"}, {}, {{"result", -1}, {"exitCode", 255}, {"lastMessage", "file name is NULL"}}},
      {"unknown-property", {"-p", "sensor"}, {}, {{"job", "query"}, {"result", 0}}},
      {"no-job", {"--file", "fw.bin"}, {}, {{"job", nullptr}, {"result", 0}}},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(std::string(c.outcome) + " " + c.args.back());
    const RunResult run = RunSim(c.args, c.files, kFiled);
    ASSERT_TRUE(run.HasFile("result.json"));
    const Json result = ResultOf(run);
    EXPECT_EQ(result["schema"], 1);
    EXPECT_EQ(result["program"], "tessaro-sim");
    EXPECT_EQ(result["station"], "line 3 \"east\"\\bay");
    EXPECT_EQ(result["unit"], "SN-0042 \xc3\xa9");
    EXPECT_EQ(result["version"], "1.0.1.3");
    EXPECT_EQ(result["outcome"], c.outcome);
    EXPECT_EQ(result["exitCode"], run.exitCode);
    EXPECT_TRUE(result["start"].is_string() && result["durationMs"].is_number_integer());
    ExpectContains(result, c.expected);
    // No new file is left behind beside the result.
    for (const std::string& name : run.Files()) EXPECT_EQ(name.find(".new"), std::string::npos) << name;
  }
}

// Another process holds the controller (here: the simulator's lock on its
// flash file, taken by the test): the job sends nothing and says busy.
TEST(RunRecords, BusyControllerEndsAsBusy) {
  if (IsWindowsBuild()) GTEST_SKIP() << "the lock is taken with flock: native runs only";
  const RunResult folder = Folder({SimState(), {kFlashFile, ""}});
  const int fd = open((folder.dir() + "/" + kFlashFile).c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  setenv("TESSARO_RESULT", "result.json", 1);
  const RunResult run = RunIn(folder, {"-f", "--file", "fw.bin"});
  unsetenv("TESSARO_RESULT");
  close(fd);
  const Json result = ResultOf(run);
  EXPECT_EQ(result["outcome"], "busy");
  EXPECT_EQ(result["result"], -1);
  EXPECT_EQ(result["lastError"],
            "error     : controller in use by another process (pid " + std::to_string(getpid()) + "), nothing sent");
}

// A run cut short leaves no result rather than an earlier run's.
TEST(RunRecords, KilledRunLeavesNoEarlierResult) {
  if (IsWindowsBuild()) GTEST_SKIP() << "SIGKILL of the program itself: native runs only";
  // Real time: the absent controller's first 2000 ms wait, after the first
  // walk, is where the kill lands, however slowly the program starts.
  const RunResult folder =
      Folder({{kStateFile, "{\"present\": false}\n"},
              {"result.json", R"({"program": "tessaro-sim", "outcome": "read", "result": 0, "exitCode": 0})"}});
  setenv("TESSARO_RESULT", "result.json", 1);
  StartedRun run = Start(folder, {"-p", "vid"});
  unsetenv("TESSARO_RESULT");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (TraceLines(folder).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  run.Signal(SIGKILL);
  const RunResult cut = run.Wait();
  EXPECT_EQ(cut.signal, SIGKILL);
  EXPECT_FALSE(cut.HasFile("result.json"));
}

// After a run that updated, --version and usage leave no result, as they
// leave no log, and a command line the parser refuses leaves its own: none
// of them leaves the earlier one standing.
TEST(RunRecords, NoEarlierResultOutlivesAnEndedCommandLine) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"-v"}, {"-?"}, {"--bogus"}}) {
    SCOPED_TRACE(args[0]);
    const RunResult folder = Folder({SimState(), SampleFirmware()});
    setenv("TESSARO_RESULT", "result.json", 1);
    const RunResult updated = RunIn(folder, {"-f", "--file", "fw.bin"});
    ASSERT_EQ(ResultOf(updated)["outcome"], "updated");
    const RunResult run = RunIn(folder, args);
    unsetenv("TESSARO_RESULT");
    if (args[0] != "--bogus") {
      EXPECT_FALSE(run.HasFile("result.json"));
      continue;
    }
    const Json result = ResultOf(run);
    EXPECT_EQ(result["outcome"], "refused-options");
    EXPECT_EQ(result["result"], 1);
    EXPECT_EQ(result["exitCode"], run.exitCode);
    EXPECT_TRUE(result["options"].is_null());
    EXPECT_EQ(TextMode(result["lastMessage"].get<std::string>() + "\n"), run.err.substr(0, run.err.find('\n') + 1));
  }
}

// TESSARO_RESULT naming anything but an earlier result (a folder, the log,
// the image the job reads, any other file) leaves it as it was: one line on
// standard error, no result, and the run as it is without the variable.
TEST(RunRecords, OnlyAnEarlierResultIsReplaced) {
  const std::string firmware = samples::SampleFirmwareImage();
  const std::vector<std::pair<std::string, std::vector<InputFile>>> cases = {
      {"folder", {{"folder/kept.txt", "x"}}},
      {kLogFile, {{kLogFile, "an earlier run's log\n"}}},
      {"fw.bin", {}},
      {"notes.json", {{"notes.json", "{\"outcome\": \"updated\"}\n"}}},
  };
  for (const auto& [name, extra] : cases) {
    SCOPED_TRACE(name);
    std::vector<InputFile> files = {SimState(), SampleFirmware()};
    files.insert(files.end(), extra.begin(), extra.end());
    const RunResult plain = RunSim({"-f", "--file", "fw.bin"}, files);
    const RunResult run = RunSim({"-f", "--file", "fw.bin"}, files, {"TESSARO_RESULT=" + name});
    EXPECT_EQ(run.err, TextMode(name + ": not a result file, left as it is; no result is written\n"));
    EXPECT_EQ(run.out, plain.out);
    EXPECT_EQ(run.exitCode, plain.exitCode);
    EXPECT_EQ(run.ReadFile("fw.bin"), firmware);
    if (name == "folder") {
      EXPECT_EQ(run.ReadFile("folder/kept.txt"), "x");
    } else if (name == "notes.json") {
      EXPECT_EQ(run.ReadFile(name), extra[0].bytes);
    } else if (name == kLogFile) {
      EXPECT_EQ(MaskTimestamps(run.ReadFile(kLogFile)), MaskTimestamps(plain.ReadFile(kLogFile)));
    }
  }
}

// What a run shows is the same with both variables as without, and the field
// trace is the simulator's own without its violation lines.
TEST(RunRecords, SameRunWithAndWithoutTheVariables) {
  const std::vector<std::pair<std::vector<std::string>, std::vector<InputFile>>> runs = {
      {{"-f", "--file", "fw.bin", "-d"}, {SimState(), SampleFirmware()}},
      {{"-c", "--file", "cfg.txt"}, {SimState(R"("faults": {"refuse": {"cfgFinish": 2}})"), SampleConfig()}},
      {{"-p", "vid"}, {SimState(R"("faults": {"readFailures": {"8240": 5}})")}},
      {{"-p", "pid"}, {SimState(R"("present": false)")}},
      {{"-p", "cfgver"}, {SimState(R"("otherCollections": 2, "matchingCollections": 2)")}},
      {{"-c", "-f", "--file", "x"}, {}},
  };
  for (const auto& [args, files] : runs) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    const RunResult plain = RunSim(args, files);
    const RunResult recorded = RunSim(args, files, kBoth);
    EXPECT_EQ(recorded.out, plain.out);
    EXPECT_EQ(recorded.err, plain.err);
    EXPECT_EQ(recorded.exitCode, plain.exitCode);
    EXPECT_EQ(LogFile(recorded), LogFile(plain));
    // The record's list of matches looks at the collections past the one
    // taken; nothing else on the wire differs.
    EXPECT_EQ(WithoutMatchesListing(recorded.ReadFile(kTraceFile)), plain.ReadFile(kTraceFile));
    EXPECT_EQ(recorded.ReadFile(kStateFile), plain.ReadFile(kStateFile));
    EXPECT_EQ(recorded.HasFile("field.trace"), plain.HasFile(kTraceFile));
    EXPECT_EQ(WithoutMatchesListing(recorded.ReadFile("field.trace")), WithoutViolations(plain.ReadFile(kTraceFile)));
  }
}

// A path that cannot be written costs one line on standard error, with the
// system's reason, and nothing else.
TEST(RunRecords, UnwritablePathsWarnOnce) {
  const RunResult plain = RunSim({"-f", "--file", "fw.bin"}, {SimState(), SampleFirmware()});
  const RunResult recorded = RunSim({"-f", "--file", "fw.bin"}, {SimState(), SampleFirmware()},
                                    {"TESSARO_RESULT=no/such/dir/result.json", "TESSARO_TRACE=no/such/t"});
  EXPECT_EQ(recorded.out, plain.out);
  EXPECT_EQ(recorded.exitCode, plain.exitCode);
  EXPECT_EQ(LogFile(recorded), LogFile(plain));
  static const std::regex twoLines(
      "no/such/t: cannot be written \\([^\r\n]+\\)\r?\nno/such/dir/result.json: cannot be written \\([^\r\n]+\\)\r?\n");
  EXPECT_TRUE(std::regex_match(recorded.err, twoLines)) << recorded.err;
}

// A reader that reads the result file while runs replace it always finds a
// whole object: the file is written aside and moved over in one step. Each
// run removes the old result first, so only a missing file is passed over;
// an empty one is a result caught between its truncation and its bytes. As
// such a moment is short, the directory's events also show where the bytes
// were written: never into a file under the result's own name.
TEST(RunRecords, ReaderNeverSeesAPartialResult) {
  testing::TempDir shared;
  const std::string path = shared.File("result.json");
  const int events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(events, 0);
  ASSERT_GE(inotify_add_watch(events, shared.path().c_str(), IN_CREATE | IN_MODIFY | IN_MOVED_TO), 0);
  std::atomic<bool> done{false};
  int reads = 0;
  int partial = 0;
  std::thread reader([&] {
    while (!done) {
      std::ifstream file(path, std::ios::binary);
      if (!file) continue;
      const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
      ++reads;
      if (!Json::accept(text)) ++partial;
    }
  });
  for (int i = 0; i < 12; ++i) {
    // A long result and a short one in turn, so that a torn read would show.
    const RunResult run = i % 2 == 0 ? RunSim({"-c", "--file", "cfg.txt"}, {SimState(), SampleConfig()},
                                              {"TESSARO_RESULT=" + path})
                                     : RunSim({"-p", "pid"}, {SimState()}, {"TESSARO_RESULT=" + path});
    EXPECT_EQ(run.err, "");
  }
  done = true;
  reader.join();
  EXPECT_GT(reads, 0);
  EXPECT_EQ(partial, 0);
  int movedIn = 0;
  int writtenInPlace = 0;
  alignas(inotify_event) char buffer[64 * 1024];
  for (ssize_t got; (got = ::read(events, buffer, sizeof buffer)) > 0;) {
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->len == 0 || std::string(event->name) != "result.json") continue;
      ++((event->mask & IN_MOVED_TO) != 0 ? movedIn : writtenInPlace);
    }
  }
  ::close(events);
  EXPECT_EQ(movedIn, 12);
  EXPECT_EQ(writtenInPlace, 0);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(shared.path())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"result.json"});
}


// TESSARO_DEVICE picks each of three controllers of one host: only that
// controller's flash is written, and the record names it among all three.
// A path that names none ends as an absent controller, with one line more.
TEST(RunRecords, DeviceChoosesTheControllerAndTheRecordNamesEveryMatch) {
  const Json all = {SimPath(1), SimPath(2), SimPath(3)};
  for (int chosen = 1; chosen <= 3; ++chosen) {
    SCOPED_TRACE(chosen);
    const RunResult run = RunSim({"-f", "--file", "fw.bin"}, {SimState(R"("controllers": 3)"), SampleFirmware()},
                                 {"TESSARO_RESULT=result.json", "TESSARO_DEVICE=" + SimPath(chosen)});
    EXPECT_EQ(run.exitCode, 0);
    const Json result = Json::parse(run.ReadFile("result.json"));
    EXPECT_EQ(result["outcome"], "updated");
    EXPECT_EQ(result["controller"], SimPath(chosen));
    EXPECT_EQ(result["matches"], all);
    for (int other = 1; other <= 3; ++other) {
      const std::string flash = ControllerFile(other, "flash");
      if (other == chosen) {
        EXPECT_TRUE(run.ReadFile(flash) == ExpectedFlash(samples::SampleFirmwareImage(), 0x844));
      } else {
        EXPECT_FALSE(run.HasFile(flash)) << flash;
      }
    }
  }
  const std::string wrong = "\\\\?\\hid#tessaro-sim&col04";
  const RunResult run = RunSim({"-p", "vid"}, {SimState(R"("controllers": 3)")},
                               {"TESSARO_RESULT=result.json", "TESSARO_DEVICE=" + wrong});
  EXPECT_EQ(run.exitCode, ExitCode(-1));
  const std::string line = "error     : no controller at TESSARO_DEVICE=" + wrong;
  EXPECT_EQ(run.out.substr(run.out.size() - TextMode(line + "\n").size()), TextMode(line + "\n"));
  const Json result = Json::parse(run.ReadFile("result.json"));
  EXPECT_EQ(result["outcome"], "no-controller");
  EXPECT_EQ(result["lastError"], line);
  EXPECT_TRUE(result["controller"].is_null());
  EXPECT_EQ(result["matches"], all);
}

// Two runs update two controllers of one host at the same time: the second
// starts while the first holds its controller, and neither is turned away.
TEST(RunRecords, TwoControllersUpdatedAtOnce) {
  if (IsWindowsBuild()) GTEST_SKIP() << "each run's own environment is set around its start: native runs only";
  // Real time: the first run's update lasts seconds, long enough for the
  // second to run beside it.
  const RunResult folder = Folder({{kStateFile, "{\"controllers\": 2}\n"}, SampleFirmware()});
  setenv("TESSARO_DEVICE", SimPath(1).c_str(), 1);
  StartedRun first = Start(folder, {"-f", "--file", "fw.bin"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (TraceLines(folder).size() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  setenv("TESSARO_DEVICE", SimPath(2).c_str(), 1);
  const RunResult second = RunIn(folder, {"-f", "--file", "fw.bin"});
  unsetenv("TESSARO_DEVICE");
  const RunResult firstDone = first.Wait();
  EXPECT_EQ(second.exitCode, 0) << second.out;
  EXPECT_EQ(firstDone.exitCode, 0) << firstDone.out;
  for (int controller = 1; controller <= 2; ++controller) {
    EXPECT_TRUE(firstDone.ReadFile(ControllerFile(controller, "flash")) ==
                ExpectedFlash(samples::SampleFirmwareImage(), 0x844))
        << controller;
  }
}

}  // namespace
}  // namespace tessaro::e2e
