#pragma once
// The update guard seam: while a job changes the controller, the usual ways
// a console program is ended (Ctrl+C, a closed terminal or SSH session, a
// plain kill) must not cut it off, or the controller stays half-written in
// its update program. The platform's guard defers them and keeps the machine
// awake; tests install one that records.
namespace tessaro {

class UpdateGuard {
 public:
  virtual ~UpdateGuard() = default;
  // The controller is about to be changed: from here on an interruption
  // request prints one notice to standard error and the job goes on.
  virtual void Begin() = 0;
  // The job has ended: interruptions act as before Begin.
  virtual void End() = 0;
};

// The installed guard; returns the one installed before. nullptr installs one
// that does nothing.
UpdateGuard& TheUpdateGuard();
UpdateGuard* InstallUpdateGuard(UpdateGuard* guard);

// A job's "update in progress" window: opened at the job's first report that
// changes the controller, closed when the object ends, after the job has
// closed the controller.
class UpdateWindow {
 public:
  UpdateWindow() = default;
  ~UpdateWindow() {
    if (open_) TheUpdateGuard().End();
  }
  UpdateWindow(const UpdateWindow&) = delete;
  UpdateWindow& operator=(const UpdateWindow&) = delete;

  void Open() {
    if (open_) return;
    open_ = true;
    TheUpdateGuard().Begin();
  }

 private:
  bool open_ = false;
};

// The line the guards print once when they hold an interruption off.
constexpr const char kUpdateGoesOnNotice[] =
    "tessaro: signal received, the update goes on so that the controller is not left half-written\n";

}  // namespace tessaro
