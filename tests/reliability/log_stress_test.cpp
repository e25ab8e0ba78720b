// The log under stress: whatever happens to the log file or to a message,
// the console shows every line and the job ends as it would have. Each
// case runs a job on tessaro-sim twice, once in an ordinary folder and once
// under the stress, and compares. Also special files where a job expects
// an image.
//
// Cases that need a folder the program cannot write run natively only, as
// an unprivileged user when the tests run as root (permission bits do not
// stop root); the others also run the Windows programs under Wine.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_harness.h"
#include "tests/support/temp_dir.h"
#include "tools/image_builder.h"

namespace tessaro::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kState = "{\"virtualTime\": true}\n";
const std::string kWarning =
    "warning: cannot open the log file .//TessaroLogFile.txt for appending; the log goes to the console only\n";
constexpr size_t kMessageLimit = 1023;
constexpr uint64_t kSizeLimit = 31457280;

// A configuration the simulator takes: above its version, head summing to 0.
std::string Config() {
  std::vector<uint8_t> body = {0x00, 0x7B};
  for (uint8_t i = 1; i <= 20; ++i) body.push_back(i);
  return testing::CfgText(testing::BalancedCfgBytes(0x85, body));
}

// A firmware the simulator's controller takes: its PID, a newer VID.
std::string Firmware() {
  testing::FwImageSpec firmware;
  firmware.pidField = "TS01";
  firmware.vid = {0x01, 0x00, 0x00, 0x02};
  firmware.subs = testing::NeededSubFirmwares();
  return testing::BuildFwImage(firmware);
}

std::vector<std::string> ConfigJob(const std::string& name) { return {"-d", "-c", "--file", name}; }

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
  return count;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// A log message as the log keeps it: at most 1023 characters, the last of
// them its own line end, so that the next line does not run on.
std::string Cut(const std::string& message) {
  if (message.size() <= kMessageLimit) return message;
  size_t lineEnd = 0;
  while (lineEnd < 2 && (message[message.size() - 1 - lineEnd] == '\n' || message[message.size() - 1 - lineEnd] == '\r')) {
    ++lineEnd;
  }
  return message.substr(0, kMessageLimit - lineEnd) + message.substr(message.size() - lineEnd);
}

// ------------------------------------------------------------ native runs

// A run of tessaro-sim in a folder the test prepared, optionally as the
// unprivileged user "nobody".
struct NativeRun {
  std::string out;
  std::string err;
  int exitCode = -1;
  bool ran = false;
};

constexpr uid_t kNobody = 65534;

// Where the program's standard output goes: a file, or a pipe whose reader
// is gone before the program starts.
enum class Console { kFile, kGone };

