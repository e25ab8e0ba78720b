#include "tests/e2e/e2e_harness.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <stdexcept>
#include <thread>

#include "tests/support/temp_dir.h"

extern char** environ;

namespace fs = std::filesystem;

namespace tessaro::e2e {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

int keptJsonCount = 0;

// Kills the run's process group unless Disarm() comes first. The child is
// waited for with a blocking waitpid; this only bounds a hung run.
class Watchdog {
 public:
  Watchdog(pid_t group, int timeoutMs) : thread_([this, group, timeoutMs] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!done_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return disarmed_; })) {
        fired_ = true;
        kill(-group, SIGKILL);
      }
    }) {}
  ~Watchdog() { Disarm(); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Returns whether the watchdog had killed the run.
  bool Disarm() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      disarmed_ = true;
    }
    done_.notify_all();
    if (thread_.joinable()) thread_.join();
    return fired_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  bool disarmed_ = false;
  bool fired_ = false;
  std::thread thread_;
};

}  // namespace

const std::string& RunResult::dir() const { return workDir_->path(); }

bool RunResult::HasFile(const std::string& name) const { return testing::FileExists(workDir_->File(name)); }

std::string RunResult::ReadFile(const std::string& name) const { return testing::ReadFileBytes(workDir_->File(name)); }

std::vector<std::string> RunResult::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(workDir_->path())) {
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsWindowsBuild() { return Environment("TESSARO_E2E_EXE_SUFFIX") == ".exe"; }

std::string ProgramPath(Program program) {
  const std::string binDir = Environment("TESSARO_E2E_BIN_DIR");
  if (binDir.empty()) throw std::runtime_error("TESSARO_E2E_BIN_DIR is not set; run the tests through ctest");
  const char* const names[] = {"tessaro", "tessaro-sim", "tessaro-info", "tessaro-info-sim"};
  const std::string name = names[static_cast<int>(program)];
  return fs::absolute(binDir).lexically_normal().generic_string() + "/" + name +
         Environment("TESSARO_E2E_EXE_SUFFIX");
}

std::string ProgramArgv0(Program program) {
  std::string path = ProgramPath(program);
  if (!IsWindowsBuild()) return path;
  std::replace(path.begin(), path.end(), '/', '\\');
  return "Z:" + path;
}

std::shared_ptr<testing::TempDir> SharedWorkDir() { return std::make_shared<testing::TempDir>(); }

namespace {

void WriteFiles(const std::string& dir, const std::vector<InputFile>& files) {
  for (const InputFile& file : files) {
    const fs::path target = fs::path(dir) / file.name;
    fs::create_directories(target.parent_path());
    testing::WriteFileBytes(target.string(), file.bytes);
  }
}

}  // namespace

struct SpawnOptions {
  std::vector<std::string> environment;
  uint64_t fileSizeLimitBytes = 0;
  std::vector<int> closedStreams;
  bool native = false;  // the native build's program whatever is under test
};

namespace {

// Starts the program in workDir, its output into files of captureDir, in a
// process group of its own. A file size limit (0: none) makes writes past
// it fail as on a full disk.
pid_t Spawn(const std::string& workDir, const std::string& captureDir, const std::vector<std::string>& args,
            Program program, const SpawnOptions& spawn) {
  const std::vector<std::string>& extraEnvironment = spawn.environment;
  const uint64_t fileSizeLimitBytes = spawn.fileSizeLimitBytes;
  // Output goes to files, not pipes: Wine's helper processes inherit the
  // descriptors and would hold a pipe open for seconds after the run.
  const std::string outPath = captureDir + "/stdout";
  const std::string errPath = captureDir + "/stderr";
  std::string path = ProgramPath(program);
  if (spawn.native) {
    const char* const names[] = {"tessaro", "tessaro-sim", "tessaro-info", "tessaro-info-sim"};
    path = Environment("TESSARO_E2E_NATIVE_BIN_DIR") + "/" + names[static_cast<int>(program)];
  }
  if (!fs::exists(path)) throw std::runtime_error("program not built: " + path);
  std::vector<std::string> command;
  const std::string emulator = spawn.native ? "" : Environment("TESSARO_E2E_EMULATOR");
  if (!emulator.empty()) command.push_back(emulator);
  command.push_back(path);
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);
  // Built before the fork: the child may only make async-signal-safe calls.
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    const bool overridden = std::any_of(extraEnvironment.begin(), extraEnvironment.end(),
                                        [&](const std::string& e) { return e.substr(0, e.find('=')) == name; });
    if (!overridden) environment.push_back(text);
  }
  environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  const rlimit limit{fileSizeLimitBytes, fileSizeLimitBytes};
  // The native programs ignore SIGXFSZ themselves; Wine does not.
  const bool ignoreSizeSignal = fileSizeLimitBytes != 0 && !emulator.empty();
  int closed[3] = {-1, -1, -1};
  for (size_t i = 0; i < spawn.closedStreams.size() && i < 3; ++i) closed[i] = spawn.closedStreams[i];

  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    // Only async-signal-safe calls from here to exec.
    setpgid(0, 0);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(workDir.c_str()) != 0) {
      _exit(127);
    }
    for (const int stream : closed) {
      if (stream >= 0) close(stream);
    }
    if (in > 2) close(in);
    if (out > 2) close(out);
    if (err > 2) close(err);
    // A write past the limit then fails with EFBIG instead of ending the
    // process with SIGXFSZ.
    if (ignoreSizeSignal) signal(SIGXFSZ, SIG_IGN);
    if (fileSizeLimitBytes != 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  setpgid(child, child);  // also here, so the watchdog's group exists at once
  return child;
}

