#pragma once
// End-to-end harness: runs a built program (tessaro or tessaro-sim, native or
// a Windows build under Wine) in a fresh working directory and hands back
// everything it left: standard output, standard error, the exit code as a
// Linux parent sees it, and the files of its working directory.
//
// Which build is run comes from the environment that CTest sets:
//   TESSARO_E2E_BIN_DIR     folder holding tessaro[.exe] and tessaro-sim[.exe]
//   TESSARO_E2E_EXE_SUFFIX  "" or ".exe"
//   TESSARO_E2E_EMULATOR    empty, or the program that runs a Windows program
//                           (tools/wine-run)
//   TESSARO_E2E_NATIVE_BIN_DIR  with a Windows build, the native build's
//                           folder, for runs of both builds at once
//
// The same test case runs against both builds when it writes its expected
// console and log texts through TextMode() and its exit codes through
// ExitCode(), and expects ProgramArgv0() where the program echoes argv[0].
//
//   auto run = tessaro::e2e::RunTool({"--file", "fw.bin", "-f"}, {{"fw.bin", bytes}});
//   EXPECT_EQ(run.out, TextMode("update firmware, file name:fw.bin\n"));
//   EXPECT_EQ(run.exitCode, ExitCode(-1));
//   EXPECT_EQ(MaskTimestamps(run.ReadFile("TessaroLogFile.txt")), TextMode(...));
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessaro::testing {
class TempDir;
}

namespace tessaro::e2e {

enum class Program { kTessaro, kSim, kInfo, kInfoSim };

// A file written into the working directory before the program starts.
struct InputFile {
  std::string name;  // relative to the working directory; folders are created
  std::string bytes;
};

// A signal sent to the program this long after it started.
struct TimedSignal {
  int afterMs = 0;
  int signal = 0;
};

struct RunOptions {
  Program program = Program::kTessaro;
  // The run is killed (and reported with timedOut) after this long.
  int timeoutMs = 120000;
  // "NAME=value" entries the program sees besides (or instead of) the
  // test's own environment.
  std::vector<std::string> environment;
  // Sent to the program (natively: the program itself; under Wine: the
  // emulator) while it runs.
  std::vector<TimedSignal> signals;
  // When given, the signals' times count from the moment the simulator's
  // trace in the working directory first holds this text (e.g. "sleep 250",
  // the wait after the first report that changes the controller) rather
  // than from the start, so that a slow start on a loaded machine cannot
  // move them out of the update.
  std::string signalsAfterTraceText;
  // Runs in this working directory instead of a fresh one, so that several
  // runs share their files; SharedWorkDir() makes one.
  std::shared_ptr<testing::TempDir> workDir;
  // Standard streams (0, 1, 2) the program starts without, as from a script
  // that closed them (`>&-`) or a service that gives it none.
  std::vector<int> closedStreams;
  // A file size limit in bytes (`ulimit -f`), 0 for none.
  uint64_t fileSizeLimitBytes = 0;
};

// A working directory for RunOptions::workDir.
std::shared_ptr<testing::TempDir> SharedWorkDir();

class StartedRun;
struct SpawnOptions;

class RunResult {
 public:
  std::string out;   // standard output, byte for byte
  std::string err;   // standard error, byte for byte
  int exitCode = 0;  // the low 8 bits of the program's result: -1 shows as 255
  int signal = 0;    // the signal that ended the process, 0 when it exited
  bool timedOut = false;

  // The working directory; it lives as long as any copy of this result.
  const std::string& dir() const;
  bool HasFile(const std::string& name) const;
  // The whole file, binary; "" when it does not exist.
  std::string ReadFile(const std::string& name) const;
  // Names of the regular files the working directory holds, sorted.
  std::vector<std::string> Files() const;

