// Host-control vocabulary shared by viewer, daemon and agent: the `HostControlCmd` a viewer can
// send inside an input event, the settings panels and tools a viewer can ask to open
// (`SystemPanel`), and the three video quality levels (`Quality`). Plain values that any thread may
// copy and compare; decoding lives in proto/wire.h.
#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace tarnvale_proto {

// Video quality requested by the viewer. The enumerator value is the index shared with the capture
// loop through an atomic byte (0 low, 1 medium, 2 high). There is no catch-all: an unknown name on
// the wire is a decoding error.
enum class Quality : std::uint8_t { Low = 0, Medium = 1, High = 2 };

// "low", "medium", "high".
std::string_view wire_name(Quality quality);
// "Low", "Medium", "High": the form logs and debug output use.
std::string_view value_name(Quality quality);
// Exact, case-sensitive; nullopt for any other text.
std::optional<Quality> parse_quality(std::string_view text);
inline std::uint8_t quality_index(Quality quality) {
  return static_cast<std::uint8_t>(quality);
}
// nullopt for an index above 2.
std::optional<Quality> quality_from_index(std::uint8_t index);

// A settings panel or administrative tool, in declared order. Any name the agent does not know
// decodes to `Unknown` rather than failing, so a newer viewer cannot end the session with it.
enum class SystemPanel : std::uint8_t {
  DisplaySettings,
  TaskbarSettings,
  NetworkAdapters,
  NetworkAdvanced,
  WifiSettings,
  SystemProperties,
  DeviceManager,
  AboutSystem,
  ComputerManagement,
  Services,
  EventViewer,
  TaskManager,
  DiskManagement,
  ProgramsAndFeatures,
  WindowsUpdate,
  WorkOrSchool,
  GroupPolicy,
  Unknown,
};

// "display_settings" ... "group_policy"; "unknown" for `Unknown` (never sent by a viewer).
std::string_view wire_name(SystemPanel panel);
// "DisplaySettings" ... "Unknown": how a panel is shown in logs and error messages.
std::string_view value_name(SystemPanel panel);
// Exact, case-sensitive; `Unknown` for any other text.
SystemPanel parse_system_panel(std::string_view text);

// A viewer's host-control command. Each alternative of `value` is one variant, in declared order;
// every tag the agent does not know decodes to `Unknown`.
struct HostControlCmd {
  struct SendCtrlAltDel {
    bool operator==(const SendCtrlAltDel&) const = default;
  };
  struct ForceKeyframe {
    bool operator==(const ForceKeyframe&) const = default;
  };
  struct LockWorkstation {
    bool operator==(const LockWorkstation&) const = default;
  };
  struct Reboot {
    bool operator==(const Reboot&) const = default;
  };
  struct SetInputDisabled {
    bool disabled = false;
    bool operator==(const SetInputDisabled&) const = default;
  };
  struct SetBlackout {
    bool enabled = false;
    bool operator==(const SetBlackout&) const = default;
  };
  struct SetWallpaperRemoved {
    bool removed = false;
    bool operator==(const SetWallpaperRemoved&) const = default;
  };
  struct SetShowHostCursor {
    bool shown = false;
    bool operator==(const SetShowHostCursor&) const = default;
  };
  struct SetQuality {
    Quality quality = Quality::Low;
    bool operator==(const SetQuality&) const = default;
  };
  struct SetPaused {
    bool paused = false;
    bool operator==(const SetPaused&) const = default;
  };
  struct SetDisplayResolution {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool operator==(const SetDisplayResolution&) const = default;
  };
  // 0 in either dimension means the native size.
  struct SetCaptureScale {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    bool operator==(const SetCaptureScale&) const = default;
  };
  struct SetMonitor {
    std::string id;  // a `MonitorInfo::id`
    bool operator==(const SetMonitor&) const = default;
  };
  struct LogoffActiveSession {
    bool operator==(const LogoffActiveSession&) const = default;
  };
  struct Shutdown {
    bool operator==(const Shutdown&) const = default;
  };
  struct OpenSystemPanel {
    SystemPanel panel = SystemPanel::Unknown;
    bool operator==(const OpenSystemPanel&) const = default;
  };
  struct Unknown {
    bool operator==(const Unknown&) const = default;
  };

  using Variant =
      std::variant<SendCtrlAltDel, ForceKeyframe, LockWorkstation, Reboot, SetInputDisabled,
                   SetBlackout, SetWallpaperRemoved, SetShowHostCursor, SetQuality, SetPaused,
                   SetDisplayResolution, SetCaptureScale, SetMonitor, LogoffActiveSession, Shutdown,
                   OpenSystemPanel, Unknown>;
  Variant value = Unknown{};

  HostControlCmd() = default;
  template <class Alt>
  requires(!std::same_as<std::remove_cvref_t<Alt>, HostControlCmd> &&
           std::constructible_from<Variant, Alt&&>) HostControlCmd(Alt&& alt)
      : value(std::forward<Alt>(alt)) {}  // NOLINT: implicit by design

  bool operator==(const HostControlCmd&) const = default;
};

// The variant's name as written in code: "SetPaused", "Unknown".
std::string_view variant_name(const HostControlCmd& cmd);

// Debug forms, as logs show them: `SetPaused { paused: false }`, `Reboot`, `TaskManager`, `High`.
std::string debug_form(const HostControlCmd& cmd);
std::string debug_form(SystemPanel panel);
std::string debug_form(Quality quality);

}  // namespace tarnvale_proto