// Waits for the child (killing its group after timeoutMs), sending it the
// timed signals meanwhile, and fills in what it left.
void Reap(pid_t child, int timeoutMs, const std::vector<TimedSignal>& signals, const std::string& captureDir,
          RunResult& result, const std::string& traceText = "") {
  int status = 0;
  {
    Watchdog watchdog(child, timeoutMs);
    // The child is reaped only after the sender has stopped, so a signal
    // can never reach another process that took over its ID.
    std::mutex senderMutex;
    std::condition_variable senderWake;
    bool exited = false;
    std::thread sender([&] {
      std::unique_lock<std::mutex> lock(senderMutex);
      if (!traceText.empty()) {
        const std::string trace = result.dir() + "/tessaro-sim.trace";
        while (testing::ReadFileBytes(trace).find(traceText) == std::string::npos) {
          if (senderWake.wait_for(lock, std::chrono::milliseconds(5), [&] { return exited; })) return;
        }
      }
      const auto start = std::chrono::steady_clock::now();
      for (const TimedSignal& timed : signals) {
        if (senderWake.wait_until(lock, start + std::chrono::milliseconds(timed.afterMs), [&] { return exited; })) return;
        kill(child, timed.signal);
      }
    });
    siginfo_t info{};
    while (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    {
      std::lock_guard<std::mutex> lock(senderMutex);
      exited = true;
    }
    senderWake.notify_all();
    sender.join();
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.timedOut = watchdog.Disarm();
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = testing::ReadFileBytes(captureDir + "/stdout");
  result.err = testing::ReadFileBytes(captureDir + "/stderr");
}

}  // namespace

RunResult RunTool(const std::vector<std::string>& args, const std::vector<InputFile>& files, const RunOptions& options) {
  for (int attempt = 1;; ++attempt) {
    RunResult result;
    result.workDir_ = options.workDir ? options.workDir : std::make_shared<testing::TempDir>();
    WriteFiles(result.workDir_->path(), files);
    testing::TempDir captureDir;
    SpawnOptions spawn;
    spawn.environment = options.environment;
    spawn.fileSizeLimitBytes = options.fileSizeLimitBytes;
    spawn.closedStreams = options.closedStreams;
    const pid_t child = Spawn(result.workDir_->path(), captureDir.path(), args, options.program, spawn);
    Reap(child, options.timeoutMs, options.signals, captureDir.path(), result, options.signalsAfterTraceText);
    // On a loaded machine Wine now and then ends a program with SIGKILL that
    // neither the program (a Windows program cannot raise it) nor the test
    // sent. Such a run says nothing of the program: it is made once more, in
    // a fresh folder, and said on the test's output. A second one fails.
    const bool strayKill = result.signal == SIGKILL && !result.timedOut && options.signals.empty();
    if (attempt > 1 || !strayKill || options.workDir || Environment("TESSARO_E2E_EMULATOR").empty()) return result;
    std::fprintf(stderr, "e2e: the program died of SIGKILL that nothing sent under the emulator; running it again\n");
  }
}

RunResult Folder(const std::vector<InputFile>& files) {
  RunResult result;
  result.workDir_ = std::make_shared<testing::TempDir>();
  WriteFiles(result.workDir_->path(), files);
  return result;
}

StartedRun StartedRun::Launch(const RunResult& in, const std::vector<std::string>& args, Program program,
                              const SpawnOptions& spawn) {
  StartedRun run;
  run.result_.workDir_ = in.workDir_;
  run.capture_ = std::make_shared<testing::TempDir>();
  run.pid_ = Spawn(in.dir(), run.capture_->path(), args, program, spawn);
  return run;
}

StartedRun Start(const RunResult& in, const std::vector<std::string>& args, Program program,
                 uint64_t fileSizeLimitBytes) {
  SpawnOptions spawn;
  spawn.fileSizeLimitBytes = fileSizeLimitBytes;
  return StartedRun::Launch(in, args, program, spawn);
}

bool HasNativeBuild() { return !Environment("TESSARO_E2E_NATIVE_BIN_DIR").empty(); }

StartedRun StartNative(const RunResult& in, const std::vector<std::string>& args, Program program) {
  if (!HasNativeBuild()) throw std::runtime_error("TESSARO_E2E_NATIVE_BIN_DIR is not set");
  SpawnOptions spawn;
  spawn.native = true;
  return StartedRun::Launch(in, args, program, spawn);
}

RunResult RunIn(const RunResult& in, const std::vector<std::string>& args, Program program) {
  return Start(in, args, program).Wait();
}

StartedRun::StartedRun(StartedRun&& other) noexcept
    : pid_(other.pid_), result_(std::move(other.result_)), capture_(std::move(other.capture_)) {
  other.pid_ = -1;
}

StartedRun::~StartedRun() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  int status = 0;
  while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
}

