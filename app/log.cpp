#include "app/log.h"

#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/run_record.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace tessaro {

int32_t logMask = 1;
LogSink logSink = nullptr;
std::FILE* logFile = nullptr;
bool logSizeRuleRun = false;

namespace {

char messageBuffer[kLogMessageBufferBytes];
bool appendFailureReported = false;

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

}  // namespace

void LogPrint(const char* format, ...) {
  if (logSink == nullptr) return;
  std::memset(messageBuffer, 0, sizeof messageBuffer);
  va_list args;
  va_start(args, format);
  std::vsnprintf(messageBuffer, sizeof messageBuffer, format, args);
  va_end(args);
  logSink(messageBuffer);
}

void WriteLogLine(const char* text) {
  // The console copy comes first, so a message is seen even when the file fails.
  std::fputs(text, stdout);
  std::fflush(stdout);
  NoteMessage(text);

  const UtcTime now = TheClock().NowUtc();
  char timestamp[28];
  std::snprintf(timestamp, sizeof timestamp, "%04d-%02d-%02d %02d:%02d:%02d:%03d -> ", now.year, now.month,
                now.day, now.hour, now.minute, now.second, now.millisecond);

  if (!logSizeRuleRun) ApplySizeRule();
  if (logFile == nullptr) {
    logFile = std::fopen(kLogFileName, "a");
    if (logFile == nullptr) {
      if (!appendFailureReported) {
        appendFailureReported = true;
        std::fprintf(stderr, "warning: cannot open the log file %s for appending; the log goes to the console only\n",
                     kLogFileName);
      }
      return;
    }
  }
  std::fputs(timestamp, logFile);
  std::fputs(text, logFile);
  std::fflush(logFile);
}

void FinishLogFile() {
  if (logFile == nullptr) return;
  std::fputs("\n", logFile);
  std::fclose(logFile);
  logFile = nullptr;
}

}  // namespace tessaro