 private:
  friend RunResult RunTool(const std::vector<std::string>&, const std::vector<InputFile>&, const RunOptions&);
  friend RunResult Folder(const std::vector<InputFile>&);
  friend class StartedRun;
  std::shared_ptr<testing::TempDir> workDir_;
};

// A run started and not waited for yet, e.g. one of several at once in one
// working directory. Killed and waited for if it is dropped unwaited.
class StartedRun {
 public:
  StartedRun(StartedRun&& other) noexcept;
  StartedRun& operator=(StartedRun&&) = delete;
  ~StartedRun();

  // Sends a signal to the program (natively the program itself).
  void Signal(int signal) const;
  // The process started (under Wine: the loader's process).
  int pid() const { return pid_; }
  // Waits for the end; the result carries the working directory's files.
  RunResult Wait(int timeoutMs = 120000);

 private:
  friend StartedRun Start(const RunResult&, const std::vector<std::string>&, Program, uint64_t);
  friend StartedRun StartNative(const RunResult&, const std::vector<std::string>&, Program);
  StartedRun() = default;
  static StartedRun Launch(const RunResult& in, const std::vector<std::string>& args, Program program,
                           const SpawnOptions& spawn);
  int pid_ = -1;
  RunResult result_;
  std::shared_ptr<testing::TempDir> capture_;
};

// Runs the program with args (argv[0] is supplied: ProgramPath()), stdin
// from /dev/null, in a new temporary working directory holding files.
RunResult RunTool(const std::vector<std::string>& args, const std::vector<InputFile>& files = {},
              const RunOptions& options = {});
// The same with tessaro-sim.
// The same with tessaro-sim, with "NAME=value" entries in its environment.
RunResult RunSim(const std::vector<std::string>& args, const std::vector<InputFile>& files = {},
                 const std::vector<std::string>& environment = {});

// A new working directory holding files, with no run yet: for runs that
// follow each other or run at once in one folder.
RunResult Folder(const std::vector<InputFile>& files);
// Starts the program in the working directory of `in`, which it shares.
// A file size limit (bytes, 0 for none) makes every write past it fail as
// on a full disk.
StartedRun Start(const RunResult& in, const std::vector<std::string>& args, Program program = Program::kSim,
                 uint64_t fileSizeLimitBytes = 0);
// The same with the native build's program while the programs under test
// are a Windows build (TESSARO_E2E_NATIVE_BIN_DIR names its folder), so that
// both run in one folder at once. Fails the test when the folder is unknown.
StartedRun StartNative(const RunResult& in, const std::vector<std::string>& args, Program program = Program::kSim);
// Whether StartNative can run anything.
bool HasNativeBuild();
// Runs the program there and waits for it.
RunResult RunIn(const RunResult& in, const std::vector<std::string>& args, Program program = Program::kSim);

// The same with tessaro-info-sim.
RunResult RunInfoSim(const std::vector<std::string>& args, const std::vector<InputFile>& files = {});

// True when the programs under test are Windows programs.
bool IsWindowsBuild();
// The file that is executed (the emulator's argument for a Windows build).
std::string ProgramPath(Program program = Program::kTessaro);
// argv[0] as the program receives it: the path itself natively; under Wine
// the DOS form of the path on drive Z: ("Z:\work\...\tessaro.exe").
std::string ProgramArgv0(Program program = Program::kTessaro);

// Text as a program writes it through a text-mode stream of the build under
// test: unchanged natively; for a Windows build every "\n" becomes "\r\n",
// so a "\r\n" in a message comes out as "\r\r\n".
std::string TextMode(const std::string& text);
// The exit code a Linux parent sees for a program's 32-bit result.
int ExitCode(int32_t result);
// Replaces every log timestamp "2024-03-05 06:07:08:009 -> " by the fixed
// text "YYYY-MM-DD HH:MM:SS:mmm -> ", so that log files compare exactly.
std::string MaskTimestamps(const std::string& logText);

// Keeps a JSON text a program printed or wrote, for the schema check that
// follows the suite (tools/validate-json), in the folder the build names.
// Returns the text.
const std::string& KeepForSchemaCheck(const std::string& json);

// The log file's name in the working directory.
constexpr const char* kLogFile = "TessaroLogFile.txt";

}  // namespace tessaro::e2e
