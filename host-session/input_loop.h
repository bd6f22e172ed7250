// Commands for the input-apply thread, which owns the input sink and applies them one at a time
// in arrival order. The inbound dispatch and the capture-encode loop send them through the
// unbounded input queue; sending never waits, and a failed send (the thread is gone) is ignored.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "proto/input.h"

namespace tarnvale_host_session::input_loop {

struct InputCmd {
  // Inject this remote input event.
  struct Input {
    tarnvale_proto::InputEvent event;
    bool operator==(const Input&) const = default;
  };
  // The monitor now being captured (none: no monitor chosen); input coordinates follow it.
  struct SetActiveMonitor {
    std::optional<std::string> monitor_id;
    bool operator==(const SetActiveMonitor&) const = default;
  };

  std::variant<Input, SetActiveMonitor> value;

  bool operator==(const InputCmd&) const = default;
};

}  // namespace tarnvale_host_session::input_loop
