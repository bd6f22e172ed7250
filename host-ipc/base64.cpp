#include "host-ipc/base64.h"

#include <array>

#include <fmt/format.h>

namespace tarnvale_host_ipc {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decoding table: 0..63 for the alphabet, kSkip for whitespace and "=", kBad for the rest.
constexpr std::uint8_t kSkip = 0xFE;
constexpr std::uint8_t kBad = 0xFF;
constexpr std::array<std::uint8_t, 256> make_table() {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = kBad;
  for (std::uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = i;
  for (unsigned char c : {' ', '\t', '\n', '\f', '\r', '='}) t[c] = kSkip;
  return t;
}
constexpr std::array<std::uint8_t, 256> kTable = make_table();

}  // namespace

std::string base64_encode(std::span<const std::uint8_t> bytes) {
  std::string out;
  base64_encode_to(out, bytes);
  return out;
}

void base64_encode_to(std::string& out, std::span<const std::uint8_t> bytes) {
  const std::size_t n = bytes.size();
  const std::size_t start = out.size();
  out.resize(start + (n + 2) / 3 * 4);
  char* p = out.data() + start;
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const unsigned b0 = bytes[i], b1 = bytes[i + 1], b2 = bytes[i + 2];
    *p++ = kAlphabet[b0 >> 2];
    *p++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    *p++ = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
    *p++ = kAlphabet[b2 & 63];
  }
  if (n - i == 1) {
    const unsigned b0 = bytes[i];
    *p++ = kAlphabet[b0 >> 2];
    *p++ = kAlphabet[(b0 & 3) << 4];
    *p++ = '=';
    *p++ = '=';
  } else if (n - i == 2) {
    const unsigned b0 = bytes[i], b1 = bytes[i + 1];
    *p++ = kAlphabet[b0 >> 2];
    *p++ = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
    *p++ = kAlphabet[(b1 & 15) << 2];
    *p++ = '=';
  }
}

tarnvale_base::Result<std::vector<std::uint8_t>> base64_decode(std::string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() / 4 * 3);
  std::uint8_t group[4];
  int count = 0;
  for (unsigned char c : text) {
    const std::uint8_t v = kTable[c];
    if (v == kSkip) continue;
    if (v == kBad) return tarnvale_base::fail(fmt::format("base64: invalid byte 0x{:02x}", c));
    group[count++] = v;
    if (count == 4) {
      out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
      out.push_back(static_cast<std::uint8_t>(((group[1] & 15) << 4) | (group[2] >> 2)));
      out.push_back(static_cast<std::uint8_t>(((group[2] & 3) << 6) | group[3]));
      count = 0;
    }
  }
  switch (count) {
    case 1:
      return tarnvale_base::fail("base64: truncated input");
    case 2:
      out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
      break;
    case 3:
      out.push_back(static_cast<std::uint8_t>((group[0] << 2) | (group[1] >> 4)));
      out.push_back(static_cast<std::uint8_t>(((group[1] & 15) << 4) | (group[2] >> 2)));
      break;
    default:
      break;
  }
  return out;
}

}  // namespace tarnvale_host_ipc
