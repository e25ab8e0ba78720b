#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/seams.h"
#include "base/system.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using testing::FakeClock;
using testing::FileExists;
using testing::ReadFileBytes;
using testing::TempDir;

constexpr const char* kFile = "TessaroLogFile.txt";
constexpr const char* kStamp = "2024-03-05 06:07:08:009 -> ";

// What "\n" becomes through a text-mode stream on this platform.
std::string TextLineEnd() {
  TempDir dir;
  const std::string probe = dir.File("probe");
  std::FILE* file = std::fopen(probe.c_str(), "w");
  std::fputs("\n", file);
  std::fclose(file);
  return ReadFileBytes(probe);
}

std::string InTextMode(const std::string& text) {
  static const std::string lineEnd = TextLineEnd();
  std::string converted;
  for (char c : text) converted += c == '\n' ? lineEnd : std::string(1, c);
  return converted;
}

// Everything written to one of the standard streams while it lives, with
// line ends as the program wrote them.
class StreamCapture {
 public:
  explicit StreamCapture(std::FILE* stream) : stream_(stream), dir_() {
    std::fflush(stream_);
    saved_ = dup(fileno(stream_));
    std::FILE* target = std::fopen(dir_.File("captured").c_str(), "w");
    dup2(fileno(target), fileno(stream_));
    std::fclose(target);
  }
  ~StreamCapture() { Restore(); }
  StreamCapture(const StreamCapture&) = delete;
  StreamCapture& operator=(const StreamCapture&) = delete;

  std::string Text() {
    Restore();
    std::ifstream in(dir_.File("captured"));  // text mode undoes the line ends
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stream_);
    dup2(saved_, fileno(stream_));
    close(saved_);
    saved_ = -1;
  }

  std::FILE* stream_;
  TempDir dir_;
  int saved_ = -1;
};

// The platform's file system, remembering what it was asked to delete.
class RecordingFileSystem final : public FileSystem {
 public:
  RecordingFileSystem() = default;
  bool OpenForRead(const char* name, FileHandle& out) override { return platform().OpenForRead(name, out); }
  uint32_t SizeLow32(FileHandle file) override { return platform().SizeLow32(file); }
  bool Read(FileHandle file, uint8_t* buffer, uint32_t lengthBytes, uint32_t& readBytes) override {
    return platform().Read(file, buffer, lengthBytes, readBytes);
  }
  void Close(FileHandle file) override { platform().Close(file); }
  uint32_t LastError() override { return platform().LastError(); }
  bool Delete(const char* name) override {
    deleted.push_back(name);
    return platform().Delete(name);
  }
  bool OpenForAppend(const char* name, FileHandle& out) override { return platform().OpenForAppend(name, out); }
  bool Append(FileHandle file, const char* bytes, uint32_t lengthBytes) override {
    return platform().Append(file, bytes, lengthBytes);
  }

  std::vector<std::string> deleted;

 private:
  FileSystem& platform() const { return installed_.previous(); }

  Installed<FileSystem> installed_{this};
};

// The log's process-wide state as at the start of a run, in a fresh current
// directory, with the tool's sink installed.
class LogTest : public ::testing::Test {
 protected:
  LogTest() { ResetLog(); }
  ~LogTest() override {
    FinishLogFile();
    ResetLog();
  }
  static void ResetLog() {
    if (logFile != kInvalidFileHandle) TheFileSystem().Close(logFile);
    logFile = kInvalidFileHandle;
    logSizeRuleRun = false;
    logSink = nullptr;
    logMask = 1;
  }

  SystemBackends system_;
  TempDir dir_{true};
  FakeClock clock_;
  RecordingFileSystem files_;
};

// An existing log file of the given size whose first bytes are "earlier\n".
void MakeLogFileOfSize(std::uintmax_t sizeBytes) {
  testing::WriteFileBytes(kFile, "earlier\n");
  fs::resize_file(kFile, sizeBytes);  // sparse where the file system allows
}

std::string Head(const std::string& path, size_t lengthBytes) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes(lengthBytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(lengthBytes));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

