#pragma once
// The fixed waits of the two update jobs, in one place: the jobs sleep them,
// and tessaro-info adds them up to say how long a job would wait at least.
#include <cstdint>

namespace tessaro::waits {

// Firmware job.
constexpr uint32_t kAfterSwitchMs = 250;
constexpr uint32_t kPatchPollMs = 30;
constexpr uint32_t kAfterStartUpdateMs = 100;
constexpr uint32_t kAfterLoadFlashMs = 80;
constexpr uint32_t kFlashPollMs = 2;
constexpr uint32_t kAfterFailedRestartMs = 300;
constexpr uint32_t kAfterRestartMs = 200;
constexpr uint32_t kAfterFailedFwAttemptMs = 200;
constexpr uint32_t kBeforeVersionReadBackMs = 1000;

// Configuration job.
constexpr uint32_t kAckPollMs = 30;
constexpr uint32_t kAfterSendCmdMs = 100;
constexpr uint32_t kAfterFinishCmdMs = 80;
constexpr uint32_t kAfterCfgAttemptMs = 200;

}  // namespace tessaro::waits
