#include "sim/sim_backends.h"

#include "base/seams.h"
#include "sim/sim_clock.h"
#include "sim/sim_diagnosis.h"
#include "sim/sim_hid.h"
#include "sim/sim_session.h"
#include "transport/connection.h"

namespace tessaro {
namespace {

// Ends the session (lets the controller go) when the run ends, after the
// backends came off.
struct EndAtEnd {
  sim::Session& session;
  ~EndAtEnd() { session.End(); }
};

}  // namespace

// Members end in reverse: the seams are restored, then the run ends.
struct SimBackends::Impl {
  explicit Impl(bool appendTrace) : session(kVendorId, appendTrace) {}
  sim::Session session;
  EndAtEnd endAtEnd{session};
  sim::SimHid hid{session};
  sim::SimDiagnosis diagnosis{hid};
  // Sleeps are traced, then slept (unless in virtual time) on the clock
  // installed before.
  sim::SimClock clock{hid, TheClock()};
  Installed<Clock> installedClock{&clock};
  Installed<HidBackend> installedHid{&hid};
};

SimBackends::SimBackends(Trace trace) : impl_(std::make_unique<Impl>(trace == Trace::kAppend)) {}

SimBackends::~SimBackends() = default;

HidDiagnosis& SimBackends::Diagnosis() { return impl_->diagnosis; }

bool SimBackends::Finish() {
  impl_->session.End();
  return impl_->session.ok();
}

}  // namespace tessaro
