#include "sim/sim_session.h"

#include <cstdio>
#include <cstdlib>

#include "sim/sim_backends.h"
#include "sim/state_files.h"

namespace tessaro::sim {

Session::Session(uint16_t buildVendorId, bool appendTrace, uint32_t number)
    : buildVendorId_(buildVendorId),
      files_(ControllerFiles(number)),
      state_(FactoryState(buildVendorId)),
      appendTrace_(appendTrace),
      trace_(SimFilePath(files_.trace), files_.trace,
             appendTrace ? trace::File::Start::kAppended : trace::File::Start::kEmptied) {}

void Session::Begin() {
  if (begun()) return;
  std::string error;
  if (!CheckStatePaths(error, files_) || !LoadState(state_, error, files_)) throw StateFileError(error);
  controller_ = std::make_unique<Controller>(state_, flash_, [this](const std::string& line) { Trace(line); });
}

bool Session::Acquire(uint32_t& holderPid) {
  holderPid = 0;
  if (lock_.held()) return true;
  std::string error;
  if (!CheckStatePaths(error, files_)) Fail(error);
  switch (lock_.TryLock(SimFilePath(files_.flash), holderPid)) {
    case LockOutcome::kBusy:
      return false;
    case LockOutcome::kFailed:
      Fail(files_.flash + ": cannot be written");
    case LockOutcome::kTaken:
      break;
  }
  // Another run may have changed the controller since this one last held it.
  State fresh = FactoryState(buildVendorId_);
  if (!LoadState(fresh, error, files_) || !LoadFlash(flash_, error, files_)) {
    lock_.Unlock();
    throw StateFileError(error);
  }
  state_ = std::move(fresh);
  controller_->TakeStateChanged();
  StartTrace();
  // Written back at once: every key shows, and a state that cannot be
  // saved stops the run before the controller hears anything.
  Save(true);
  return true;
}

void Session::Release() {
  if (!lock_.held()) return;
  if (!saveFailed_) {
    std::string error;
    // The kill counter moves without a save at every event.
    if (!SaveState(state_, buildVendorId_, error, files_)) {
      saveFailed_ = true;
      std::fprintf(stderr, "%s\n", error.c_str());
    }
  }
  lock_.Unlock();
}

void Session::End() {
  if (begun() && !traceStarted_ && !saveFailed_ && !shared_) {
    try {
      uint32_t holderPid = 0;
      Acquire(holderPid);
    } catch (const StateFileError& error) {
      std::fprintf(stderr, "%s\n", error.what());
    }
  }
  Release();
}

void Session::AfterEvent() {
  if (!begun()) return;
  if (lock_.held() && !saveFailed_) Save(false);
  uint32_t& kill = state_.faults.killAfterEvents;
  if (kill == 0 || --kill != 0) return;
  // A host that loses power: no destructor, no buffer of the tool's log or
  // console, nothing but what already reached the files. The counter is
  // written back used up, so that the next run goes through.
  if (lock_.held() && !saveFailed_) {
    std::string error;
    SaveState(state_, buildVendorId_, error, files_);
  }
  trace_.Flush();
  std::_Exit(kKilledExitCode);
}

void Session::Save(bool wholeState) {
  std::string error;
  size_t begin = 0;
  size_t end = 0;
  if (flash_.TakeChanged(begin, end) && !SaveFlashRange(flash_, begin, end, error, files_)) Fail(error);
  const bool stateChanged = controller_->TakeStateChanged();
  if ((stateChanged || wholeState) && !SaveState(state_, buildVendorId_, error, files_)) Fail(error);
}

void Session::Fail(const std::string& error) {
  saveFailed_ = true;
  throw StateFileError(error);
}

void Session::StartTrace() {
  if (traceStarted_) return;
  traceStarted_ = true;
  // Truncated once (unless the run adds to earlier runs' lines), then
  // appended to: a run that takes the controller after this one let it go
  // adds its lines rather than writing over them.
  trace_.Open();
  for (const std::string& line : earlyLines_) trace_.Write(line);
  earlyLines_.clear();
}

void Session::TraceHost(const std::string& line) {
  if (traceStarted_ && !lock_.held()) return;
  Trace(line);
}

void Session::Trace(const std::string& line) {
  if (!traceStarted_) {
    earlyLines_.push_back(line);
    return;
  }
  trace_.Write(line);
}

}  // namespace tessaro::sim
