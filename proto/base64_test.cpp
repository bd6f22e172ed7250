#include "proto/base64.h"

#include <gtest/gtest.h>

#include <string>

namespace tarnvale_proto {
namespace {

std::string as_text(const std::vector<std::uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

struct Accepted {
  std::string_view text;
  std::string bytes;
};

TEST(StrictBase64, DecodesCanonicalText) {
  const Accepted cases[] = {
      {"", ""},
      {"Zg==", "f"},
      {"Zm8=", "fo"},
      {"Zm9v", "foo"},
      {"Zm9vYg==", "foob"},
      {"Zm9vYmE=", "fooba"},
      {"Zm9vYmFy", "foobar"},
      {"AAEC", std::string("\x00\x01\x02", 3)},
      {"/w==", "\xff"},
      {"+/+/", "\xfb\xff\xbf"},
  };
  for (const auto& c : cases) {
    auto r = strict_base64_decode(c.text);
    ASSERT_TRUE(r) << c.text << ": " << r.error().what();
    EXPECT_EQ(as_text(*r), c.bytes) << c.text;
  }
}

struct Rejected {
  std::string_view text;
  std::string_view error;
};

TEST(StrictBase64, RejectsEverythingNonCanonical) {
  const Rejected cases[] = {
      {"Zm8", "base64: invalid length 3, expected a multiple of 4"},
      {"Z", "base64: invalid length 1, expected a multiple of 4"},
      {"Zm9v\n", "base64: invalid length 5, expected a multiple of 4"},
      {"Zh==", "base64: non-zero trailing bits at offset 1"},
      {"Zm9=", "base64: non-zero trailing bits at offset 2"},
      {"Zm9v====", "base64: invalid symbol 0x3d at offset 4"},
      {"====", "base64: invalid symbol 0x3d at offset 0"},
      {"Z===", "base64: invalid symbol 0x3d at offset 1"},
      {"Z=m9", "base64: invalid symbol 0x3d at offset 1"},
      {"Zm=v", "base64: invalid symbol 0x3d at offset 2"},
      {"Zm 9", "base64: invalid symbol 0x20 at offset 2"},
      {"Zm9v\nZm9", "base64: invalid symbol 0x0a at offset 4"},
      {"Zm-9", "base64: invalid symbol 0x2d at offset 2"},
      {"Zm_9", "base64: invalid symbol 0x5f at offset 2"},
      {"Zm9v*AAA", "base64: invalid symbol 0x2a at offset 4"},
      {"\xc3\xa9==", "base64: invalid symbol 0xc3 at offset 0"},
      {std::string_view("Zm\0v", 4), "base64: invalid symbol 0x00 at offset 2"},
  };
  for (const auto& c : cases) {
    auto r = strict_base64_decode(c.text);
    ASSERT_FALSE(r) << c.text;
    EXPECT_EQ(r.error().what(), c.error) << c.text;
  }
}

TEST(StrictBase64, DecodesEveryByteValue) {
  // Every byte value in every position of a 3-byte group round-trips through known text.
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < all.size(); i += 3) {
    std::uint32_t g = all[i] << 16;
    std::size_t left = all.size() - i;
    if (left > 1) g |= all[i + 1] << 8;
    if (left > 2) g |= all[i + 2];
    text += kAlphabet[(g >> 18) & 63];
    text += kAlphabet[(g >> 12) & 63];
    text += left > 1 ? kAlphabet[(g >> 6) & 63] : '=';
    text += left > 2 ? kAlphabet[g & 63] : '=';
  }
  auto r = strict_base64_decode(text);
  ASSERT_TRUE(r) << r.error().what();
  EXPECT_EQ(*r, all);
}

}  // namespace
}  // namespace tarnvale_proto
