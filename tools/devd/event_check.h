// Checks the JSON form of the events the agent sends, kind by kind, for the development daemon.
// It reads with nlohmann/json directly rather than the agent's own types, so a fault in the
// agent's encoder shows up here instead of being mirrored. Pure functions; any thread.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace tarnvale_devd {

// Nullopt when `event` is a well-formed agent event: a JSON object whose "kind" is one of the 16
// event kinds and whose fields are all present with the right JSON types and ranges. Otherwise a
// short description of the first problem found ("unknown kind `x`", "field `locked`: expected a
// boolean").
std::optional<std::string> check_event(const nlohmann::json& event);

}  // namespace tarnvale_devd