std::string Tail(const std::string& path, std::uintmax_t fromByte) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(fromByte));
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(LogTest, WritesTheMessageToTheConsoleAndBehindAUtcTimestampToTheFile) {
  logSink = WriteLogLine;
  StreamCapture console(stdout);
  LogPrint("error     : open TLC failed\n");
  EXPECT_EQ(console.Text(), "error     : open TLC failed\n");
  FinishLogFile();
  EXPECT_EQ(ReadFileBytes(kFile), InTextMode(std::string(kStamp) + "error     : open TLC failed\n\n"));
}

TEST_F(LogTest, FormatsEveryTimestampWithFixedWidths) {
  struct Case {
    UtcTime time;
    std::string stamp;
  };
  const std::vector<Case> cases = {
      {{2024, 3, 5, 6, 7, 8, 9}, "2024-03-05 06:07:08:009 -> "},
      {{1999, 12, 31, 23, 59, 59, 999}, "1999-12-31 23:59:59:999 -> "},
      {{2000, 1, 1, 0, 0, 0, 0}, "2000-01-01 00:00:00:000 -> "},
      {{2038, 10, 10, 10, 10, 10, 100}, "2038-10-10 10:10:10:100 -> "},
  };
  logSink = WriteLogLine;
  std::string expected;
  StreamCapture console(stdout);
  for (const Case& c : cases) {
    clock_.now = c.time;
    LogPrint("info      : %d\n", c.time.year);
    expected += c.stamp + "info      : " + std::to_string(c.time.year) + "\n";
  }
  FinishLogFile();
  EXPECT_EQ(ReadFileBytes(kFile), InTextMode(expected + "\n"));
}

TEST_F(LogTest, GivesEachProgressMessageItsOwnTimestamp) {
  logSink = WriteLogLine;
  StreamCapture console(stdout);
  LogPrint("info      : %s %d/100\r", "fw", 50);
  LogPrint("info      : %s %d/100\r", "fw", 100);
  LogPrint("info      : \n");
  EXPECT_EQ(console.Text(), "info      : fw 50/100\rinfo      : fw 100/100\rinfo      : \n");
  EXPECT_EQ(ReadFileBytes(kFile), InTextMode(std::string(kStamp) + "info      : fw 50/100\r" + kStamp +
                                             "info      : fw 100/100\r" + kStamp + "info      : \n"));
}

TEST_F(LogTest, PrintsPercentSignsOfArgumentsUnchanged) {
  logSink = WriteLogLine;
  StreamCapture console(stdout);
  LogPrint("info      : file:%s\n", "fw%s%d%n%%.bin");
  WriteLogLine("dbg info  : 100% %s\n");
  const std::string expected = "info      : file:fw%s%d%n%%.bin\ndbg info  : 100% %s\n";
  EXPECT_EQ(console.Text(), expected);
  EXPECT_EQ(ReadFileBytes(kFile), InTextMode(std::string(kStamp) + "info      : file:fw%s%d%n%%.bin\n" + kStamp +
                                             "dbg info  : 100% %s\n"));
}

TEST_F(LogTest, CutsMessagesLongerThan1023Characters) {
  struct Case {
    size_t length;
    size_t kept;
  };
  static std::string received;
  logSink = [](const char* text) { received = text; };
  for (const Case c : {Case{1022, 1022}, Case{1023, 1023}, Case{1024, 1023}, Case{5000, 1023}}) {
    SCOPED_TRACE(c.length);
    LogPrint("%s", std::string(c.length, 'x').c_str());
    EXPECT_EQ(received, std::string(c.kept, 'x'));
  }
  // A short message after a long one carries nothing of it.
  LogPrint("%s", "short");
  EXPECT_EQ(received, "short");

  // A cut message keeps its own line end in its 1023 characters, whether
  // the format or an argument brings it.
  for (const std::string end : {"\n", "\r\n", "\r"}) {
    SCOPED_TRACE(end.size());
    const std::string text = std::string(2000, 'y');
    LogPrint("error     : %s%s", text.c_str(), end.c_str());
    EXPECT_EQ(received, "error     : " + std::string(1023 - 12 - end.size(), 'y') + end);
    LogPrint(("info      : %s" + end).c_str(), text.c_str());
    EXPECT_EQ(received, "info      : " + std::string(1023 - 12 - end.size(), 'y') + end);
  }
  LogPrint("%s", (std::string(1022, 'z') + "\n").c_str());  // fits: nothing to keep
  EXPECT_EQ(received, std::string(1022, 'z') + "\n");
}

