#include "sim/sim_backends.h"

#include "sim/sim_clock.h"
#include "sim/sim_hid.h"
#include "sim/sim_session.h"
#include "transport/connection.h"

namespace tessaro {

struct SimBackends::Impl {
  sim::Session session{kVendorId};
  sim::SimHid hid{session};
  Clock* previousClock = nullptr;
  HidBackend* previousHid = nullptr;
  std::unique_ptr<sim::SimClock> clock;
};

SimBackends::SimBackends() : impl_(std::make_unique<Impl>()) {
  impl_->clock = std::make_unique<sim::SimClock>(impl_->session, TheClock());
  impl_->previousClock = InstallClock(impl_->clock.get());
  impl_->previousHid = InstallHid(&impl_->hid);
}

SimBackends::~SimBackends() {
  InstallHid(impl_->previousHid);
  InstallClock(impl_->previousClock);
  impl_->session.End();
}

bool SimBackends::Finish() {
  impl_->session.End();
  return impl_->session.ok();
}

}  // namespace tessaro
