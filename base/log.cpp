#include "base/log.h"

#include <cstdarg>
#include <cstring>
#include <string>
#include <filesystem>
#include <system_error>

#include "base/clock.h"
#include "base/file.h"
#include "base/output_file.h"
#include "base/run_record.h"

namespace tessaro {

int32_t logMask = 1;
LogSink logSink = nullptr;
FileHandle logFile = kInvalidFileHandle;
bool logSizeRuleRun = false;

namespace {

char messageBuffer[kLogMessageBufferBytes];
bool appendFailureReported = false;
// A write that failed (full disk, a size limit) ends the file's part of the
// run; lines that a FIFO's reader had no room for are only counted.
bool writeFailed = false;
uint64_t droppedLines = 0;

std::string Timestamp() {
  const UtcTime now = TheClock().NowUtc();
  char timestamp[28];
  std::snprintf(timestamp, sizeof timestamp, "%04d-%02d-%02d %02d:%02d:%02d:%03d -> ", now.year, now.month,
                now.day, now.hour, now.minute, now.second, now.millisecond);
  return timestamp;
}

// The console has every line; the log file must never make the job wait.
void AppendToLogFile(const std::string& line) {
  FileSystem& files = TheFileSystem();
  if (files.Append(logFile, line.data(), static_cast<uint32_t>(line.size()))) return;
  const uint32_t error = files.LastError();
  if (output::WouldWait(error)) {
    ++droppedLines;
    return;
  }
  writeFailed = true;
  std::fprintf(stderr, "warning: cannot write the log file %s (%s); the log goes to the console only\n", kLogFileName,
               output::ErrorText(error).c_str());
}

// Runs once per process, at the first line: an oversized log from earlier
// runs is removed so that the file cannot grow without bound.
void ApplySizeRule() {
  logSizeRuleRun = true;
  // Only a regular file has a size to keep: opening a FIFO at the log path
  // for reading would wait for a writer that never comes.
  std::error_code error;
  if (!std::filesystem::is_regular_file(kLogFileName, error)) return;
  std::FILE* existing = std::fopen(kLogFileName, "r");
  if (existing == nullptr) return;
  std::fclose(existing);
  // The size in 64 bits: where long has 32, a log past 2 GiB would make
  // ftell fail and the file would never be deleted again.
  const std::uintmax_t size = std::filesystem::file_size(kLogFileName, error);
  if (!error && size > static_cast<std::uintmax_t>(kLogSizeLimitBytes)) {
    // A file that cannot be deleted is appended to as before.
    (void)TheFileSystem().Delete(kLogFileName);
  }
}

// A text cut at the buffer's end would lose its line end, and the next
// message would run on in the same line: the cut text ends with the full
// text's own line end ("\n", "\r\n" or the progress "\r") instead.
void KeepLineEnd(const char* format, va_list args, int fullLength) {
  std::string full(static_cast<size_t>(fullLength) + 1, '\0');
  std::vsnprintf(full.data(), full.size(), format, args);
  full.pop_back();
  size_t lineEnd = 0;
  while (lineEnd < 2 && lineEnd < full.size()) {
    const char c = full[full.size() - 1 - lineEnd];
    if (c != '\n' && c != '\r') break;
    ++lineEnd;
  }
  const size_t kept = sizeof messageBuffer - 1;
  std::memcpy(messageBuffer + kept - lineEnd, full.data() + full.size() - lineEnd, lineEnd);
}

}  // namespace

void LogPrint(const char* format, ...) {
  if (logSink == nullptr) return;
  std::memset(messageBuffer, 0, sizeof messageBuffer);
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(messageBuffer, sizeof messageBuffer, format, args);
  if (length >= static_cast<int>(sizeof messageBuffer)) KeepLineEnd(format, again, length);
  va_end(again);
  va_end(args);
  logSink(messageBuffer);
}

void WriteLogLine(const char* text) {
  // The console copy comes first, so a message is seen even when the file fails.
  std::fputs(text, stdout);
  std::fflush(stdout);
  NoteMessage(text);

  const std::string timestamp = Timestamp();

  if (!logSizeRuleRun) ApplySizeRule();
  FileSystem& files = TheFileSystem();
  if (logFile == kInvalidFileHandle) {
    // Never waits: a FIFO without a reader is a log that cannot be opened.
    if (!files.OpenForAppend(kLogFileName, logFile)) {
      logFile = kInvalidFileHandle;
      if (!appendFailureReported) {
        appendFailureReported = true;
        std::fprintf(stderr, "warning: cannot open the log file %s for appending; the log goes to the console only\n",
                     kLogFileName);
      }
      return;
    }
  }
  if (writeFailed) return;
  AppendToLogFile(timestamp + text);
}

void FinishLogFile() {
  if (logFile == kInvalidFileHandle) return;
  FileSystem& files = TheFileSystem();
  if (droppedLines != 0) {
    char note[200];
    std::snprintf(note, sizeof note, "warning: %llu lines were not written to the log file %s: its reader did not keep up\n",
                  static_cast<unsigned long long>(droppedLines), kLogFileName);
    std::fputs(note, stderr);
    // Where the reader has caught up, the log says it too.
    const std::string line = Timestamp() + note;
    (void)files.Append(logFile, line.data(), static_cast<uint32_t>(line.size()));
    droppedLines = 0;
  }
  if (!writeFailed) (void)files.Append(logFile, "\n", 1);
  files.Close(logFile);
  logFile = kInvalidFileHandle;
  writeFailed = false;
}

}  // namespace tessaro
