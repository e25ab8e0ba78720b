#include "platform/linux/clock_posix.h"

#include <cerrno>
#include <ctime>

namespace tessaro {

UtcTime PosixClock::NowUtc() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  gmtime_r(&now.tv_sec, &parts);
  UtcTime result;
  result.year = parts.tm_year + 1900;
  result.month = parts.tm_mon + 1;
  result.day = parts.tm_mday;
  result.hour = parts.tm_hour;
  result.minute = parts.tm_min;
  result.second = parts.tm_sec;
  result.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return result;
}

void PosixClock::SleepMs(uint32_t sleepMs) {
  timespec left{static_cast<time_t>(sleepMs / 1000), static_cast<long>(sleepMs % 1000) * 1000000L};
  // A signal cuts a sleep short; the protocol's waits must be whole.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace tessaro
