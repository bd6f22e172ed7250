// CoreGraphics display configuration as the virtual host serves it.
#include "platform/cg_display.h"

#include "platform/vhost_state.h"

namespace tarnvale_platform {
namespace {

vhost::detail::State& host_state(std::shared_ptr<vhost::VirtualHost>& keep) {
  keep = vhost::VirtualHost::get();
  return keep->state();
}

CGDisplayModeRef copy_mode(const CGDisplayMode& m) {
  return std::make_shared<const CGDisplayMode>(m);
}

}  // namespace

CGDirectDisplayID CGMainDisplayID() {
  std::shared_ptr<vhost::VirtualHost> keep;
  auto& s = host_state(keep);
  std::lock_guard lock(s.mu);
  // The main display is the one at the desktop's origin; the first one when none is.
  for (const auto& d : s.displays)
    if (d.layout.x == 0 && d.layout.y == 0) return d.layout.id;
  return s.displays.empty() ? 0 : s.displays.front().layout.id;
}

CGRect CGDisplayBounds(CGDirectDisplayID display) {
  std::shared_ptr<vhost::VirtualHost> keep;
  auto& s = host_state(keep);
  std::lock_guard lock(s.mu);
  const auto* d = s.find(display);
  if (!d) return CGRect{};
  const auto& m = d->mode();
  return CGRect{{double(d->layout.x), double(d->layout.y)}, {double(m.width), double(m.height)}};
}

std::optional<std::vector<CGDisplayModeRef>> CGDisplayCopyAllDisplayModes(
    CGDirectDisplayID display, const CGDisplayModeOptions* options) {
  const bool duplicates = options && options->show_duplicate_low_resolution_modes;
  std::shared_ptr<vhost::VirtualHost> keep;
  auto& s = host_state(keep);
  std::lock_guard lock(s.mu);
  const auto* d = s.find(display);
  if (!d) return std::nullopt;
  std::vector<CGDisplayModeRef> out;
  for (const auto& m : d->layout.modes) {
    if (m.low_resolution_duplicate && !duplicates) continue;
    out.push_back(copy_mode(m));
  }
  return out;
}

CGDisplayModeRef CGDisplayCopyDisplayMode(CGDirectDisplayID display) {
  std::shared_ptr<vhost::VirtualHost> keep;
  auto& s = host_state(keep);
  std::lock_guard lock(s.mu);
  const auto* d = s.find(display);
  return d ? copy_mode(d->mode()) : nullptr;
}

CGError CGDisplaySetDisplayMode(CGDirectDisplayID display, const CGDisplayModeRef& mode) {
  std::shared_ptr<vhost::VirtualHost> keep;
  auto& s = host_state(keep);
  std::lock_guard lock(s.mu);
  if (s.fail_mode) return std::exchange(s.fail_mode, std::nullopt).value();
  auto* d = s.find(display);
  if (!d || !mode || mode->display != display || mode->io_mode_id >= d->layout.modes.size())
    return kCGErrorIllegalArgument;
  d->layout.current_mode = mode->io_mode_id;
  ++d->content_version;
  ++s.stats.mode_switches;
  const auto& m = d->mode();
  s.journal_append(nlohmann::json({{"kind", "set_display_mode"},
                                   {"display", display},
                                   {"width", m.width},
                                   {"height", m.height},
                                   {"refresh", m.refresh_rate}}));
  s.bump();
  return kCGErrorSuccess;
}

std::size_t CGDisplayModeGetWidth(const CGDisplayModeRef& mode) {
  return mode ? mode->width : 0;
}
std::size_t CGDisplayModeGetHeight(const CGDisplayModeRef& mode) {
  return mode ? mode->height : 0;
}
double CGDisplayModeGetRefreshRate(const CGDisplayModeRef& mode) {
  return mode ? mode->refresh_rate : 0;
}

}  // namespace tarnvale_platform
