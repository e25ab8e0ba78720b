#pragma once
// An update guard that records when a job opens and closes its "update in
// progress" window, with what the probe says at that moment (for instance
// how many reports had gone out).
#include <functional>
#include <string>
#include <vector>

#include "base/seams.h"

namespace tessaro::testing {

class RecordingUpdateGuard final : public UpdateGuard {
 public:
  explicit RecordingUpdateGuard(std::function<std::string()> probe) : probe_(std::move(probe)) {}
  RecordingUpdateGuard(const RecordingUpdateGuard&) = delete;
  RecordingUpdateGuard& operator=(const RecordingUpdateGuard&) = delete;

  void Begin() override { events.push_back("begin " + probe_()); }
  void End() override { events.push_back("end " + probe_()); }

  std::vector<std::string> events;

 private:
  std::function<std::string()> probe_;
  Installed<UpdateGuard> installed_{this};
};

}  // namespace tessaro::testing
