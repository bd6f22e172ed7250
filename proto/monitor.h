// The monitor list the agent reports to the viewer in `monitors_changed`: one `MonitorInfo` per
// display with the modes it offers. Plain values; proto/wire.h writes their JSON form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnvale_proto {

struct MonitorMode {
  std::uint32_t width = 0;
  std::uint32_t height = 0;

  bool operator==(const MonitorMode&) const = default;
};

struct MonitorInfo {
  std::string id;    // the display id in decimal; what `set_monitor` sends back
  std::string name;  // for people, "Display N"
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool is_primary = false;
  bool is_selected = false;
  std::vector<MonitorMode> available_modes;  // largest first, no duplicates

  bool operator==(const MonitorInfo&) const = default;
};

struct MonitorList {
  std::vector<MonitorInfo> monitors;

  bool operator==(const MonitorList&) const = default;
};

}  // namespace tarnvale_proto
