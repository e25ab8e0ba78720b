#include "info/line_capture.h"

namespace tessaro::info {

std::vector<std::string>* LineCapture::lines_ = nullptr;

LineCapture::LineCapture() : previousSink_(logSink), previousMask_(logMask) {
  lines_ = &captured_;
  logSink = &Sink;
  logMask = kLogError;
}

LineCapture::~LineCapture() {
  logSink = previousSink_;
  logMask = previousMask_;
  lines_ = nullptr;
}

std::vector<std::string> LineCapture::Take() {
  std::vector<std::string> lines;
  lines.swap(captured_);
  return lines;
}

void LineCapture::Sink(const char* text) {
  if (lines_ == nullptr) return;
  std::string line(text);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  lines_->push_back(line);
}

}  // namespace tessaro::info
