// The pictures a virtual display shows: the moving test picture (a colour ramp that slides one
// step per refresh, with the frame number in block digits), the lock screen, and images set by
// tests. Everything is drawn straight into the output buffer at the stream's size.
#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "platform/vhost_state.h"

namespace tarnvale_platform::vhost::detail {
namespace {

// 3x5 block digits, one bit per cell, top row first.
constexpr std::array<std::array<std::uint8_t, 5>, 10> kDigits = {{
    {0b111, 0b101, 0b101, 0b101, 0b111},
    {0b010, 0b110, 0b010, 0b010, 0b111},
    {0b111, 0b001, 0b111, 0b100, 0b111},
    {0b111, 0b001, 0b111, 0b001, 0b111},
    {0b101, 0b101, 0b111, 0b001, 0b001},
    {0b111, 0b100, 0b111, 0b001, 0b111},
    {0b111, 0b100, 0b111, 0b101, 0b111},
    {0b111, 0b001, 0b010, 0b010, 0b010},
    {0b111, 0b101, 0b111, 0b101, 0b111},
    {0b111, 0b101, 0b111, 0b001, 0b111},
}};

void fill_rect(CVPixelBuffer& out, std::size_t x0, std::size_t y0, std::size_t w, std::size_t h,
               std::uint32_t bgra) {
  const std::size_t W = out.width(), H = out.height();
  if (x0 >= W || y0 >= H) return;
  w = std::min(w, W - x0);
  h = std::min(h, H - y0);
  for (std::size_t y = y0; y < y0 + h; ++y) {
    auto* row = out.mutable_bytes() + y * out.bytes_per_row() + x0 * 4;
    for (std::size_t x = 0; x < w; ++x) std::memcpy(row + x * 4, &bgra, 4);
  }
}

// Fills every row with a copy of the first one.
void repeat_first_row(CVPixelBuffer& out) {
  auto* base = out.mutable_bytes();
  for (std::size_t y = 1; y < out.height(); ++y)
    std::memcpy(base + y * out.bytes_per_row(), base, out.width() * 4);
}

constexpr std::uint32_t bgra(std::uint8_t b, std::uint8_t g, std::uint8_t r) {
  return std::uint32_t{b} | std::uint32_t{g} << 8 | std::uint32_t{r} << 16 | 0xFF000000u;
}

void draw_number(CVPixelBuffer& out, std::uint64_t number) {
  const std::string text = std::to_string(number);
  const std::size_t cell = std::max<std::size_t>(2, out.height() / 54);  // one digit block
  const std::size_t pad = cell;
  const std::size_t box_w = pad * 2 + text.size() * 4 * cell - cell;
  const std::size_t box_h = pad * 2 + 5 * cell;
  fill_rect(out, cell, cell, box_w, box_h, bgra(0, 0, 0));
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto& glyph = kDigits[static_cast<std::size_t>(text[i] - '0')];
    for (std::size_t gy = 0; gy < 5; ++gy)
      for (std::size_t gx = 0; gx < 3; ++gx)
        if (glyph[gy] & (0b100 >> gx))
          fill_rect(out, cell + pad + (i * 4 + gx) * cell, cell + pad + gy * cell, cell, cell,
                    bgra(255, 255, 255));
  }
}

void draw_test_picture(const Picture& p, CVPixelBuffer& out) {
  const std::size_t W = out.width();
  auto* row = out.mutable_bytes();
  // A ramp across the width that slides right by 4/256 of the width per frame.
  const std::uint64_t shift = p.frame_index * 4;
  for (std::size_t x = 0; x < W; ++x) {
    auto t = static_cast<std::uint8_t>((x * 256 / W + shift) & 0xFF);
    std::uint32_t px = bgra(t, static_cast<std::uint8_t>(255 - t), 96);
    std::memcpy(row + x * 4, &px, 4);
  }
  repeat_first_row(out);
  // A bar that moves down, so that consecutive frames differ in rows as well.
  const std::size_t bar_h = std::max<std::size_t>(1, out.height() / 40);
  const std::size_t bar_y = (p.frame_index * bar_h) % out.height();
  fill_rect(out, 0, bar_y, W, bar_h, bgra(255, 255, 255));
  draw_number(out, p.frame_index);
}

void draw_lock_screen(CVPixelBuffer& out) {
  fill_rect(out, 0, 0, out.width(), 1, bgra(40, 30, 30));
  repeat_first_row(out);
  // A padlock: a body and a shackle.
  const std::size_t u = std::max<std::size_t>(1, out.height() / 40);
  const std::size_t cx = out.width() / 2, cy = out.height() / 2;
  fill_rect(out, cx - 3 * u, cy, 6 * u, 4 * u, bgra(200, 200, 200));
  fill_rect(out, cx - 2 * u, cy - 3 * u, u, 3 * u, bgra(200, 200, 200));
  fill_rect(out, cx + u, cy - 3 * u, u, 3 * u, bgra(200, 200, 200));
  fill_rect(out, cx - 2 * u, cy - 3 * u, 4 * u, u, bgra(200, 200, 200));
}

void draw_pixels(const Picture& p, CVPixelBuffer& out) {
  const std::size_t W = out.width(), H = out.height();
  const std::size_t sw = p.pixels_width, sh = p.pixels_height;
  const auto* src = p.pixels->data();
  if (sw == W && sh == H) {
    for (std::size_t y = 0; y < H; ++y)
      std::memcpy(out.mutable_bytes() + y * out.bytes_per_row(), src + y * sw * 4, W * 4);
    return;
  }
  // Nearest neighbour.
  std::vector<std::size_t> sx(W);
  for (std::size_t x = 0; x < W; ++x) sx[x] = x * sw / W;
  for (std::size_t y = 0; y < H; ++y) {
    const auto* srow = src + (y * sh / H) * sw * 4;
    auto* drow = out.mutable_bytes() + y * out.bytes_per_row();
    for (std::size_t x = 0; x < W; ++x) std::memcpy(drow + x * 4, srow + sx[x] * 4, 4);
  }
}

}  // namespace

void render(const Picture& picture, CVPixelBuffer& out) {
  if (out.width() == 0 || out.height() == 0) return;
  if (picture.locked) {
    draw_lock_screen(out);
  } else if (picture.content == Content::Pixels && picture.pixels && picture.pixels_width > 0 &&
             picture.pixels_height > 0) {
    draw_pixels(picture, out);
  } else {
    draw_test_picture(picture, out);  // a static picture is frame 0
  }
}

}  // namespace tarnvale_platform::vhost::detail
