// `AgentBound`: every message the daemon sends the agent after the handshake (keep-alive pings,
// remote input, stream and host controls, file-transfer traffic, session requests), 22 kinds in
// declared order. The inbound task decodes one per JSON frame and dispatches on the alternative
// held in `value`; an unknown "kind" is a decoding error (a newer daemon's message is not
// skipped). The agent never encodes one. Plain values; any thread may copy and move them.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "base/error.h"
#include "proto/file_op.h"
#include "proto/host_control.h"
#include "proto/input.h"

namespace tarnvale_host_ipc {

using tarnvale_base::Result;

struct AgentBound {
  struct HeartbeatPing {
    bool operator==(const HeartbeatPing&) const = default;
  };
  struct InjectInput {
    tarnvale_proto::InputEvent event;
    bool operator==(const InjectInput&) const = default;
  };
  struct ForceKeyframe {
    bool operator==(const ForceKeyframe&) const = default;
  };
  struct SetQuality {
    tarnvale_proto::Quality quality = tarnvale_proto::Quality::Medium;
    bool operator==(const SetQuality&) const = default;
  };
  struct SetMonitor {
    std::string id;  // a `MonitorInfo` id
    bool operator==(const SetMonitor&) const = default;
  };
  struct LockWorkstation {
    bool operator==(const LockWorkstation&) const = default;
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
  struct SetFileTransferUnrestricted {
    bool unrestricted = false;
    bool operator==(const SetFileTransferUnrestricted&) const = default;
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
  struct FileOp {
    tarnvale_proto::FileOpRequest req;
    bool operator==(const FileOp&) const = default;
  };
  struct FileTransferChunk {
    std::uint64_t transfer_id = 0;
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;  // lenient base64 on the wire
    bool operator==(const FileTransferChunk&) const = default;
  };
  struct FileTransferDownloadCredit {
    std::uint64_t transfer_id = 0;
    std::uint64_t bytes = 0;  // a byte count
    bool operator==(const FileTransferDownloadCredit&) const = default;
  };
  // Texts the agent never interprets; missing and `null` both leave a field absent.
  struct SetBlackoutLists {
    std::optional<std::string> window_classes;
    std::optional<std::string> title_patterns;
    bool operator==(const SetBlackoutLists&) const = default;
  };
  struct OpenSystemPanel {
    tarnvale_proto::SystemPanel panel = tarnvale_proto::SystemPanel::Unknown;
    bool operator==(const OpenSystemPanel&) const = default;
  };
  struct SetClipboardFiles {
    std::vector<std::string> paths;
    bool operator==(const SetClipboardFiles&) const = default;
  };
  struct SetAudioCapture {
    bool enabled = false;
    bool operator==(const SetAudioCapture&) const = default;
  };
  struct Shutdown {
    bool operator==(const Shutdown&) const = default;
  };

  using Variant =
      std::variant<HeartbeatPing, InjectInput, ForceKeyframe, SetQuality, SetMonitor,
                   LockWorkstation, SetInputDisabled, SetBlackout, SetWallpaperRemoved,
                   SetShowHostCursor, SetFileTransferUnrestricted, SetPaused, SetDisplayResolution,
                   SetCaptureScale, FileOp, FileTransferChunk, FileTransferDownloadCredit,
                   SetBlackoutLists, OpenSystemPanel, SetClipboardFiles, SetAudioCapture, Shutdown>;
  Variant value = HeartbeatPing{};

  AgentBound() = default;
  template <class Alt>
  requires(!std::same_as<std::remove_cvref_t<Alt>, AgentBound> &&
           std::constructible_from<Variant, Alt&&>) AgentBound(Alt&& alt)
      : value(std::forward<Alt>(alt)) {}  // NOLINT: implicit by design

  // One frame body. Errors are the description alone, followed by the position:
  // "missing field `paused` at line 1 column 22", "base64: truncated input at line 1 column 70".
  static Result<AgentBound> decode_json(std::string_view body);

  // "set_paused"; the variant name "SetPaused".
  std::string_view tag() const;
  std::string_view variant_name() const;

  // As logs show it: `SetPaused { paused: true }`, `HeartbeatPing`,
  // `InjectInput { event: MouseMove { x: 0.5, y: 0.5 } }`, texts quoted, absent optionals `None`.
  std::string debug_form() const;

  bool operator==(const AgentBound&) const = default;
};

}  // namespace tarnvale_host_ipc