// `simDir`, when given, holds the simulator's own files (TESSARO_SIM_DIR).
NativeRun RunSimIn(const std::string& dir, const std::vector<std::string>& args, bool unprivileged,
                   Console console = Console::kFile, int timeoutSeconds = 120, const std::string& simDir = "") {
  testing::TempDir capture;
  const std::string outPath = capture.File("stdout");
  const std::string errPath = capture.File("stderr");
  std::vector<std::string> command;
  const char* emulator = std::getenv("TESSARO_E2E_EMULATOR");
  if (emulator != nullptr && *emulator != '\0') command.push_back(emulator);
  command.push_back(ProgramPath(Program::kSim));
  command.insert(command.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : command) argv.push_back(word.data());
  argv.push_back(nullptr);

  int gone[2] = {-1, -1};
  if (console == Console::kGone && pipe(gone) == 0) close(gone[0]);
  const pid_t child = fork();
  if (child == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = console == Console::kGone ? gone[1] : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
        chdir(dir.c_str()) != 0) {
      _exit(126);
    }
    if (unprivileged && (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(126);
    if (!simDir.empty()) setenv("TESSARO_SIM_DIR", simDir.c_str(), 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (gone[1] >= 0) close(gone[1]);
  NativeRun run;
  if (child < 0) return run;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.out = testing::ReadFileBytes(outPath);
  run.err = testing::ReadFileBytes(errPath);
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.ran = WIFEXITED(status) && run.exitCode != 126 && run.exitCode != 127;
  return run;
}

// A folder the program can read but not write: by its permission bits, and
// for a test running as root by running the program as "nobody". Restores
// the bits when it ends, so the folder can be removed. The simulator keeps
// its controller in a folder of its own that stays writable: a simulator
// that cannot save its state ends the run, which is not what these cases
// are about.
class ReadOnlyFolder {
 public:
  ReadOnlyFolder() { chmod(simDir_.path().c_str(), 0777); }
  ~ReadOnlyFolder() { fs::permissions(dir_.path(), fs::perms::owner_all, fs::perm_options::add); }
  ReadOnlyFolder(const ReadOnlyFolder&) = delete;
  ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

  const testing::TempDir& dir() const { return dir_; }
  void Write(const std::string& name, const std::string& bytes) {
    const std::string path = name.rfind("tessaro-sim.", 0) == 0 ? simDir_.File(name) : dir_.File(name);
    testing::WriteFileBytes(path, bytes);
    chmod(path.c_str(), 0666);
  }
  // Closes the folder for writing; from here the program runs through Run.
  void Seal() { chmod(dir_.path().c_str(), 0555); }
  NativeRun Run(const std::vector<std::string>& args) const {
    return RunSimIn(dir_.path(), args, geteuid() == 0, Console::kFile, 120, simDir_.path());
  }

 private:
  testing::TempDir dir_;
  testing::TempDir simDir_;
};

// Skips the calling test when the programs are Windows programs or cannot
// be run unprivileged here.
#define SKIP_UNLESS_NATIVE_READ_ONLY_WORKS()                                                              \
  do {                                                                                                    \
    if (IsWindowsBuild()) GTEST_SKIP() << "needs a folder closed to the program: native runs only";      \
    ReadOnlyFolder probe;                                                                                 \
    probe.Write("tessaro-sim.json", kState);                                                             \
    probe.Seal();                                                                                         \
    const NativeRun version = probe.Run({"--version"});                                                   \
    if (!version.ran || version.exitCode != 0) {                                                          \
      GTEST_SKIP() << "the program cannot be run as user nobody (uid 65534) from this build folder, so a " \
                      "folder cannot be closed to it: "                                                   \
                   << version.err;                                                                        \
    }                                                                                                     \
    if (IsWritableByProgram(probe)) GTEST_SKIP() << "a folder with mode 0555 is still writable here";     \
  } while (0)

// Whether the program can create a file in a sealed folder after all (a
// file system that ignores permission bits): tried with the log itself.
bool IsWritableByProgram(const ReadOnlyFolder& folder) {
  folder.Run({"-d", "-p", "sensorid"});
  return testing::FileExists(folder.dir().File(kLogFile));
}

// ------------------------------------------------------------ the cases

TEST(LogStress, ReadOnlyFolderKeepsTheConsoleAndTheResult) {
  SKIP_UNLESS_NATIVE_READ_ONLY_WORKS();
  const RunResult baseline = RunSim(ConfigJob("cfg.txt"), {{"tessaro-sim.json", kState}, {"cfg.txt", Config()}});
  ASSERT_EQ(baseline.exitCode, 0) << baseline.out;

  ReadOnlyFolder folder;
  folder.Write("tessaro-sim.json", kState);
  folder.Write("cfg.txt", Config());
  folder.Seal();
  const NativeRun run = folder.Run(ConfigJob("cfg.txt"));
  ASSERT_TRUE(run.ran) << run.err;
  EXPECT_EQ(run.exitCode, baseline.exitCode);
  EXPECT_EQ(run.out, baseline.out);
  EXPECT_EQ(Count(run.err, kWarning), 1u) << run.err;
  EXPECT_FALSE(testing::FileExists(folder.dir().File(kLogFile)));
}

TEST(LogStress, OversizedLogThatCannotBeDeletedIsAppendedTo) {
  SKIP_UNLESS_NATIVE_READ_ONLY_WORKS();
  const RunResult baseline = RunSim(ConfigJob("cfg.txt"), {{"tessaro-sim.json", kState}, {"cfg.txt", Config()}});
  ASSERT_EQ(baseline.exitCode, 0) << baseline.out;

  // One byte past the limit, held sparse; the folder forbids deleting it,
  // the file itself may still be written.
  ReadOnlyFolder folder;
  folder.Write("tessaro-sim.json", kState);
  folder.Write("cfg.txt", Config());
  const std::string log = folder.dir().File(kLogFile);
  { std::ofstream(log, std::ios::binary); }
  fs::resize_file(log, kSizeLimit + 1);
  chmod(log.c_str(), 0666);
  folder.Seal();

  const NativeRun run = folder.Run(ConfigJob("cfg.txt"));
  ASSERT_TRUE(run.ran) << run.err;
  EXPECT_EQ(run.exitCode, baseline.exitCode);
  EXPECT_EQ(run.out, baseline.out);
  EXPECT_EQ(run.err.find(kWarning), std::string::npos) << run.err;

  // The old bytes stay; the run's lines follow them as they begin a new log.
  ASSERT_TRUE(testing::FileExists(log));
  std::ifstream in(log, std::ios::binary);
  std::string head(kSizeLimit + 1, 'x');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  EXPECT_EQ(head, std::string(kSizeLimit + 1, '\0'));
  const std::string appended((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(MaskTimestamps(appended), MaskTimestamps(baseline.ReadFile(kLogFile)));
}

// std::remove would take an empty directory for a file; the size rule must
// never delete anything but a log file.
TEST(LogStress, EmptyDirectoryAtTheLogPathIsLeftAlone) {
  if (IsWindowsBuild()) GTEST_SKIP() << "an empty folder at the log path: native runs only";
  const RunResult baseline = RunSim(ConfigJob("cfg.txt"), {{"tessaro-sim.json", kState}, {"cfg.txt", Config()}});
  testing::TempDir dir;
  testing::WriteFileBytes(dir.File("tessaro-sim.json"), kState);
  testing::WriteFileBytes(dir.File("cfg.txt"), Config());
  fs::create_directory(dir.File(kLogFile));

  const NativeRun run = RunSimIn(dir.path(), ConfigJob("cfg.txt"), false);
  ASSERT_TRUE(run.ran) << run.err;
  EXPECT_EQ(run.exitCode, baseline.exitCode);
  EXPECT_EQ(run.out, baseline.out);
  EXPECT_EQ(Count(run.err, kWarning), 1u) << run.err;
  EXPECT_TRUE(fs::is_directory(dir.File(kLogFile)));
}

// On Windows a file with the read-only attribute cannot be deleted, and
// whether it can be appended to depends on the user (under Wine, root can).
// Natively a read-only file in a writable folder can be deleted, so the
// folder case above stands for it there.
TEST(LogStress, ReadOnlyOversizedLogIsKeptOnWindows) {
  if (!IsWindowsBuild()) GTEST_SKIP() << "the read-only attribute stops deletion on Windows only";
  const RunResult baseline = RunSim(ConfigJob("cfg.txt"), {{"tessaro-sim.json", kState}, {"cfg.txt", Config()}});
  testing::TempDir dir;
  testing::WriteFileBytes(dir.File("tessaro-sim.json"), kState);
  testing::WriteFileBytes(dir.File("cfg.txt"), Config());
  const std::string log = dir.File(kLogFile);
  { std::ofstream(log, std::ios::binary); }
  fs::resize_file(log, kSizeLimit + 1);
  chmod(log.c_str(), 0444);

  const NativeRun run = RunSimIn(dir.path(), ConfigJob("cfg.txt"), false);
  ASSERT_TRUE(run.ran) << run.err;
  EXPECT_EQ(run.exitCode, baseline.exitCode);
  EXPECT_EQ(run.out, baseline.out);
  ASSERT_TRUE(testing::FileExists(log));
  const bool appended = fs::file_size(log) > kSizeLimit + 1;
  EXPECT_EQ(Count(run.err, TextMode(kWarning)), appended ? 0u : 1u) << run.err;
}

// A FIFO at the log path, with a reader: the lines stream to the reader,
// and nothing waits for a writer that never comes.
TEST(LogStress, FifoAtTheLogPathStreamsTheLog) {
  if (IsWindowsBuild()) GTEST_SKIP() << "a FIFO at the log path: native runs only";
  const RunResult baseline = RunSim(ConfigJob("cfg.txt"), {{"tessaro-sim.json", kState}, {"cfg.txt", Config()}});
  testing::TempDir dir;
  testing::WriteFileBytes(dir.File("tessaro-sim.json"), kState);
  testing::WriteFileBytes(dir.File("cfg.txt"), Config());
  ASSERT_EQ(mkfifo(dir.File(kLogFile).c_str(), 0600), 0);
  const int reader = open(dir.File(kLogFile).c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);

  const NativeRun run = RunSimIn(dir.path(), ConfigJob("cfg.txt"), false, Console::kFile, 20);
  std::string streamed;
  char buffer[4096];
  for (ssize_t got; (got = read(reader, buffer, sizeof buffer)) > 0;) streamed.append(buffer, static_cast<size_t>(got));
  close(reader);
  ASSERT_TRUE(run.ran) << "did not end";
  EXPECT_EQ(run.exitCode, baseline.exitCode);
  EXPECT_EQ(run.out, baseline.out);
  EXPECT_EQ(MaskTimestamps(streamed), MaskTimestamps(baseline.ReadFile(kLogFile)));
}

// A FIFO at the log path that nobody reads: the log cannot be opened, so one
// warning and the job goes on (it used to wait for ever with the controller
// open, a firmware update after its first chunk). The FIFO stays a FIFO.
TEST(LogStress, FifoWithoutAReaderIsALogThatCannotBeOpened) {
  if (IsWindowsBuild()) GTEST_SKIP() << "a FIFO at the log path: native runs only";
  const std::vector<std::vector<std::string>> jobs = {
      ConfigJob("cfg.txt"), {"-f", "--file", "fw.bin"}, {"-p", "vid"}};
  for (const std::vector<std::string>& job : jobs) {
    SCOPED_TRACE(job[0] + " " + job[1]);
    const std::vector<InputFile> files = {
        {"tessaro-sim.json", kState}, {"cfg.txt", Config()}, {"fw.bin", Firmware()}};
    const RunResult baseline = RunSim(job, files);
    testing::TempDir dir;
    for (const InputFile& file : files) testing::WriteFileBytes(dir.File(file.name), file.bytes);
    ASSERT_EQ(mkfifo(dir.File(kLogFile).c_str(), 0600), 0);
    const NativeRun run = RunSimIn(dir.path(), job, false, Console::kFile, 20);
    ASSERT_TRUE(run.ran) << "did not end";
    EXPECT_EQ(run.exitCode, baseline.exitCode);
    EXPECT_EQ(run.out, baseline.out);
    EXPECT_EQ(run.err, kWarning);
    EXPECT_TRUE(fs::is_fifo(dir.File(kLogFile)));
  }
}

// A FIFO at the log path and one as the trace, whose readers stop reading
// (their buffers full before the run): no line waits for them, so a
// firmware update ends as with files; the lines they had no room for are
// counted once each on standard error.
TEST(LogStress, FifosWhoseReadersStopNeverHoldTheJob) {
  if (IsWindowsBuild()) GTEST_SKIP() << "FIFOs: native runs only";
  const std::vector<std::string> job = {"-d", "-f", "--file", "fw.bin"};
  const std::vector<InputFile> files = {{"tessaro-sim.json", kState}, {"fw.bin", Firmware()}};
  const RunResult baseline = RunSim(job, files);
  testing::TempDir dir;
  for (const InputFile& file : files) testing::WriteFileBytes(dir.File(file.name), file.bytes);
  std::vector<int> readers;
  for (const std::string& name : {std::string(kLogFile), std::string("run.trace")}) {
    ASSERT_EQ(mkfifo(dir.File(name).c_str(), 0600), 0);
    readers.push_back(open(dir.File(name).c_str(), O_RDONLY | O_NONBLOCK));
    const int writer = open(dir.File(name).c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const std::string filler(512, 'f');
    while (write(writer, filler.data(), filler.size()) > 0) {
    }
    close(writer);
  }
  setenv("TESSARO_TRACE", "run.trace", 1);
  const NativeRun run = RunSimIn(dir.path(), job, false, Console::kFile, 60);
  unsetenv("TESSARO_TRACE");
  for (const int reader : readers) close(reader);
  ASSERT_TRUE(run.ran) << "did not end";
  EXPECT_EQ(run.exitCode, baseline.exitCode);
  EXPECT_EQ(run.out, baseline.out);
  EXPECT_EQ(testing::ReadFileBytes(dir.File("tessaro-sim.flash")), baseline.ReadFile("tessaro-sim.flash"));
  const std::string log = MaskTimestamps(baseline.ReadFile(kLogFile));
  const size_t logLines = Count(log, "YYYY-MM-DD HH:MM:SS:mmm -> ");
  const std::string trace = baseline.ReadFile("tessaro-sim.trace");
  const size_t traceLines = static_cast<size_t>(std::count(trace.begin(), trace.end(), '\n'));
  EXPECT_EQ(run.err, "warning: " + std::to_string(logLines) +
                         " lines were not written to the log file .//TessaroLogFile.txt: its reader did not keep up\n"
                         "run.trace: " + std::to_string(traceLines) + " lines dropped, its reader did not keep up\n");
}

TEST(LogStress, DirectoryAtTheLogPathKeepsTheConsoleAndTheResult) {
  const RunResult baseline = RunSim(ConfigJob("cfg.txt"), {{"tessaro-sim.json", kState}, {"cfg.txt", Config()}});
  ASSERT_EQ(baseline.exitCode, 0) << baseline.out;
  const RunResult run = RunSim(ConfigJob("cfg.txt"), {{"tessaro-sim.json", kState},
                                                      {"cfg.txt", Config()},
                                                      {std::string(kLogFile) + "/earlier.txt", "kept"}});
  EXPECT_EQ(run.exitCode, baseline.exitCode);
  EXPECT_EQ(run.out, baseline.out);
  EXPECT_EQ(Count(run.err, TextMode(kWarning)), 1u) << run.err;
  EXPECT_EQ(run.ReadFile(std::string(kLogFile) + "/earlier.txt"), "kept");
}

// A file name of 2000 characters: the entry point's own line shows it
// whole, every log line that carries it is cut at 1023 characters (keeping
// its line end), and the job fails as for any missing file.
TEST(LogStress, MessagesPast1023CharactersAreCut) {
  const std::string name = std::string(1996, 'n') + ".bin";
  const RunResult run = RunSim({"-f", "--file", name}, {{"tessaro-sim.json", kState}});
  const std::string open = Cut("error     : open fw file FAILED, fw_name:" + name + "\n");
  const std::string failed = Cut("error     : Failed read firmware file:" + name + ", ret:-1\n");
  ASSERT_EQ(open.size(), kMessageLimit);
  EXPECT_EQ(run.out, TextMode("update firmware, file name:" + name + "\n" + open + failed));
  EXPECT_EQ(run.exitCode, ExitCode(-2));
  const std::string stamp = "YYYY-MM-DD HH:MM:SS:mmm -> ";
  EXPECT_EQ(MaskTimestamps(run.ReadFile(kLogFile)), TextMode(stamp + open + stamp + failed + "\n"));
  EXPECT_EQ(run.err, "");
}

// The same length of name for a file that exists, natively (a Windows path
// of 2000 characters cannot be opened): only the log lines are cut, the job
// succeeds as with a short name.
TEST(LogStress, LongNameOfAnExistingFileLeavesTheJobAlone) {
  if (IsWindowsBuild()) GTEST_SKIP() << "paths past 260 characters: native runs only";
  std::string folder;
  while (folder.size() < 1900) folder += std::string(200, 'd') + "/";
  const std::string name = folder + "cfg.txt";
  const RunResult baseline = RunSim(ConfigJob("cfg.txt"), {{"tessaro-sim.json", kState}, {"cfg.txt", Config()}});
  const RunResult run = RunSim(ConfigJob(name), {{"tessaro-sim.json", kState}, {name, Config()}});
  EXPECT_EQ(run.exitCode, baseline.exitCode);
  EXPECT_EQ(baseline.exitCode, 0);
  EXPECT_NE(run.out.find("update configuration, file name:" + name + "\n"), std::string::npos);
  const std::string opened = Cut("dbg info  : open cfg file success, cfg_name:" + name + "\n");
  EXPECT_NE(run.out.find(opened + "dbg info  : cfg file size:"), std::string::npos);
  // Everything after the lines that carry the name is as with a short name.
  const std::string tail = "dbg info  : cfg file size:";
  EXPECT_EQ(run.out.substr(run.out.find(tail)), baseline.out.substr(baseline.out.find(tail)));
}

// A console that goes away (the output piped into a reader that quit)
// must not end a firmware update half way: the job runs to its end, closes
// the controller and writes the whole log file.
TEST(LogStress, ConsoleGoneLeavesTheUpdateToEnd) {
  if (IsWindowsBuild()) GTEST_SKIP() << "a closed pipe as the console: native runs only";
  testing::FwImageSpec spec;
  spec.pidField = "TS01";
  spec.vid = {0x02, 0x00, 0x00, 0x02};
  spec.subs = {testing::MakeSubFirmware(2, 300, 0x0000, 1), testing::MakeSubFirmware(6, 60, 0x0400, 2),
               testing::MakeSubFirmware(11, 57, 0x0600, 3)};
  const std::string image = testing::BuildFwImage(spec);
  const std::vector<std::string> job = {"-d", "-f", "--file", "fw.bin"};
  const RunResult baseline = RunSim(job, {{"tessaro-sim.json", kState}, {"fw.bin", image}});
  ASSERT_EQ(baseline.exitCode, 0) << baseline.out;

  testing::TempDir dir;
  testing::WriteFileBytes(dir.File("tessaro-sim.json"), kState);
  testing::WriteFileBytes(dir.File("fw.bin"), image);
  const NativeRun run = RunSimIn(dir.path(), job, false, Console::kGone);
  ASSERT_TRUE(run.ran) << "ended by a signal or not at all: " << run.err;
  EXPECT_EQ(run.exitCode, baseline.exitCode);
  EXPECT_EQ(MaskTimestamps(testing::ReadFileBytes(dir.File(kLogFile))), MaskTimestamps(baseline.ReadFile(kLogFile)));
  const std::string trace = testing::ReadFileBytes(dir.File("tessaro-sim.trace"));
  EXPECT_EQ(trace.substr(trace.rfind('\n', trace.size() - 2) + 1), "close \\\\?\\hid#tessaro-sim&col01\n");
}

// A FIFO given as the image or the configuration: refused like a missing
// file, after which the job closes the controller, instead of waiting for a
// writer with the controller open.
TEST(SpecialFiles, FifoAsTheFileIsRefused) {
  if (IsWindowsBuild()) GTEST_SKIP() << "FIFOs: native runs only";
  for (const bool firmware : {true, false}) {
    SCOPED_TRACE(firmware ? "firmware" : "configuration");
    testing::TempDir dir;
    testing::WriteFileBytes(dir.File("tessaro-sim.json"), kState);
    ASSERT_EQ(mkfifo(dir.File("image").c_str(), 0600), 0);
    const NativeRun run =
        RunSimIn(dir.path(), {firmware ? "-f" : "-c", "--file", "image"}, false, Console::kFile, 20);
    ASSERT_TRUE(run.ran) << "did not end";
    EXPECT_EQ(run.exitCode, ExitCode(-2));
    const std::string refusal = firmware ? "error     : open fw file FAILED, fw_name:image\n"
                                         : "error     : open cfg file FAILED, cfg_name:image\n";
    EXPECT_NE(run.out.find(refusal), std::string::npos) << run.out;
    const std::string trace = testing::ReadFileBytes(dir.File("tessaro-sim.trace"));
    EXPECT_EQ(trace.substr(trace.rfind('\n', trace.size() - 2) + 1), "close \\\\?\\hid#tessaro-sim&col01\n");
  }
}

// Names with percent signs (which must never act as a format) and bytes
// outside ASCII: every line shows the name unchanged, the job is the same.
void ExpectNameShownUnchanged(const std::string& name) {
  SCOPED_TRACE("file name " + name);
  const RunResult baseline = RunSim(ConfigJob("cfg.txt"), {{"tessaro-sim.json", kState}, {"cfg.txt", Config()}});
  const RunResult run = RunSim(ConfigJob(name), {{"tessaro-sim.json", kState}, {name, Config()}});
  EXPECT_EQ(run.exitCode, baseline.exitCode);
  EXPECT_EQ(baseline.exitCode, 0);
  EXPECT_EQ(run.out, ReplaceAll(baseline.out, "cfg.txt", name));
  EXPECT_EQ(MaskTimestamps(run.ReadFile(kLogFile)),
            ReplaceAll(MaskTimestamps(baseline.ReadFile(kLogFile)), "cfg.txt", name));

  // And for a file that is missing, through the error lines.
  const RunResult missing = RunSim({"-f", "--file", name}, {{"tessaro-sim.json", kState}});
  EXPECT_EQ(missing.exitCode, ExitCode(-2));
  EXPECT_EQ(missing.out, TextMode("update firmware, file name:" + name + "\nerror     : open fw file FAILED, fw_name:" +
                                  name + "\nerror     : Failed read firmware file:" + name + ", ret:-1\n"));
}

TEST(LogStress, PercentSignsInNamesArePrintedAsTheyAre) {
  ExpectNameShownUnchanged("100%_%s%n%d%%x%.9999f.txt");
}

TEST(LogStress, BytesOutsideAsciiInNamesArePrintedAsTheyAre) {
  if (IsWindowsBuild()) GTEST_SKIP() << "Wine converts such arguments to its code page: native runs only";
  ExpectNameShownUnchanged("f\xC3\xAFrmw\xC3\xA4re-\xFF\xFE-%ls.txt");
}

}  // namespace
}  // namespace tessaro::e2e
