// The login session's attribute dictionary (`CGSessionCopyCurrentDictionary`), which carries the
// screen-lock state under the key "CGSSessionScreenIsLocked". Any thread may call it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tarnvale_platform {

// The key whose value is the boolean true while the screen is locked. When the screen is not
// locked the key is usually absent rather than false.
inline constexpr std::string_view kCGSSessionScreenIsLockedKey = "CGSSessionScreenIsLocked";

// A value in the session dictionary: CFBoolean, CFNumber or CFString.
using SessionValue = std::variant<bool, std::int64_t, std::string>;

// An immutable copy of the session's attributes, owned by the caller.
class SessionDictionary {
 public:
  explicit SessionDictionary(std::map<std::string, SessionValue, std::less<>> values)
      : values_(std::move(values)) {}

  // `CFDictionaryGetValue`: the value under `key`, or null when the key is absent.
  const SessionValue* get(std::string_view key) const;

  const std::map<std::string, SessionValue, std::less<>>& values() const { return values_; }

 private:
  std::map<std::string, SessionValue, std::less<>> values_;
};

// A copy of the current session's dictionary, or null when the caller does not run inside a
// graphical login session (the macOS call returns NULL then).
std::unique_ptr<SessionDictionary> CGSessionCopyCurrentDictionary();

}  // namespace tarnvale_platform