TEST_F(LogTest, DoesNothingWithoutASink) {
  StreamCapture console(stdout);
  LogPrint("error     : %s\n", "lost");
  FinishLogFile();
  EXPECT_EQ(console.Text(), "");
  EXPECT_FALSE(FileExists(kFile));
}

TEST_F(LogTest, LeavesNoFileWhenNothingWasLogged) {
  logSink = WriteLogLine;
  FinishLogFile();
  EXPECT_FALSE(FileExists(kFile));

  testing::WriteFileBytes(kFile, "earlier\n");
  FinishLogFile();
  EXPECT_EQ(ReadFileBytes(kFile), "earlier\n");
}

TEST_F(LogTest, AppendsToAnExistingFileAndEndsTheRunWithAnEmptyLine) {
  testing::WriteFileBytes(kFile, "earlier\n");
  logSink = WriteLogLine;
  StreamCapture console(stdout);
  LogPrint("info      : one\n");
  LogPrint("info      : two");
  FinishLogFile();
  EXPECT_EQ(logFile, kInvalidFileHandle);
  EXPECT_EQ(ReadFileBytes(kFile),
            "earlier\n" + InTextMode(std::string(kStamp) + "info      : one\n" + kStamp + "info      : two\n"));
  FinishLogFile();  // a second close adds nothing
  EXPECT_EQ(ReadFileBytes(kFile),
            "earlier\n" + InTextMode(std::string(kStamp) + "info      : one\n" + kStamp + "info      : two\n"));
}

TEST_F(LogTest, KeepsAFileOfExactlyTheLimitAndAppendsToIt) {
  MakeLogFileOfSize(31457280);
  logSink = WriteLogLine;
  StreamCapture console(stdout);
  LogPrint("info      : kept\n");
  FinishLogFile();
  EXPECT_TRUE(files_.deleted.empty());
  EXPECT_EQ(Head(kFile, 8), "earlier\n");
  EXPECT_EQ(Tail(kFile, 31457280), InTextMode(std::string(kStamp) + "info      : kept\n\n"));
}

TEST_F(LogTest, DeletesALargerFileAtTheFirstLineOnly) {
  MakeLogFileOfSize(31457281);
  logSink = WriteLogLine;
  StreamCapture console(stdout);
  LogPrint("info      : first\n");
  EXPECT_EQ(files_.deleted, std::vector<std::string>{kLogFileName});
  EXPECT_EQ(ReadFileBytes(kFile), InTextMode(std::string(kStamp) + "info      : first\n"));

  // Grown past the limit during the run, it stays until a later run.
  FinishLogFile();
  fs::resize_file(kFile, 31457281 + 100);
  LogPrint("info      : second\n");
  FinishLogFile();
  EXPECT_EQ(files_.deleted.size(), 1u);
  EXPECT_EQ(Tail(kFile, 31457281 + 100), InTextMode(std::string(kStamp) + "info      : second\n\n"));
}

TEST_F(LogTest, WarnsOnceAndKeepsTheConsoleCopyWhenTheFileCannotBeOpened) {
  // A folder in the file's place cannot be opened for appending.
  fs::create_directory(kFile);
  testing::WriteFileBytes(std::string(kFile) + "/keep", "so that it cannot be removed");
  logSink = WriteLogLine;
  StreamCapture errors(stderr);
  StreamCapture console(stdout);
  LogPrint("error     : one\n");
  LogPrint("error     : two\n");
  FinishLogFile();
  EXPECT_EQ(console.Text(), "error     : one\nerror     : two\n");
  EXPECT_EQ(errors.Text(),
            "warning: cannot open the log file .//TessaroLogFile.txt for appending; the log goes to the console "
            "only\n");
}

}  // namespace
}  // namespace tessaro
