#include "proto/base64.h"

#include <fmt/format.h>
#include <array>

namespace tarnvale_proto {
namespace {

constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> make_table() {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = kInvalid;
  constexpr std::string_view alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < alphabet.size(); ++i) {
    t[static_cast<unsigned char>(alphabet[i])] = static_cast<std::uint8_t>(i);
  }
  return t;
}
constexpr auto kTable = make_table();

tarnvale_base::Error bad_symbol(std::string_view text, std::size_t at) {
  return tarnvale_base::Error(fmt::format("base64: invalid symbol 0x{:02x} at offset {}",
                                          static_cast<unsigned char>(text[at]), at));
}

}  // namespace

tarnvale_base::Result<std::vector<std::uint8_t>> strict_base64_decode(std::string_view text) {
  std::vector<std::uint8_t> out;
  if (text.empty()) return out;
  if (text.size() % 4 != 0) {
    return tarnvale_base::fail(
        fmt::format("base64: invalid length {}, expected a multiple of 4", text.size()));
  }
  const std::size_t n = text.size();
  // Padding may only close the last group: "xx==" or "xxx=".
  std::size_t pad = 0;
  if (text[n - 1] == '=') pad = text[n - 2] == '=' ? 2 : 1;
  const std::size_t body = n - pad;
  out.reserve((n / 4) * 3);

  std::size_t i = 0;
  for (; i + 4 <= body; i += 4) {
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      std::uint8_t v = kTable[static_cast<unsigned char>(text[i + k])];
      if (v == kInvalid) return tarnvale_base::fail(bad_symbol(text, i + k));
      group = (group << 6) | v;
    }
    out.push_back(static_cast<std::uint8_t>(group >> 16));
    out.push_back(static_cast<std::uint8_t>(group >> 8));
    out.push_back(static_cast<std::uint8_t>(group));
  }
  if (pad == 0) return out;

  // The last group: 2 symbols and "==" give one byte, 3 symbols and "=" give two.
  const std::size_t symbols = 4 - pad;
  std::uint32_t group = 0;
  for (std::size_t k = 0; k < symbols; ++k) {
    std::uint8_t v = kTable[static_cast<unsigned char>(text[i + k])];
    if (v == kInvalid) return tarnvale_base::fail(bad_symbol(text, i + k));
    group = (group << 6) | v;
  }
  // A padded group whose first symbols include "=" was caught above as an invalid symbol; a
  // fourth "=" before the final two ("x===") is one too.
  const std::uint32_t unused_mask = pad == 2 ? 0x0F : 0x03;
  if ((group & unused_mask) != 0) {
    return tarnvale_base::fail(
        fmt::format("base64: non-zero trailing bits at offset {}", i + symbols - 1));
  }
  if (pad == 2) {
    out.push_back(static_cast<std::uint8_t>(group >> 4));
  } else {
    out.push_back(static_cast<std::uint8_t>(group >> 10));
    out.push_back(static_cast<std::uint8_t>(group >> 2));
  }
  return out;
}

}  // namespace tarnvale_proto
