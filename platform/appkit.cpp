// AppKit activation as the virtual host serves it.
#include "platform/appkit.h"

#include "platform/vhost_state.h"

namespace tarnvale_platform {

bool NSApplicationLoad() {
  auto host = vhost::VirtualHost::get();
  auto& s = host->state();
  std::lock_guard lock(s.mu);
  ++s.stats.appkit_loads;
  s.bump();
  return true;
}

}  // namespace tarnvale_platform
