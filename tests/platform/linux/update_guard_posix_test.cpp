// The guard itself, with real signals: what the end of an update gives back,
// and what a held signal does to the job's blocking calls. The guard may hold
// more signals than these three; these it must always hold.
#include "platform/linux/update_guard_posix.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace tessaro {
namespace {

constexpr int kHeld[] = {SIGINT, SIGTERM, SIGHUP};

void Marker(int) {}

struct sigaction Disposition(int signal) {
  struct sigaction now {};
  sigaction(signal, nullptr, &now);
  return now;
}

// Each signal's disposition of the test process, put back when the test ends.
class SavedDispositions {
 public:
  SavedDispositions() {
    for (int i = 0; i < 3; ++i) saved_[i] = Disposition(kHeld[i]);
  }
  ~SavedDispositions() {
    for (int i = 0; i < 3; ++i) sigaction(kHeld[i], &saved_[i], nullptr);
  }

 private:
  struct sigaction saved_[3];
};

TEST(PosixUpdateGuard, EndGivesBackEachSignalsDispositionAsItWas) {
  const SavedDispositions restore;
  // Three different dispositions, so that one given back to the wrong signal shows.
  struct sigaction marker {};
  marker.sa_handler = Marker;
  sigemptyset(&marker.sa_mask);
  marker.sa_flags = SA_NODEFER;
  sigaction(SIGINT, &marker, nullptr);
  std::signal(SIGTERM, SIG_IGN);
  std::signal(SIGHUP, SIG_DFL);
  struct sigaction before[3];
  for (int i = 0; i < 3; ++i) before[i] = Disposition(kHeld[i]);

  for (const bool byDestructor : {false, true}) {
    SCOPED_TRACE(byDestructor ? "the guard destroyed" : "End()");
    {
      PosixUpdateGuard guard;
      guard.Begin();
      for (int i = 0; i < 3; ++i) EXPECT_NE(Disposition(kHeld[i]).sa_handler, before[i].sa_handler) << kHeld[i];
      if (!byDestructor) guard.End();
      if (!byDestructor) guard.End();  // a second end changes nothing
    }
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(strsignal(kHeld[i]));
      const struct sigaction after = Disposition(kHeld[i]);
      EXPECT_EQ(after.sa_handler, before[i].sa_handler);
      EXPECT_EQ(after.sa_flags, before[i].sa_flags);
    }
  }
}

// What /proc says a thread of this process is doing.
std::string TaskFile(pid_t tid, const char* name) {
  std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/" + name);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool BlockedInRead(pid_t tid) {
  // "running" while it runs, the call's number while it sleeps in one.
  const std::string syscall = TaskFile(tid, "syscall");
  return syscall.rfind(std::to_string(SYS_read) + " ", 0) == 0;
}

bool SignalPending(pid_t tid) {
  std::istringstream status(TaskFile(tid, "status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
      if (line.find_first_not_of("0 \t", line.find(':') + 1) != std::string::npos) return true;
    }
  }
  return false;
}

template <typename Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

// A signal that lands while the job sleeps in a read (a report, a log
// write) must not make that call fail: it goes on once the notice is out.
// The signal is sent only once the reader sleeps in read(), and data only
// once the signal has been taken, so that no ordering lets the test pass.
TEST(PosixUpdateGuard, AHeldSignalFailsNoBlockingCall) {
  const SavedDispositions restore;
  for (const int signal : kHeld) {
    SCOPED_TRACE(strsignal(signal));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    PosixUpdateGuard guard;
    guard.Begin();
    std::atomic<pid_t> tid{0};
    std::atomic<bool> returned{false};
    ssize_t got = 0;
    int error = 0;
    std::thread reader([&] {
      tid = static_cast<pid_t>(::syscall(SYS_gettid));
      char byte = 0;
      got = ::read(fds[0], &byte, 1);
      error = errno;
      returned = true;
    });
    EXPECT_TRUE(WaitFor([&] { return tid != 0 && BlockedInRead(tid); }));
    ::pthread_kill(reader.native_handle(), signal);
    EXPECT_TRUE(WaitFor([&] { return returned || (!SignalPending(tid) && BlockedInRead(tid)); }));
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    reader.join();
    guard.End();
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_EQ(got, 1) << "read failed: " << std::strerror(error);
  }
}

}  // namespace
}  // namespace tessaro
