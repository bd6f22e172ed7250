// The login session dictionary as the virtual host serves it.
#include "platform/session.h"

#include "platform/vhost_state.h"

namespace tarnvale_platform {

const SessionValue* SessionDictionary::get(std::string_view key) const {
  auto it = values_.find(key);
  return it == values_.end() ? nullptr : &it->second;
}

std::unique_ptr<SessionDictionary> CGSessionCopyCurrentDictionary() {
  auto host = vhost::VirtualHost::get();
  auto& s = host->state();
  std::lock_guard lock(s.mu);
  if (!s.in_session) return nullptr;
  std::map<std::string, SessionValue, std::less<>> values;
  values.emplace("kCGSSessionOnConsoleKey", true);
  values.emplace("kCGSSessionLoginDoneKey", true);
  values.emplace("kCGSSessionUserIDKey", std::int64_t{501});
  values.emplace("kCGSSessionUserNameKey", std::string("tarnvale"));
  // Like macOS, the key is there only while the screen is locked.
  if (s.locked) values.emplace(std::string(kCGSSessionScreenIsLockedKey), true);
  return std::make_unique<SessionDictionary>(std::move(values));
}

}  // namespace tarnvale_platform
