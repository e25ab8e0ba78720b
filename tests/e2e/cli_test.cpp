// The command line of the tool as a user meets it: usage, parse errors, the
// entry point's refusals and notices, the version. None of these runs a job,
// so they use the real program and never wait for a device.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_harness.h"

namespace tessaro::e2e {
namespace {

std::string Usage() {
  return "usage: " + ProgramArgv0() +
         " [options] ... \n"
         "options:\n"
         "  -i, --ignoreVer    Ignore version forced update\n"
         "  -f, --firmware     update firmware\n"
         "  -c, --config       update configuration\n"
         "  -d, --debug        open debug log switch\n"
         "  -v, --version      version of this app\n"
         "  -p, --prop         get info from ic.option for [pid vid sensorID cfgver] (string [=pid])\n"
         "      --file         file of firmware or config (string [=])\n"
         "      --flag         flag that indicate which type of sub firmware should be update;\r\n"
         "\t\tbit2:KV30 bitb:Q5 bit6:short bit5:smallsys bite:bootcode,default=0x844(KV30+Q5+short) (int [=2116])\n"
         "  -?, --help         print this message\n";
}

const std::string kOldLog = "2020-01-01 00:00:00:000 -> info      : an earlier run\n";

std::string Describe(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += " [" + arg + "]";
  return text.empty() ? " (no arguments)" : text;
}

// Every run starts beside a log file of an earlier run, which must come out
// byte for byte as it went in, with no other file beside it.
void ExpectLogUntouched(const RunResult& run) {
  EXPECT_EQ(run.ReadFile(kLogFile), kOldLog);
  EXPECT_EQ(run.Files(), std::vector<std::string>{kLogFile});
}

TEST(CliHelp, PrintsUsageToStandardErrorAndExitsZero) {
  const std::vector<std::vector<std::string>> commandLines = {
      {"--help"},
      {"-?"},
      {"-v", "-?"},                    // help wins over a valid job option
      {"-v?"},                         // and inside a short group
      {"--nosuch", "--help"},          // and over an error before it
      {"-?", "--flag=0x844", "-x"},    // and over errors after it
      {"--flag", "0x844", "--help"},   // both forms of a bad value
  };
  for (const auto& args : commandLines) {
    SCOPED_TRACE(Describe(args));
    auto run = RunTool(args, {{kLogFile, kOldLog}});
    EXPECT_EQ(run.err, TextMode(Usage()));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.exitCode, 0);
    ExpectLogUntouched(run);
  }
}

struct ParseErrorCase {
  std::vector<std::string> args;
  std::string error;
};

TEST(CliParseErrors, PrintFirstErrorThenUsageAndExitOne) {
  const std::vector<ParseErrorCase> cases = {
      {{"--nosuch"}, "undefined option: --nosuch"},
      {{"--nosuch=1"}, "undefined option: --nosuch"},
      {{"--Version"}, "undefined option: --Version"},
      {{"--"}, "undefined option: --"},
      {{"--=x"}, "undefined option: --"},
      {{"-f", "--file"}, "option needs value: --file"},
      {{"--prop"}, "option needs value: --prop"},
      {{"-v", "--flag"}, "option needs value: --flag"},
      {{"-p"}, "option needs value: --prop"},
      {{"-vp"}, "option needs value: --prop"},
      // A value option that is not the last letter of a group gets no value.
      {{"-pf", "sensor"}, "option needs value: --prop"},
      {{"--flag=0x844"}, "option value is invalid: --flag=0x844"},
      {{"--flag", "0x844"}, "option value is invalid: --flag=0x844"},
      {{"--flag=2116 "}, "option value is invalid: --flag=2116 "},
      {{"--flag="}, "option value is invalid: --flag="},
      {{"--flag=2147483648"}, "option value is invalid: --flag=2147483648"},
      {{"--flag=-2147483649"}, "option value is invalid: --flag=-2147483649"},
      {{"--flag", "twelve"}, "option value is invalid: --flag=twelve"},
      {{"--debug=1"}, "option value is invalid: --debug=1"},
      {{"--firmware="}, "option value is invalid: --firmware="},
      {{"--help=1"}, "option value is invalid: --help=1"},
      {{"-x"}, "undefined short option: -x"},
      {{"-dx"}, "undefined short option: -x"},
      {{"-F"}, "undefined short option: -F"},
      // Only the first error, in argument order, is shown.
      {{"--nosuch", "-x", "--flag=1x"}, "undefined option: --nosuch"},
      {{"-x", "--nosuch"}, "undefined short option: -x"},
      {{"--flag=1x", "--prop"}, "option value is invalid: --flag=1x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Describe(c.args));
    auto run = RunTool(c.args, {{kLogFile, kOldLog}});
    EXPECT_EQ(run.err, TextMode(c.error + "\n" + Usage()));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.exitCode, 1);
    ExpectLogUntouched(run);
  }
}

struct ConsoleCase {
  std::vector<std::string> args;
  std::string out;
  int32_t result;
};

// The refusals and notices of the entry point come on standard output, in
// the order the checks run, and never reach the log.
TEST(CliRefusals, PrintTheirMessagesInOrderAndLeaveTheLogAlone) {
  const std::string invalid = "invalid parameters,for help --help or -?\n";
  const std::string noFile = "file name is NULL\n";
  const std::string together = "Firmware and config can't be upgraded at the same time";
  const std::vector<ConsoleCase> cases = {
      // Too few arguments, or no job option and no version.
      {{}, invalid, 1},
      {{"-d"}, invalid, 1},
      {{"-i"}, invalid, 1},
      {{"--flag", "5"}, invalid, 1},
      {{"-id", "--flag=7"}, invalid, 1},
      {{"positional"}, invalid, 1},
      {{"-"}, invalid, 1},
      // A job option without a file: the notice, then the missing name.
      {{"-f"}, noFile + noFile, -1},
      {{"--config"}, noFile + noFile, -1},
      {{"-i", "-d", "--firmware"}, noFile + noFile, -1},
      {{"-f", "--flag", "5"}, noFile + "firmware update sub type flag:0x5" + noFile, -1},
      // Both update jobs at once.
      {{"-f", "-c"}, noFile + together, 1},
      {{"-fc", "--file", "fw.bin"}, together, 1},
      {{"-f", "-c", "-v", "--file=x"}, together, 1},
      {{"-f", "-c", "-p", "pid"}, noFile + together, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Describe(c.args));
    auto run = RunTool(c.args, {{kLogFile, kOldLog}});
    EXPECT_EQ(run.out, TextMode(c.out));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, ExitCode(c.result));
    ExpectLogUntouched(run);
  }
}

