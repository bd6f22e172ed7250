// The privacy grants as the virtual host serves them.
#include "platform/permissions.h"

#include "platform/vhost_state.h"

namespace tarnvale_platform {

bool CGPreflightScreenCaptureAccess() {
  auto host = vhost::VirtualHost::get();
  return host->screen_recording();
}

bool CGRequestScreenCaptureAccess() {
  auto host = vhost::VirtualHost::get();
  auto& s = host->state();
  std::lock_guard lock(s.mu);
  ++s.stats.screen_capture_requests;
  s.journal_append(
      nlohmann::json({{"kind", "screen_capture_request"}, {"granted", s.screen_recording}}));
  s.bump();
  return s.screen_recording;
}

bool AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions* options) {
  auto host = vhost::VirtualHost::get();
  auto& s = host->state();
  std::lock_guard lock(s.mu);
  if (!s.accessibility && options && options->prompt) {
    ++s.stats.accessibility_prompts;
    s.journal_append(nlohmann::json({{"kind", "accessibility_prompt"}}));
    s.bump();
  }
  return s.accessibility;
}

}  // namespace tarnvale_platform
