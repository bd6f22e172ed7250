#include "host-ipc/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnvale_host_ipc {
namespace {

std::vector<std::uint8_t> bytes_of(std::string_view text) {
  return {text.begin(), text.end()};
}

TEST(LinkBase64Test, EncodesWithPadding) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {std::string("\x00\x01\x02", 3), "AAEC"},
      {"\xff", "/w=="},
      {"\xfb\xff\xbf", "+/+/"},
  };
  for (const auto& [plain, encoded] : cases) {
    EXPECT_EQ(base64_encode(bytes_of(plain)), encoded);
    std::string out = "prefix:";
    base64_encode_to(out, bytes_of(plain));
    EXPECT_EQ(out, "prefix:" + encoded);
  }
}

TEST(LinkBase64Test, DecodesLeniently) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"Zm9v", "foo"},
      {"Zm9v\n", "foo"},
      {"Zm 9v", "foo"},
      {"Z=m9v", "foo"},
      {"Zm9v====", "foo"},
      {"Zm8", "fo"},
      {"Zm8=", "fo"},
      {"Zh==", "f"},
      {"Zg", "f"},
      {"\tZm9v\r\nYmFy\f", "foobar"},
      {"====", ""},
      {"+/+/", "\xfb\xff\xbf"},
  };
  for (const auto& [encoded, plain] : cases) {
    auto got = base64_decode(encoded);
    ASSERT_TRUE(got) << encoded << ": " << got.error().what();
    EXPECT_EQ(*got, bytes_of(plain)) << encoded;
  }
}

TEST(LinkBase64Test, RejectsForeignBytesAndTruncation) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Z", "base64: truncated input"},
      {"Zm9vY", "base64: truncated input"},
      {"Zm9vY===", "base64: truncated input"},
      {"Zm9v*", "base64: invalid byte 0x2a"},
      {"Zm-9", "base64: invalid byte 0x2d"},
      {"Zm_9", "base64: invalid byte 0x5f"},
      {"Zm9v\v", "base64: invalid byte 0x0b"},
      {"\xc3\xa9", "base64: invalid byte 0xc3"},
      {std::string("Zm\0v", 4), "base64: invalid byte 0x00"},
  };
  for (const auto& [encoded, message] : cases) {
    auto got = base64_decode(encoded);
    ASSERT_FALSE(got) << encoded;
    EXPECT_EQ(got.error().what(), message);
  }
}

TEST(LinkBase64Test, RoundTripsEveryByteAndLength) {
  std::vector<std::uint8_t> data;
  for (int i = 0; i < 300; ++i) {
    auto back = base64_decode(base64_encode(data));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, data);
    data.push_back(static_cast<std::uint8_t>(i * 7 + 3));
  }
}

}  // namespace
}  // namespace tarnvale_host_ipc
