#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "files/text_files.h"
#include "runtime/utf8.h"
#include "tests/support/scoped_tmpfs_posix.h"
#include "tests/support/test_support.h"

namespace {

using files::ANY_NUMBER;
using runtime::Text;

constexpr std::int32_t UTF8 = files::ENCODING_UTF8;

class FailingWrites : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { files::init_file_library(); }
  void TearDown() override { files::close_file(ANY_NUMBER); }
};

TEST_F(FailingWrites, CloseReportsBufferedBytesThatNeverReachedTheDisk) {
  ASSERT_NE(files::open_file_for_update(0, u"/dev/full", UTF8), 0);
  EXPECT_EQ(files::write_file_text(0, u"abc"), 3);  // taken into the buffer
  EXPECT_EQ(files::close_file(0), 0);
  EXPECT_EQ(files::is_file_open(0), 0);
}

TEST_F(FailingWrites, AWriteThatCannotFlushTheEarlierBytesTakesNothing) {
  ASSERT_NE(files::open_file_for_update(0, u"/dev/full", UTF8), 0);
  EXPECT_EQ(files::write_file_text(0, runtime::text_from_latin1(std::string(4000, 'a'))), 4000);
  EXPECT_EQ(files::write_file_text(0, runtime::text_from_latin1(std::string(200, 'b'))), 0);
  EXPECT_EQ(files::write_file_text(0, runtime::text_from_latin1(std::string(5000, 'c'))), 0);
  EXPECT_EQ(files::close_file(0), 0);

  ASSERT_NE(files::open_file_for_update(0, u"/dev/full", UTF8 | files::OPEN_UNBUFFERED), 0);
  EXPECT_EQ(files::write_file_text(0, u"abc"), 0);
  EXPECT_EQ(files::close_file(0), 0);
}

TEST_F(FailingWrites, CloseAnyNumberReportsOneFailureAndStillClosesTheRest) {
  test_support::ScopedTempDir dir;
  ASSERT_NE(files::open_file_for_update(0, u"/dev/full", UTF8), 0);
  ASSERT_NE(files::open_file_object(1, dir.text() + u"good.txt", files::FILE_MODE_CREATE, UTF8), 0);
  EXPECT_EQ(files::write_file_text(0, u"lost"), 4);
  EXPECT_EQ(files::write_file_text(1, u"kept"), 4);
  EXPECT_EQ(files::close_file(ANY_NUMBER), 0);
  EXPECT_EQ(files::is_file_open(0), 0);
  EXPECT_EQ(files::is_file_open(1), 0);
  EXPECT_EQ(test_support::read_bytes(dir.path() / "good.txt"), "kept");
}

TEST_F(FailingWrites, CloseReportsAFullFileSystem) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a tiny tmpfs needs root; skipped";
  test_support::ScopedTempDir dir;
  auto mount_point = dir.path() / "tiny";
  test_support::ScopedTmpfs tiny(mount_point, 8 * 1024);
  if (!tiny.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here; skipped";

  test_support::write_bytes(mount_point / "filler", std::string(64 * 1024, 'f'));
  Text manifest = test_support::path_text(mount_point / "manifest.ini");
  ASSERT_NE(files::open_file_object(0, manifest, files::FILE_MODE_CREATE, UTF8), 0);
  EXPECT_EQ(files::write_file_text(0, u"lastTestedNVDAVersion = 2036.1.1\r\n"), 34);
  EXPECT_EQ(files::close_file(0), 0);
  EXPECT_EQ(test_support::read_bytes(mount_point / "manifest.ini"), "");
}

}  // namespace
