// JSON forms of virtual-host values shared by the scenario file and the control socket.
#pragma once

#include <nlohmann/json.hpp>

#include "base/error.h"
#include "platform/vhost.h"

namespace tarnvale_platform::vhost {

tarnvale_base::Result<DisplaySpec> display_from_json(const nlohmann::json& display);
nlohmann::json display_to_json(const DisplaySpec& display);

}  // namespace tarnvale_platform::vhost
