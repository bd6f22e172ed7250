// JSON forms of virtual-host values shared by the scenario file and the control socket.
#pragma once

#include <nlohmann/json.hpp>

#include "base/error.h"
#include "platform/vhost.h"

namespace tarnvale_platform::vhost {

// A JSON integer in 0..max (a non-negative signed integer counts too), or nullopt.
inline std::optional<std::uint64_t> as_unsigned(const nlohmann::json& v, std::uint64_t max) {
  if (v.is_number_unsigned()) {
    auto n = v.get<std::uint64_t>();
    return n <= max ? std::optional(n) : std::nullopt;
  }
  if (v.is_number_integer()) {
    auto n = v.get<std::int64_t>();
    return n >= 0 && std::uint64_t(n) <= max ? std::optional(std::uint64_t(n)) : std::nullopt;
  }
  return std::nullopt;
}

tarnvale_base::Result<DisplayLayout> display_from_json(const nlohmann::json& display);
nlohmann::json display_to_json(const DisplayLayout& display);

}  // namespace tarnvale_platform::vhost
