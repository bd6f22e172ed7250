#include "base/error.h"

#include <gtest/gtest.h>

namespace tarnvale_base {
namespace {

TEST(Error, ContextChainRendersOutermostFirst) {
  Error os(std::make_error_code(std::errc::no_such_file_or_directory));
  Error e = os.context("connect /tmp/x.sock").context("connect daemon agent socket");
  EXPECT_EQ(e.what(), "connect daemon agent socket: connect /tmp/x.sock: No such file or directory");
  EXPECT_EQ(e.message(), "connect daemon agent socket");
  ASSERT_NE(e.cause(), nullptr);
  EXPECT_EQ(e.cause()->message(), "connect /tmp/x.sock");
  EXPECT_EQ(e.code(), std::make_error_code(std::errc::no_such_file_or_directory));
}

TEST(Error, PlainMessageHasNoCauseOrCode) {
  Error e("early eof");
  EXPECT_EQ(e.what(), "early eof");
  EXPECT_EQ(e.cause(), nullptr);
  EXPECT_FALSE(e.code());
}

TEST(Error, ResultCarriesFailure) {
  auto f = []() -> Result<int> { return fail("frame too large: 5"); };
  auto r = f();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().what(), "frame too large: 5");
}

}  // namespace
}  // namespace tarnvale_base
