// What a technician or a line script does by accident, end to end: a
// configuration too long for the register space, files that are devices,
// several runs appending to one log, a Turkish locale, and signals in the
// middle of an update. Also run against the Windows programs under Wine
// where the case concerns Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/jobs_support.h"
#include "tests/support/temp_dir.h"
#include "tools/image_builder.h"
#include "tools/make-samples.h"

namespace tessaro::e2e {
namespace {

// The sample configuration 600 times over (38,400 bytes) would run past
// 0xFFFF and wrap onto registers that are not the configuration (0x5095,
// 0x8040, 0x8240 among them): refused after loading, before the handshake.
TEST(Accidents, ConfigurationLongerThanTheRegisterSpaceIsRefusedBeforeTheHandshake) {
  std::string big;
  for (int i = 0; i < 600; ++i) big += samples::SampleConfiguration();
  const RunResult run = RunSim({"-c", "--file=big.txt"}, {SimState(), {"big.txt", big}});
  const std::vector<std::string> refusal = {"error     : cfg too long, len:38400, at most:32688\n"};
  EXPECT_EQ(run.out, ConsoleOf("update configuration, file name:big.txt\n", refusal));
  EXPECT_EQ(run.exitCode, ExitCode(-8));
  EXPECT_EQ(LogFile(run), LogFileOf(refusal));
  EXPECT_EQ(Timeline(run), (std::vector<std::string>{"walk", "open", "read 8050 -> 84007c", "close"}));
}

// Device names: on Windows a serial port, the console or NUL would make the
// read wait for ever; they are refused at the open like a missing file
// (natively they are missing files, with the same lines).
TEST(Accidents, DeviceNamesAsFilesAreRefusedAtTheOpen) {
  struct Case {
    std::vector<std::string> job;
    std::vector<std::string> failed;
  };
  for (const std::string name : {"COM1", "AUX", "nul.txt", "CON", "\\\\.\\pipe\\tessaro"}) {
    for (const Case& c : {Case{{"-c"}, {"error     : open cfg file FAILED, cfg_name:" + name + "\n",
                                        "error     : Failed read cfg file:" + name + ", ret:-1\n"}},
                          Case{{"-f"}, {"error     : open fw file FAILED, fw_name:" + name + "\n",
                                        "error     : Failed read firmware file:" + name + ", ret:-1\n"}}}) {
      SCOPED_TRACE(c.job[0] + " " + name);
      RunOptions options;
      options.program = Program::kSim;
      options.timeoutMs = 30000;
      std::vector<std::string> args = c.job;
      args.push_back("--file=" + name);
      const RunResult run = RunTool(args, {SimState()}, options);
      ASSERT_FALSE(run.timedOut);
      const std::string entry = c.job[0] == "-c" ? "update configuration, file name:" : "update firmware, file name:";
      EXPECT_EQ(run.out, ConsoleOf(entry + name + "\n", c.failed));
      EXPECT_EQ(run.exitCode, ExitCode(-2));
      EXPECT_EQ(LogFile(run), LogFileOf(c.failed));
    }
  }
}

// Three loops of firmware runs appending to one log at the same time: every
// line arrives whole and none is lost.
TEST(Accidents, ParallelRunsNeverMixTheirLogLines) {
  const auto dir = SharedWorkDir();
  testing::WriteFileBytes(dir->File(kStateFile), SimState().bytes);
  testing::WriteFileBytes(dir->File("fw.bin"), samples::SampleFirmwareImage());
  constexpr int kLoops = 3;
  constexpr int kRunsPerLoop = 4;
  std::vector<std::string> consoles(kLoops);
  std::vector<std::thread> loops;
  for (int loop = 0; loop < kLoops; ++loop) {
    loops.emplace_back([&, loop] {
      RunOptions options;
      options.program = Program::kSim;
      options.workDir = dir;
      for (int run = 0; run < kRunsPerLoop; ++run) consoles[loop] += RunTool({"-d", "-f", "-i", "--file", "fw.bin"}, {}, options).out;
    });
  }
  for (std::thread& loop : loops) loop.join();

  // The messages each run printed, and the log's entries, as sorted lists:
  // a line mangled or lost shows as a difference.
  const std::regex prefix("(error     : |info      : |dbg info  : )");
  std::vector<std::string> printed;
  for (std::string console : consoles) {
    // The entry point's own line is not logged.
    const std::string entry = TextMode("update firmware, file name:fw.bin\n");
    for (size_t at = console.find(entry); at != std::string::npos; at = console.find(entry)) console.erase(at, entry.size());
    std::vector<size_t> starts;
    for (auto it = std::sregex_iterator(console.begin(), console.end(), prefix); it != std::sregex_iterator(); ++it) {
      starts.push_back(static_cast<size_t>(it->position()));
    }
    for (size_t i = 0; i < starts.size(); ++i) {
      printed.push_back(console.substr(starts[i], (i + 1 < starts.size() ? starts[i + 1] : console.size()) - starts[i]));
    }
  }
  const std::string stamp = "YYYY-MM-DD HH:MM:SS:mmm -> ";
  const std::string log = MaskTimestamps(testing::ReadFileBytes(dir->File(kLogFile)));
  std::vector<std::string> logged;
  for (size_t at = log.find(stamp); at != std::string::npos;) {
    const size_t next = log.find(stamp, at + 1);
    std::string entry = log.substr(at + stamp.size(), (next == std::string::npos ? log.size() : next) - at - stamp.size());
    logged.push_back(entry);
    at = next;
  }
  // Line ends aside: a run's closing empty line may land after another
  // run's entry, and the file's line ends are the text mode's.
  auto text = [](std::string message) {
    message.erase(std::remove_if(message.begin(), message.end(), [](char c) { return c == '\r' || c == '\n'; }),
                  message.end());
    return message;
  };
  std::vector<std::string> printedInFile;
  for (const std::string& message : printed) printedInFile.push_back(text(message));
  std::sort(printedInFile.begin(), printedInFile.end());
  std::vector<std::string> loggedMessages;
  for (const std::string& entry : logged) loggedMessages.push_back(text(entry));
  std::sort(loggedMessages.begin(), loggedMessages.end());
  EXPECT_GT(printed.size(), 0u);
  std::vector<std::string> missing;
  std::set_difference(printedInFile.begin(), printedInFile.end(), loggedMessages.begin(), loggedMessages.end(),
                      std::back_inserter(missing));
  std::vector<std::string> extra;
  std::set_difference(loggedMessages.begin(), loggedMessages.end(), printedInFile.begin(), printedInFile.end(),
                      std::back_inserter(extra));
  EXPECT_TRUE(missing.empty()) << missing.size() << " lost or mangled, the first: " << missing.front();
  EXPECT_TRUE(extra.empty()) << extra.size() << " not printed, the first: " << extra.front();
}

// Under a Turkish locale tolower('I') is no 'i': the property words compare
// as ASCII whatever the locale.
TEST(Accidents, PropertyWordsIgnoreTheLocalesCaseRules) {
  if (std::setlocale(LC_ALL, "tr_TR.UTF-8") == nullptr) GTEST_SKIP() << "tr_TR.UTF-8 missing: run tools/install-deps";
  std::setlocale(LC_ALL, "C");
  struct Case {
    std::string word;
    std::string line;
    int exitCode;
  };
  const std::vector<Case> cases = {{"PID", "info      : PID:TS01\n", 0},
                                   {"VID", "info      : VID:01 00 00 01\n", 1},
                                   {"sensorID", "info      : Sensor ID:03\n", 3},
                                   {"CFGVER", "info      : CFG VER:0x84\n", 0x84}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word);
    RunOptions options;
    options.program = Program::kSim;
    options.environment = {"LC_ALL=tr_TR.UTF-8", "LANG=tr_TR.UTF-8"};
    const RunResult run = RunTool({"-p", c.word}, {SimState()}, options);
    EXPECT_EQ(run.out, ConsoleOf("", {c.line}));
    EXPECT_EQ(run.exitCode, c.exitCode);
  }
}

// SIGINT, SIGTERM and SIGHUP (a dropped SSH session) at several points of a
// real-time update (about 2.3 s of real sleeps): the update goes on to its
// end, with the restart command, the whole log, its own exit code, and one
// notice on standard error. Outside an update a signal ends the run at once,
// never with 0. Under Wine a SIGINT reaches the program as Ctrl+C; Wine's
// start-up takes a while, so only a signal well inside the update is sent
// there.
TEST(Accidents, SignalsDuringAnUpdateLetItEnd) {
  const std::string notice =
      TextMode("tessaro: signal received, the update goes on so that the controller is not left half-written\n");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    InputFile file;
    std::vector<TimedSignal> signals;
    bool underWine;
    std::string state = "{}\n";
  };
  const std::vector<Case> all = {
      {"SIGINT while writing KV30", {"-f", "--file", "fw.bin"}, SampleFirmware(), {{600, SIGINT}}, false},
      {"SIGTERM while writing Q5", {"-f", "--file", "fw.bin"}, SampleFirmware(), {{1100, SIGTERM}}, false},
      {"SIGHUP before the VERSION read", {"-f", "--file", "fw.bin"}, SampleFirmware(), {{1900, SIGHUP}}, false},
      {"all three", {"-f", "--file", "fw.bin"}, SampleFirmware(), {{700, SIGHUP}, {900, SIGINT}, {1100, SIGTERM}}, false},
      // Two refused attempts make the configuration update last about 1.3 s.
      {"SIGINT in a configuration update", {"-c", "--file", "cfg.txt"}, SampleConfig(), {{700, SIGINT}}, false,
       "{\"faults\": {\"refuse\": {\"cfgAccept\": 2}}}\n"},
      {"Ctrl+C in the middle", {"-f", "--file", "fw.bin"}, SampleFirmware(), {{1200, SIGINT}}, true},
  };
  std::vector<Case> cases;
  for (const Case& c : all) {
    if (c.underWine == IsWindowsBuild()) cases.push_back(c);
  }
  std::vector<RunResult> runs(cases.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < cases.size(); ++i) {
    threads.emplace_back([&, i] {
      RunOptions options;
      options.program = Program::kSim;
      options.signals = cases[i].signals;
      runs[i] = RunTool(cases[i].args, {{kStateFile, cases[i].state}, cases[i].file}, options);
    });
  }
  // Outside an update: the absent controller's open attempts sleep for real.
  // Natively the signal's default action ends the run; the .exe ends with
  // the code Windows gives a program that Ctrl+C ends, never with 0.
  RunOptions outside;
  outside.program = Program::kSim;
  outside.signals = {{IsWindowsBuild() ? 1500 : 300, IsWindowsBuild() ? SIGINT : SIGTERM}};
  const RunResult query = RunTool({"-p", "vid"}, {{kStateFile, "{\"present\": false}\n"}}, outside);
  EXPECT_EQ(query.err, "");
  if (IsWindowsBuild()) {
    EXPECT_EQ(query.signal, 0);
    EXPECT_EQ(query.exitCode, ExitCode(static_cast<int32_t>(0xC000013Au)));
  } else {
    EXPECT_EQ(query.signal, SIGTERM);
    EXPECT_EQ(LogFile(query), "YYYY-MM-DD HH:MM:SS:mmm -> error     : find device failed\r\n"
                              "YYYY-MM-DD HH:MM:SS:mmm -> error     : open TLC failed\n");
  }
  for (std::thread& thread : threads) thread.join();

  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const RunResult& run = runs[i];
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, notice);
    std::vector<std::string> messages;
    if (cases[i].args[0] == "-f") {
      for (const samples::SampleSub& sub : samples::SampleSubs()) {
        if (sub.type == 2 || sub.type == 6 || sub.type == 11) Append(messages, Progress(sub.length));
      }
      messages.push_back("info      : Update Firmware Success,VID after update:01 00 00 02\n");
      const std::vector<std::string> timeline = Timeline(run);
      EXPECT_EQ(std::count(timeline.begin(), timeline.end(), "cmd 13"), 1);
      EXPECT_EQ(timeline.back(), "close");
    } else {
      for (int attempt = 0; attempt < 2; ++attempt) {
        Append(messages, {"error     : send write cfg cmd failed!\n",
                          "info      : Update cfg failed, retry=" + std::to_string(attempt) + "\n"});
      }
      messages.push_back("info      : Update Cfg Success! Cfg Ver:0x85\r\n");
    }
    EXPECT_EQ(LogFile(run), LogFileOf(messages));
  }
}

}  // namespace
}  // namespace tessaro::e2e
