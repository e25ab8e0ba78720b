#pragma once
// The tool's one log: every progress, diagnostic and failure message goes
// through LogPrint, which formats it and hands it to the installed sink.
// Code logs with LOG_ERROR, LOG_INFO and LOG_DEBUG (below), which own the
// bit test, so that a suppressed message costs one bit test and is never
// formatted.
#include <cstdint>
#include <cstdio>

#include "base/file.h"

namespace tessaro {

// Bit 0: "error     : " and "info      : " lines. Bit 1: "dbg info  : " lines.
constexpr int32_t kLogError = 1;
constexpr int32_t kLogInfo = 1;
constexpr int32_t kLogDebug = 2;

using LogSink = void (*)(const char* text);

constexpr const char* kLogFileName = ".//TessaroLogFile.txt";
// A log file strictly larger than this is deleted at the first line of a run.
constexpr long kLogSizeLimitBytes = 31457280;
constexpr int kLogMessageBufferBytes = 1024;

extern int32_t logMask;
extern LogSink logSink;
// The open log file, kInvalidFileHandle while none is open.
extern FileHandle logFile;
extern bool logSizeRuleRun;

// Formats into the 1024-byte message buffer and hands the result to logSink;
// does nothing while no sink is installed. A longer text is cut to 1023
// characters that end with its own line end, so the next line does not run
// on.
#if defined(__clang__)
__attribute__((format(printf, 1, 2)))
#elif defined(__GNUC__)
__attribute__((format(gnu_printf, 1, 2)))
#endif
void LogPrint(const char* format, ...);

// The text is written whole at the call, level prefix included, so that a
// line seen in a log file is found in the code by its text; the compiler
// checks that the prefix is the one of the level. Macros and not functions,
// so that the arguments of a suppressed line are not even evaluated and the
// format is checked against them at the call.
#define LOG_ERROR(...) TESSARO_LOG_AT(::tessaro::kLogError, "error     : ", __VA_ARGS__)
#define LOG_INFO(...) TESSARO_LOG_AT(::tessaro::kLogInfo, "info      : ", __VA_ARGS__)
#define LOG_DEBUG(...) TESSARO_LOG_AT(::tessaro::kLogDebug, "dbg info  : ", __VA_ARGS__)

#define TESSARO_LOG_FORMAT_OF(format, ...) format
#define TESSARO_LOG_AT(bit, prefix, ...)                                                            \
  do {                                                                                             \
    static_assert(::tessaro::StartsWith(TESSARO_LOG_FORMAT_OF(__VA_ARGS__, 0), prefix),            \
                  "a log text begins with the prefix of its level");                               \
    if (::tessaro::logMask & (bit)) ::tessaro::LogPrint(__VA_ARGS__);                              \
  } while (0)

constexpr bool StartsWith(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (*text != *prefix) return false;
  }
  return true;
}

// The sink of the tool: the text unchanged to standard output, then behind a
// UTC timestamp to the log file, which it opens at the first line. Timestamp
// and text reach the file in one write, so that runs appending at the same
// time never split each other's lines.
void WriteLogLine(const char* text);

// End of a job run: a last "\n" into the log file if it is open, then close it.
void FinishLogFile();

}  // namespace tessaro
