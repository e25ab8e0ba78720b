#include "tests/support/log_capture.h"

namespace tessaro::testing {
namespace {

std::string captured;

void CaptureLine(const char* text) { captured += text; }
void DropLine(const char*) {}

}  // namespace

LogCapture::LogCapture(int32_t mask, bool keep) : previousSink_(logSink), previousMask_(logMask) {
  captured.clear();
  logSink = keep ? CaptureLine : DropLine;
  logMask = mask;
}

LogCapture::~LogCapture() {
  logSink = previousSink_;
  logMask = previousMask_;
}

const std::string& LogCapture::text() const { return captured; }

void LogCapture::clear() { captured.clear(); }

}  // namespace tessaro::testing