// Command lines that pass every check but run no job end with 0.
TEST(CliNoJob, VersionFlagAndUnknownPropertyEndWithZero) {
  const std::string version = "1.0.1.3\n";
  const std::vector<ConsoleCase> cases = {
      {{"-v"}, version, 0},
      {{"--version"}, version, 0},
      {{"--flag", "2116", "--version"}, "firmware update sub type flag:0x844" + version, 0},
      {{"--flag=+2116", "-v"}, "firmware update sub type flag:0x844" + version, 0},
      {{"--flag", " 2116", "-v"}, "firmware update sub type flag:0x844" + version, 0},
      {{"--flag=-1", "-v"}, "firmware update sub type flag:0xffffffff" + version, 0},
      {{"--flag=-2147483648", "-v"}, "firmware update sub type flag:0x80000000" + version, 0},
      {{"--flag=1", "--flag=4095", "-v"}, "firmware update sub type flag:0xfff" + version, 0},
      // The version wins over a job, after the notice of a missing name.
      {{"-f", "-v"}, "file name is NULL\n" + version, 0},
      {{"-v", "--file", "fw.bin", "-f"}, version, 0},
      // A lone "-" and positional arguments are accepted and ignored.
      {{"-", "positional", "-v"}, version, 0},
      // The value of a long option is the next argument whatever it is.
      {{"--file", "-f"}, "", 0},
      {{"--prop", "--version"}, "", 0},
      // A file name and no job option.
      {{"--file", "fw.bin"}, "", 0},
      {{"--file="}, "", 0},
      // A property word that names no property.
      {{"-p", "sensor"}, "", 0},
      {{"--prop="}, "", 0},
      {{"--prop", "pid "}, "", 0},
      // "prop" overrides "firmware": the notice once, then the query.
      {{"-f", "-p", "nothing"}, "file name is NULL\n", 0},
      // A short group with the value option last takes the next argument.
      {{"-fp", "sensor"}, "file name is NULL\n", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Describe(c.args));
    auto run = RunTool(c.args, {{kLogFile, kOldLog}});
    EXPECT_EQ(run.out, TextMode(c.out));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, ExitCode(c.result));
    ExpectLogUntouched(run);
  }
}

TEST(CliNoJob, CreatesNoLogFile) {
  const std::vector<std::vector<std::string>> commandLines = {
      {"-v"}, {"--prop", "unknown"}, {"--file", "fw.bin"}, {"-f"}, {}, {"--help"}, {"--nosuch"},
  };
  for (const auto& args : commandLines) {
    SCOPED_TRACE(Describe(args));
    auto run = RunTool(args);
    EXPECT_EQ(run.Files(), std::vector<std::string>{});
  }
}



// What the entry point adds around a query, run against the simulated
// controller (its sleeps only recorded): its own lines come first and stay
// out of the log, the job's result becomes the exit code, and the log ends
// with an empty line. The queries themselves are the jobs suites' subject.
TEST(CliDispatch, EntryLinesPrecedeTheQueryAndStayOutOfTheLog) {
  struct Case {
    std::vector<std::string> args;
    std::string state;  // tessaro-sim.json
    std::string entryLines;
    std::string queryLines;
    int32_t result;
  };
  const std::string device = R"({"virtualTime": true, "pid": "T123", "vid": "FFFFFFFF", "sensorByte": 35})";
  const std::vector<Case> cases = {
      // "prop" overrides "firmware", after the notice of the missing name.
      {{"-f", "-p", "sensorid"}, device, "file name is NULL\n", "info      : Sensor ID:03\n", 3},
      {{"-fcp", "sensorid"}, device, "file name is NULL\n", "", 1},
      // The flag line has no line end; the flag has no effect on a query.
      {{"--flag=1", "-p", "pid"}, device, "firmware update sub type flag:0x1", "info      : PID:T123\n", 0},
      // A VID of all ones is -1, which a Linux parent sees as 255.
      {{"-ip", "vid", "--file", "unused.bin"}, device, "", "info      : VID:ff ff ff ff\n", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Describe(c.args));
    auto run = RunSim(c.args, {{"tessaro-sim.json", c.state}});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, ExitCode(c.result));
    if (c.queryLines.empty()) {  // refused before the job
      EXPECT_EQ(run.out, TextMode(c.entryLines + "Firmware and config can't be upgraded at the same time"));
      EXPECT_FALSE(run.HasFile(kLogFile));
      continue;
    }
    EXPECT_EQ(run.out, TextMode(c.entryLines + c.queryLines));
    EXPECT_EQ(MaskTimestamps(run.ReadFile(kLogFile)), TextMode("YYYY-MM-DD HH:MM:SS:mmm -> " + c.queryLines + "\n"));
  }
}

}  // namespace
}  // namespace tessaro::e2e
