#pragma once
// The run records a run leaves when the environment asks for them:
// TESSARO_RESULT=PATH, one JSON object that says how the run ended, and
// TESSARO_TRACE=PATH, every HID event and sleep in tessaro-sim's trace
// format. Neither changes the console, the log file or the exit code; unset,
// neither costs anything beyond reading the two variables.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/options.h"
#include "base/run_record.h"
#include "base/trace_recorder.h"

namespace tessaro {

// Everything the result file is made of.
struct RunSummary {
  std::string program;
  std::string version;
  // From TESSARO_STATION and TESSARO_UNIT, free text; absent when unset.
  std::optional<std::string> station;
  std::optional<std::string> unit;
  bool optionsParsed = false;  // false when the option parser ended the run
  RunOptions options;
  JobKind job = JobKind::kNone;
  std::string property;  // the lower-cased word of a query
  // The entry point's own refusal, without its line end; empty for a job.
  std::string refusal;
  int32_t result = 0;
  RunFacts facts;
  std::string startUtc;  // ISO 8601, milliseconds, "Z"
  int64_t durationMs = 0;
};

// The format of the result file (schema/result.schema.json); it changes
// when a key changes meaning or goes away, not when one is added.
constexpr int kResultSchema = 1;

// The outcome as one word: read, updated, not-needed-other-pid,
// not-needed-same-vid, not-needed-version, failed, no-controller, busy,
// refused-file, refused-options, unknown-property, no-job.
std::string OutcomeWord(const RunSummary& summary);
// The result file's text: one JSON object, every key of the schema in a
// fixed order (null where it does not apply), a line end.
std::string ResultJson(const RunSummary& summary);

// Whether the text is a result file that a run of this tool wrote: the only
// content TESSARO_RESULT may remove or replace.
bool IsEarlierResult(const std::string& text);

class RunRecords {
 public:
  // argv0 names the program in the result (its file name without ".exe").
  RunRecords(const char* argv0, const char* version);
  ~RunRecords();
  RunRecords(const RunRecords&) = delete;
  RunRecords& operator=(const RunRecords&) = delete;

  void SetOptions(const RunOptions& options);
  // The option parser is about to end the run: help and usage (0) leave no
  // result, a wrong command line (1) leaves one with the parser's message.
  void ParserEnded(int exitCode, const std::string& error);
  // A run that reaches no job and makes no refusal (--version): no result,
  // and none of an earlier run.
  int32_t NoResult(int32_t exitCode);
  // Just before the job runs; the result file of an earlier run goes away.
  void SetJob(JobKind job, const std::string& property);
  // The end of a run that was refused after the command line parsed, with
  // the refusal's text; returns the exit code unchanged.
  int32_t Refused(int32_t exitCode, const char* text);
  // The end of a run that reached the dispatch; returns the result unchanged.
  int32_t Finish(int32_t result);

 private:
  void Write();
  void RemoveEarlier();

  std::string resultPath_;
  std::unique_ptr<TraceRecorder> trace_;
  RunSummary summary_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace tessaro
