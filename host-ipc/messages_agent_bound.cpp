#include "host-ipc/messages_agent_bound.h"

#include "base/json_wire.h"
#include "host-ipc/base64.h"
#include "proto/debug.h"
#include "proto/wire.h"

namespace tarnvale_host_ipc {
namespace {

namespace jw = tarnvale_base::json_wire;
namespace proto = tarnvale_proto;

// Tags and variant names in declared order; the index is the alternative's index in `Variant`.
constexpr jw::Variant kVariants[] = {
    {"heartbeat_ping", "HeartbeatPing"},
    {"inject_input", "InjectInput"},
    {"force_keyframe", "ForceKeyframe"},
    {"set_quality", "SetQuality"},
    {"set_monitor", "SetMonitor"},
    {"lock_workstation", "LockWorkstation"},
    {"set_input_disabled", "SetInputDisabled"},
    {"set_blackout", "SetBlackout"},
    {"set_wallpaper_removed", "SetWallpaperRemoved"},
    {"set_show_host_cursor", "SetShowHostCursor"},
    {"set_file_transfer_unrestricted", "SetFileTransferUnrestricted"},
    {"set_paused", "SetPaused"},
    {"set_display_resolution", "SetDisplayResolution"},
    {"set_capture_scale", "SetCaptureScale"},
    {"file_op", "FileOp"},
    {"file_transfer_chunk", "FileTransferChunk"},
    {"file_transfer_download_credit", "FileTransferDownloadCredit"},
    {"set_blackout_lists", "SetBlackoutLists"},
    {"open_system_panel", "OpenSystemPanel"},
    {"set_clipboard_files", "SetClipboardFiles"},
    {"set_audio_capture", "SetAudioCapture"},
    {"shutdown", "Shutdown"},
};
static_assert(std::size(kVariants) == std::variant_size_v<AgentBound::Variant>);
constexpr jw::TaggedEnum kAgentBound{"AgentBound", kVariants};

// Index of the alternative `T` in the variant `V`.
template <class T, class V>
struct IndexOf;
template <class T, class... Ts>
struct IndexOf<T, std::variant<Ts...>> {
  static constexpr std::size_t value = [] {
    constexpr bool same[] = {std::is_same_v<T, Ts>...};
    std::size_t i = 0;
    while (!same[i]) ++i;
    return i;
  }();
};

// A JSON string of lenient base64; the codec's error becomes the message's description.
Result<std::vector<std::uint8_t>> read_link_base64(const jw::Json& value) {
  if (!value.is_string()) return std::unexpected(jw::invalid_type(value, "a string"));
  return base64_decode(value.get_ref<const std::string&>());
}

AgentBound read_variant(std::size_t variant, jw::Fields& f) {
  using B = AgentBound;
  switch (variant) {
    case 0:
      return B::HeartbeatPing{};
    case 1:
      return B::InjectInput{f.required("event", proto::decode_input_event)};
    case 2:
      return B::ForceKeyframe{};
    case 3:
      return B::SetQuality{f.required("quality", proto::decode_quality)};
    case 4:
      return B::SetMonitor{f.required<std::string>("id")};
    case 5:
      return B::LockWorkstation{};
    case 6:
      return B::SetInputDisabled{f.required<bool>("disabled")};
    case 7:
      return B::SetBlackout{f.required<bool>("enabled")};
    case 8:
      return B::SetWallpaperRemoved{f.required<bool>("removed")};
    case 9:
      return B::SetShowHostCursor{f.required<bool>("shown")};
    case 10:
      return B::SetFileTransferUnrestricted{f.required<bool>("unrestricted")};
    case 11:
      return B::SetPaused{f.required<bool>("paused")};
    case 12: {
      B::SetDisplayResolution m;
      m.width = f.required<std::uint32_t>("width");
      m.height = f.required<std::uint32_t>("height");
      return m;
    }
    case 13: {
      B::SetCaptureScale m;
      m.width = f.required<std::uint32_t>("width");
      m.height = f.required<std::uint32_t>("height");
      return m;
    }
    case 14:
      return B::FileOp{f.required("req", proto::decode_file_op_request)};
    case 15: {
      B::FileTransferChunk m;
      m.transfer_id = f.required<std::uint64_t>("transfer_id");
      m.offset = f.required<std::uint64_t>("offset");
      m.bytes = f.required("bytes", read_link_base64);
      return m;
    }
    case 16: {
      B::FileTransferDownloadCredit m;
      m.transfer_id = f.required<std::uint64_t>("transfer_id");
      m.bytes = f.required<std::uint64_t>("bytes");
      return m;
    }
    case 17: {
      B::SetBlackoutLists m;
      m.window_classes = f.optional<std::string>("window_classes");
      m.title_patterns = f.optional<std::string>("title_patterns");
      return m;
    }
    case 18:
      return B::OpenSystemPanel{f.required("panel", proto::decode_system_panel)};
    case 19:
      return B::SetClipboardFiles{f.required<std::vector<std::string>>("paths")};
    case 20:
      return B::SetAudioCapture{f.required<bool>("enabled")};
    default:
      return B::Shutdown{};
  }
}

Result<AgentBound> decode_agent_bound(const jw::Json& value) {
  return jw::decode_tagged<AgentBound>(value, kAgentBound, &read_variant);
}

std::string quoted(const std::optional<std::string>& text) {
  return proto::debug_optional(text, [](const std::string& t) { return proto::debug_text(t); });
}

// Debug form of each alternative.
struct Debug {
  std::string operator()(const AgentBound::InjectInput& m) const {
    return record(m).field("event", proto::debug_form(m.event)).str();
  }
  std::string operator()(const AgentBound::SetQuality& m) const {
    return record(m).field("quality", proto::debug_form(m.quality)).str();
  }
  std::string operator()(const AgentBound::SetMonitor& m) const {
    return record(m).field("id", proto::debug_text(m.id)).str();
  }
  std::string operator()(const AgentBound::SetInputDisabled& m) const {
    return record(m).field("disabled", proto::debug_bool(m.disabled)).str();
  }
  std::string operator()(const AgentBound::SetBlackout& m) const {
    return record(m).field("enabled", proto::debug_bool(m.enabled)).str();
  }
  std::string operator()(const AgentBound::SetWallpaperRemoved& m) const {
    return record(m).field("removed", proto::debug_bool(m.removed)).str();
  }
  std::string operator()(const AgentBound::SetShowHostCursor& m) const {
    return record(m).field("shown", proto::debug_bool(m.shown)).str();
  }
  std::string operator()(const AgentBound::SetFileTransferUnrestricted& m) const {
    return record(m).field("unrestricted", proto::debug_bool(m.unrestricted)).str();
  }
  std::string operator()(const AgentBound::SetPaused& m) const {
    return record(m).field("paused", proto::debug_bool(m.paused)).str();
  }
  std::string operator()(const AgentBound::SetDisplayResolution& m) const {
    return record(m)
        .field("width", proto::debug_uint(m.width))
        .field("height", proto::debug_uint(m.height))
        .str();
  }
  std::string operator()(const AgentBound::SetCaptureScale& m) const {
    return record(m)
        .field("width", proto::debug_uint(m.width))
        .field("height", proto::debug_uint(m.height))
        .str();
  }
  std::string operator()(const AgentBound::FileOp& m) const {
    return record(m).field("req", proto::debug_form(m.req)).str();
  }
  std::string operator()(const AgentBound::FileTransferChunk& m) const {
    return record(m)
        .field("transfer_id", proto::debug_uint(m.transfer_id))
        .field("offset", proto::debug_uint(m.offset))
        .field("bytes", proto::debug_bytes(m.bytes))
        .str();
  }
  std::string operator()(const AgentBound::FileTransferDownloadCredit& m) const {
    return record(m)
        .field("transfer_id", proto::debug_uint(m.transfer_id))
        .field("bytes", proto::debug_uint(m.bytes))
        .str();
  }
  std::string operator()(const AgentBound::SetBlackoutLists& m) const {
    return record(m)
        .field("window_classes", quoted(m.window_classes))
        .field("title_patterns", quoted(m.title_patterns))
        .str();
  }
  std::string operator()(const AgentBound::OpenSystemPanel& m) const {
    return record(m).field("panel", proto::debug_form(m.panel)).str();
  }
  std::string operator()(const AgentBound::SetClipboardFiles& m) const {
    return record(m).field("paths", proto::debug_texts(m.paths)).str();
  }
  std::string operator()(const AgentBound::SetAudioCapture& m) const {
    return record(m).field("enabled", proto::debug_bool(m.enabled)).str();
  }
  // Unit variants: the name alone.
  template <class Unit>
  std::string operator()(const Unit& m) const {
    return record(m).str();
  }

  template <class Alt>
  static proto::DebugRecord record(const Alt&) {
    return proto::DebugRecord(kVariants[IndexOf<Alt, AgentBound::Variant>::value].name);
  }
};

}  // namespace

Result<AgentBound> AgentBound::decode_json(std::string_view body) {
  return jw::decode_document(body, decode_agent_bound);
}

std::string_view AgentBound::tag() const {
  return value.valueless_by_exception() ? std::string_view() : kVariants[value.index()].tag;
}

std::string_view AgentBound::variant_name() const {
  return value.valueless_by_exception() ? std::string_view() : kVariants[value.index()].name;
}

std::string AgentBound::debug_form() const {
  if (value.valueless_by_exception()) return std::string();
  return std::visit(Debug{}, value);
}

}  // namespace tarnvale_host_ipc
