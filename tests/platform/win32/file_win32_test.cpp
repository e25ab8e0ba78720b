#include "platform/win32/file_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace tessaro {
namespace {

// An image deep in a line PC's folder tree: a path past the classic
// 260-character limit still opens and reads, whether or not the system has
// long paths enabled.
TEST(Win32FileTest, PathPastTheClassicLimitOpens) {
  wchar_t cwd[MAX_PATH] = {};
  ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, cwd), 0u);
  std::wstring folder = std::wstring(L"\\\\?\\") + cwd;
  std::string relative = ".";
  const std::string segment(60, 'd');
  for (int depth = 0; depth < 5; ++depth) {
    folder += L"\\" + std::wstring(segment.begin(), segment.end());
    relative += "\\" + segment;
    CreateDirectoryW(folder.c_str(), nullptr);
  }
  const std::wstring file = folder + L"\\image.bin";
  relative += "\\image.bin";
  ASSERT_GT(relative.size(), static_cast<size_t>(MAX_PATH));
  HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(out, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(out, "\x5A\xA5\x01", 3, &written, nullptr));
  CloseHandle(out);

  Win32FileSystem files;
  FileHandle handle = kInvalidFileHandle;
  ASSERT_TRUE(files.OpenForRead(relative.c_str(), handle)) << "error " << files.LastError();
  uint8_t bytes[4] = {};
  uint32_t got = 0;
  EXPECT_EQ(files.SizeLow32(handle), 3u);
  EXPECT_TRUE(files.Read(handle, bytes, sizeof bytes, got));
  EXPECT_EQ(got, 3u);
  EXPECT_EQ(bytes[0], 0x5A);
  files.Close(handle);
  DeleteFileW(file.c_str());
}

}  // namespace
}  // namespace tessaro
