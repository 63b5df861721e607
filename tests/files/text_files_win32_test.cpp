#include <gtest/gtest.h>

#include "files/text_files.h"
#include "tests/support/test_support.h"

namespace {

using files::ANY_NUMBER;

class ShareModes : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { files::init_file_library(); }
  void TearDown() override { files::close_file(ANY_NUMBER); }
  test_support::ScopedTempDir dir_;
};

TEST_F(ShareModes, AFileIsSharedOnlyAsItsOpenFlagsAllow) {
  runtime::Text path = dir_.text() + u"shared.txt";
  test_support::write_bytes(dir_.path() / "shared.txt", "content");

  ASSERT_NE(files::open_file_for_update(0, path, 2), 0);
  EXPECT_EQ(files::open_file_for_reading(1, path, 2 | files::OPEN_SHARE_ALL), 0);
  EXPECT_EQ(files::close_file(0), 1);

  ASSERT_NE(files::open_file_for_update(0, path, 2 | files::OPEN_SHARE_READ), 0);
  EXPECT_NE(files::open_file_for_reading(1, path, 2 | files::OPEN_SHARE_ALL), 0);
  EXPECT_EQ(files::open_file_for_update(2, path, 2 | files::OPEN_SHARE_ALL), 0);
  EXPECT_EQ(files::close_file(ANY_NUMBER), 1);

  // OPEN_SHARE_ALL wins over OPEN_SHARE_READ and lets another writer in.
  ASSERT_NE(files::open_file_for_update(0, path, 2 | files::OPEN_SHARE_READ | files::OPEN_SHARE_ALL), 0);
  EXPECT_NE(files::open_file_for_update(1, path, 2 | files::OPEN_SHARE_ALL), 0);
}

}  // namespace
