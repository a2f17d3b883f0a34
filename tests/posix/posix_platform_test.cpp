// The Linux platform's own choices: where the error log goes and how entries are appended.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/platform_posix.h"

namespace qz {
namespace {

TEST(PosixPlatform, ErrorLogSitsBesideTheLibraryNamedAfterIt) {
  const std::filesystem::path library = QZ_LIBRARY_PATH;
  EXPECT_EQ(std::filesystem::path(ErrorLogPath()), library.parent_path() / "libqzcardreader.err");
}

TEST(PosixPlatform, EachEntryIsAppendedWithCrLfAndEarlierLinesStay) {
  const std::string path = ErrorLogPath();
  std::string before;
  {
    std::ifstream in(path, std::ios::binary);
    before.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  Platform& platform = Platform::Default();
  const std::string line = "posix_platform_test\tü\t" + std::to_string(::getpid());
  platform.AppendErrorLogLine(line);
  std::ifstream in(path, std::ios::binary);
  const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(after.size(), before.size());
  EXPECT_EQ(after.substr(0, before.size()), before);
  // Other processes may append at the same time; this entry is there whole.
  EXPECT_NE(after.find(line + "\r\n", before.size()), std::string::npos);
}

TEST(PosixPlatform, KeyboardReaderWithoutItsLibraryIsNotRegistered) {
  try {
    Platform::Default().CreateKeyboardReader();
    GTEST_SKIP() << "a keyboard library is installed here";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.Number(), kErrComponentNotRegistered);
  }
}

}  // namespace
}  // namespace qz
