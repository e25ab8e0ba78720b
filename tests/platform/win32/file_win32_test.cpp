#include "platform/win32/file_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/system.h"
#include "tests/support/temp_dir.h"

namespace tessaro {
namespace {

// An image deep in a line PC's folder tree: a path past the classic
// 260-character limit still opens and reads, whether or not the system has
// long paths enabled.
TEST(Win32FileTest, PathPastTheClassicLimitOpens) {
  char temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
  std::string path = std::string(temp) + "tessaro-long-path-" + std::to_string(GetCurrentProcessId());
  std::vector<std::wstring> folders;
  const std::string segment(60, 'd');
  for (int depth = 0; depth < 5; ++depth) {
    if (depth > 0) path += "\\" + segment;
    folders.push_back(L"\\\\?\\" + std::wstring(path.begin(), path.end()));
    CreateDirectoryW(folders.back().c_str(), nullptr);
  }
  const std::string name = path + "\\image.bin";
  const std::wstring wideName = folders.back() + L"\\image.bin";
  ASSERT_GT(name.size(), static_cast<size_t>(MAX_PATH));
  HANDLE out = CreateFileW(wideName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(out, "\x5A\xA5\x01", 3, &written, nullptr));
  CloseHandle(out);

  Win32FileSystem files;
  FileHandle handle = kInvalidFileHandle;
  EXPECT_TRUE(files.OpenForRead(name.c_str(), handle)) << "error " << files.LastError();
  if (handle != kInvalidFileHandle) {
    uint8_t bytes[4] = {};
    uint32_t got = 0;
    EXPECT_EQ(files.SizeLow32(handle), 3u);
    EXPECT_TRUE(files.Read(handle, bytes, sizeof bytes, got));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(bytes[0], 0x5A);
    files.Close(handle);
  }
  DeleteFileW(wideName.c_str());
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) RemoveDirectoryW(folder->c_str());
}

// The limit is the full path's: a short relative name in a deep current
// folder needs the prefix as much as a long name does.
TEST(Win32FileTest, LongPathPrefixIsDecidedOnTheFullPath) {
  testing::TempDir dir;
  std::string deep = dir.path();
  for (char c = 'a'; deep.size() < 225; ++c) {
    deep += "\\" + std::string(std::min<size_t>(10, 225 - deep.size()), c);
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) << deep;
  }
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryA(deep.c_str())) << deep;
  const std::wstring shortName = WidePath("a.bin");
  const std::wstring relative = WidePath("firmware-image-for-the-line.bin");
  wchar_t full[1024] = {};
  GetFullPathNameW(L"firmware-image-for-the-line.bin", 1024, full, nullptr);
  SetCurrentDirectoryA(previous);

  EXPECT_EQ(shortName, L"a.bin") << "a path within the limit is left as given";
  ASSERT_GE(std::wstring(full).size(), static_cast<size_t>(MAX_PATH - 12));
  EXPECT_EQ(relative, L"\\\\?\\" + std::wstring(full));
  for (std::string folder = deep; folder.size() > dir.path().size(); folder.resize(folder.rfind('\\'))) {
    RemoveDirectoryA(folder.c_str());
  }
}

// A reader (a script, an antivirus scanner) holding the result file open
// without sharing its deletion: the replace is tried again on the clock,
// a bounded number of times.
class ReleasingClock final : public Clock {
 public:
  UtcTime NowUtc() override { return {}; }
  void SleepMs(uint32_t sleepMs) override {
    sleeps.push_back(sleepMs);
    if (sleeps.size() == releaseAfter && holder != INVALID_HANDLE_VALUE) {
      CloseHandle(holder);
      holder = INVALID_HANDLE_VALUE;
    }
  }
  std::vector<uint32_t> sleeps;
  size_t releaseAfter = 0;
  HANDLE holder = INVALID_HANDLE_VALUE;
};

TEST(Win32FileTest, ReplaceWaitsBrieflyForAReaderOfTheTarget) {
  testing::TempDir dir;
  const std::string target = dir.File("result.json");
  const std::string next = dir.File("result.json.new");
  for (const size_t releaseAfter : {size_t{3}, size_t{1000}}) {
    SCOPED_TRACE(releaseAfter);
    testing::WriteFileBytes(target, "old");
    testing::WriteFileBytes(next, "new");
    ReleasingClock clock;
    Clock* const previous = InstallClock(&clock);
    clock.releaseAfter = releaseAfter;
    clock.holder = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(clock.holder, INVALID_HANDLE_VALUE);
    const bool moved = MoveFileOver(next.c_str(), target.c_str());
    InstallClock(previous);
    if (clock.holder != INVALID_HANDLE_VALUE) CloseHandle(clock.holder);
    if (releaseAfter == 3) {
      EXPECT_TRUE(moved);
      EXPECT_EQ(clock.sleeps, (std::vector<uint32_t>{50, 50, 50}));
      EXPECT_EQ(testing::ReadFileBytes(target), "new");
    } else {
      EXPECT_FALSE(moved);
      EXPECT_EQ(clock.sleeps, std::vector<uint32_t>(19, 50));
      EXPECT_EQ(testing::ReadFileBytes(target), "old");
    }
  }
}

}  // namespace
}  // namespace tessaro
