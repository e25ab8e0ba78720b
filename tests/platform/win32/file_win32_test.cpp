#include "platform/win32/file_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

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

}  // namespace
}  // namespace tessaro
