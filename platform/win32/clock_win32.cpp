#include "platform/win32/clock_win32.h"

#include <windows.h>

namespace tessaro {

UtcTime Win32Clock::NowUtc() {
  SYSTEMTIME now{};
  GetSystemTime(&now);
  UtcTime result;
  result.year = now.wYear;
  result.month = now.wMonth;
  result.day = now.wDay;
  result.hour = now.wHour;
  result.minute = now.wMinute;
  result.second = now.wSecond;
  result.millisecond = now.wMilliseconds;
  return result;
}

void Win32Clock::SleepMs(uint32_t sleepMs) { ::Sleep(sleepMs); }

}  // namespace tessaro
