#pragma once
// One run of the simulator: its state, flash and controller, the trace
// file, and the lock that keeps other runs off the controller.
//
// The flash file doubles as the lock file: it is changed in place and never
// replaced, so a lock on it holds for every run (the state file is replaced
// by a rename at every save, and a lock on it would lock a file that is
// gone). While a run holds the lock, the files are its own: it reloads them
// when it takes the lock, and saves after every event that changed the
// controller, so that a run killed at any moment leaves the controller as
// it was after its last completed event.
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/file_lock.h"
#include "base/trace.h"
#include "sim/controller.h"
#include "sim/flash.h"
#include "sim/state.h"
#include "sim/state_files.h"

namespace tessaro::sim {

// Exit code of a run ended by killAfterEvents, as a shell shows a process
// killed by SIGKILL.
constexpr int32_t kKilledExitCode = 137;

class Session {
 public:
  // appendTrace: the trace keeps the lines of earlier runs (a companion that
  // only looks adds to the record of the jobs it looks after). `number`
  // counts the host's controllers from 1; each has its own files.
  Session(uint16_t buildVendorId, bool appendTrace, uint32_t number = 1);

  // Checks and reads the state at the first call; throws StateFileError,
  // with nothing written, when it cannot be taken.
  void Begin();
  bool begun() const { return controller_ != nullptr; }
  uint16_t buildVendorId() const { return buildVendorId_; }
  bool appendTrace() const { return appendTrace_; }

  // Valid once begun.
  State& state() { return state_; }
  Controller& controller() { return *controller_; }

  // Takes the lock for a while (a walk) or until Release (a claimed
  // controller); true when it is held. Taking it reloads the files and
  // writes the state back, so a state that cannot be saved ends the run
  // here, before any report (StateFileError). When busy, `holderPid` names
  // the holder where the platform can tell.
  bool Acquire(uint32_t& holderPid);
  bool held() const { return lock_.held(); }
  // Saves and lets the lock go; a save that fails is reported once on
  // standard error and makes the run's end a failure.
  void Release();

  // After every HID event: saves what the event changed (throws
  // StateFileError when that fails), then ends the process if
  // killAfterEvents says so.
  void AfterEvent();

  // One trace line. Lines before the first lock are kept until then, and
  // dropped if the run never holds the controller.
  void Trace(const std::string& line);
  // A line of the host's (a walk, a collection opened, a sleep) on a host
  // of several controllers: kept while this run holds the controller, or
  // until it first does; dropped once it let the controller go, when the
  // file may be another run's.
  void TraceHost(const std::string& line);

  // One of several controllers: at its end a run that never took this one
  // leaves its files alone, since taking it even for a moment could turn
  // away a run that is just taking it.
  void SetShared() { shared_ = true; }

  // The end of the run: lets the lock go, and gives the trace of a run
  // that used the HID layer without ever holding the controller its file,
  // unless another run holds it now. Never throws.
  void End();

  // False when a save of this run failed; its line is out already.
  bool ok() const { return !saveFailed_; }

 private:
  // Writes what changed since the last save (all of the state file when
  // `wholeState`); throws StateFileError when that fails.
  void Save(bool wholeState);
  [[noreturn]] void Fail(const std::string& error);
  void StartTrace();

  uint16_t buildVendorId_;
  SimFiles files_;
  bool shared_ = false;
  State state_;
  bool appendTrace_;
  Flash flash_;
  std::unique_ptr<Controller> controller_;
  FileLock lock_;
  bool saveFailed_ = false;
  trace::File trace_;
  bool traceStarted_ = false;
  std::vector<std::string> earlyLines_;
};

}  // namespace tessaro::sim
