#include "capture/monitors.h"

#include <algorithm>

#include "capture/display_id.h"
#include "capture/sc_wait.h"

namespace tarnvale_capture {
namespace {

namespace pf = tarnvale_platform;
using tarnvale_base::Error;
using tarnvale_base::Result;

// Every mode of the display, scaled duplicates included; nullopt when the call returns nothing.
std::optional<std::vector<pf::CGDisplayModeRef>> all_modes(pf::CGDirectDisplayID display) {
  pf::CGDisplayModeOptions options;
  options.show_duplicate_low_resolution_modes = true;
  return pf::CGDisplayCopyAllDisplayModes(display, &options);
}

std::uint32_t clamp_u32(std::int64_t v) {
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(v, 0, 0xFFFFFFFF));
}
std::uint32_t clamp_u32(std::size_t v) {
  return static_cast<std::uint32_t>(std::min<std::size_t>(v, 0xFFFFFFFF));
}

std::string trim(std::string_view s) {
  constexpr std::string_view kSpace = " \t\n\r\f\v";
  auto b = s.find_first_not_of(kSpace);
  if (b == std::string_view::npos) return {};
  auto e = s.find_last_not_of(kSpace);
  return std::string(s.substr(b, e - b + 1));
}

std::pair<std::uint32_t, std::uint32_t> mode_size(const pf::CGDisplayModeRef& mode) {
  return {clamp_u32(pf::CGDisplayModeGetWidth(mode)), clamp_u32(pf::CGDisplayModeGetHeight(mode))};
}

}  // namespace

std::vector<tarnvale_proto::MonitorMode> distinct_sorted_modes(
    const std::vector<pf::CGDisplayModeRef>& modes) {
  std::vector<tarnvale_proto::MonitorMode> out;
  for (const auto& m : modes) {
    auto [w, h] = mode_size(m);
    if (w == 0 || h == 0) continue;
    tarnvale_proto::MonitorMode mode{w, h};
    if (std::find(out.begin(), out.end(), mode) == out.end()) out.push_back(mode);
  }
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
    const std::uint64_t area_a = std::uint64_t{a.width} * a.height;
    const std::uint64_t area_b = std::uint64_t{b.width} * b.height;
    if (area_a != area_b) return area_a > area_b;
    return a.width > b.width;
  });
  return out;
}

Result<std::vector<tarnvale_proto::MonitorInfo>> enumerate_monitors() {
  auto answer = sc_wait::shareable_content();
  if (answer.error || !answer.content) {
    std::string description = answer.error ? answer.error->localizedDescription : "no content";
    return std::unexpected(Error(description).context("SCShareableContent::get failed"));
  }
  std::vector<tarnvale_proto::MonitorInfo> monitors;
  for (const auto& d : answer.content->displays) {
    tarnvale_proto::MonitorInfo info;
    info.id = std::to_string(d.displayID);
    info.name = "Display " + std::to_string(monitors.size() + 1);
    info.width = clamp_u32(d.width);
    info.height = clamp_u32(d.height);
    info.is_primary = monitors.empty();
    info.is_selected = false;
    if (auto modes = all_modes(d.displayID)) info.available_modes = distinct_sorted_modes(*modes);
    monitors.push_back(std::move(info));
  }
  return monitors;
}

namespace display_mode {

SavedMode ORIGINAL;

Result<std::pair<std::uint32_t, std::uint32_t>> set_display_resolution(
    std::optional<std::string> monitor_id, std::uint32_t width, std::uint32_t height) {
  pf::CGDirectDisplayID target = 0;
  if (monitor_id) {
    if (auto id = parse_display_id(trim(*monitor_id))) target = *id;
  }
  if (target == 0) target = pf::CGMainDisplayID();

  if (width == 0 && height == 0) {
    // Restore: the whole step under the cell's mutex, so that no change slips in between.
    std::lock_guard lock(ORIGINAL.mutex);
    auto saved = std::exchange(ORIGINAL.cell, std::nullopt);
    if (saved) {
      auto& [display, mode] = *saved;
      const auto size = mode_size(mode);
      const pf::CGError r = pf::CGDisplaySetDisplayMode(display, mode);
      pf::CGDisplayModeRelease(mode);
      if (r != pf::kCGErrorSuccess)
        return tarnvale_base::fail("restore CGDisplaySetDisplayMode failed: CGError " +
                                   std::to_string(r));
      return size;
    }
    auto current = pf::CGDisplayCopyDisplayMode(target);
    if (!current) return std::pair<std::uint32_t, std::uint32_t>{0, 0};
    return mode_size(current);
  }

  {
    std::lock_guard lock(ORIGINAL.mutex);
    if (!ORIGINAL.cell) {
      if (auto current = pf::CGDisplayCopyDisplayMode(target))
        ORIGINAL.cell.emplace(target, std::move(current));
    }
  }
  auto modes = all_modes(target);
  if (!modes) return tarnvale_base::fail("CGDisplayCopyAllDisplayModes returned null");
  pf::CGDisplayModeRef chosen;
  for (const auto& m : *modes) {
    if (pf::CGDisplayModeGetWidth(m) == width && pf::CGDisplayModeGetHeight(m) == height) {
      chosen = m;
      break;
    }
  }
  if (!chosen) {
    return tarnvale_base::fail("no " + std::to_string(width) + "x" + std::to_string(height) +
                               " display mode available on this monitor");
  }
  const pf::CGError r = pf::CGDisplaySetDisplayMode(target, chosen);
  if (r != pf::kCGErrorSuccess)
    return tarnvale_base::fail("CGDisplaySetDisplayMode failed: CGError " + std::to_string(r));
  return std::pair<std::uint32_t, std::uint32_t>{width, height};
}

}  // namespace display_mode
}  // namespace tarnvale_capture