void StartedRun::Signal(int signal) const {
  if (pid_ > 0) kill(pid_, signal);
}

RunResult StartedRun::Wait(int timeoutMs) {
  if (pid_ > 0) {
    Reap(pid_, timeoutMs, {}, capture_->path(), result_);
    pid_ = -1;
  }
  return result_;
}

RunResult RunSim(const std::vector<std::string>& args, const std::vector<InputFile>& files,
                 const std::vector<std::string>& environment) {
  RunOptions options;
  options.program = Program::kSim;
  options.environment = environment;
  return RunTool(args, files, options);
}

RunResult RunInfoSim(const std::vector<std::string>& args, const std::vector<InputFile>& files) {
  RunOptions options;
  options.program = Program::kInfoSim;
  return RunTool(args, files, options);
}

std::string TextMode(const std::string& text) {
  if (!IsWindowsBuild()) return text;
  std::string converted;
  converted.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    if (c == '\n') converted += '\r';
    converted += c;
  }
  return converted;
}

int ExitCode(int32_t result) { return static_cast<int>(static_cast<uint32_t>(result) & 0xFFu); }

std::string MaskTimestamps(const std::string& logText) {
  static const std::regex timestamp("[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}:[0-9]{3} -> ");
  return std::regex_replace(logText, timestamp, "YYYY-MM-DD HH:MM:SS:mmm -> ");
}

const std::string& KeepForSchemaCheck(const std::string& json) {
  const std::string folder = TESSARO_E2E_JSON_DIR;
  std::error_code error;
  fs::create_directories(folder, error);
  // CTest runs each case in a process of its own, several at once.
  const std::string name =
      folder + "/" + std::to_string(getpid()) + "-" + std::to_string(++keptJsonCount) + ".json";
  std::ofstream(name, std::ios::binary) << json;
  return json;
}

}  // namespace tessaro::e2e
