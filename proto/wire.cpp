#include "proto/wire.h"

#include <array>
#include <span>

#include "base/json_wire.h"
#include "proto/base64.h"
#include "proto/names.h"

namespace tarnvale_proto {
namespace {

namespace jw = tarnvale_base::json_wire;
using jw::Fields;
using jw::Json;

// Tagged-record descriptions: tag on the wire and variant name, in declared order.
template <std::size_t N>
constexpr std::array<jw::Variant, N> same_tags(const std::array<std::string_view, N>& names) {
  std::array<jw::Variant, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = {names[i], names[i]};
  return out;
}

// Every name but the catch-all "Unknown" at the end.
template <std::size_t N>
constexpr std::array<std::string_view, N - 1> without_last(
    const std::array<std::string_view, N>& names) {
  std::array<std::string_view, N - 1> out{};
  for (std::size_t i = 0; i + 1 < N; ++i) out[i] = names[i];
  return out;
}

constexpr auto kInputEventVariants = same_tags(without_last(names::kInputEventNames));
constexpr jw::TaggedEnum kInputEvent{"InputEvent", kInputEventVariants, true};

constexpr std::array<jw::Variant, 16> kHostControlVariants = {{
    {"send_ctrl_alt_del", "SendCtrlAltDel"},
    {"force_keyframe", "ForceKeyframe"},
    {"lock_workstation", "LockWorkstation"},
    {"reboot", "Reboot"},
    {"set_input_disabled", "SetInputDisabled"},
    {"set_blackout", "SetBlackout"},
    {"set_wallpaper_removed", "SetWallpaperRemoved"},
    {"set_show_host_cursor", "SetShowHostCursor"},
    {"set_quality", "SetQuality"},
    {"set_paused", "SetPaused"},
    {"set_display_resolution", "SetDisplayResolution"},
    {"set_capture_scale", "SetCaptureScale"},
    {"set_monitor", "SetMonitor"},
    {"logoff_active_session", "LogoffActiveSession"},
    {"shutdown", "Shutdown"},
    {"open_system_panel", "OpenSystemPanel"},
}};
static_assert(kHostControlVariants.size() + 1 == std::variant_size_v<HostControlCmd::Variant>);
constexpr jw::TaggedEnum kHostControl{"HostControlCmd", kHostControlVariants, true};

constexpr auto kFileOpVariants = same_tags(names::kFileOpNames);
constexpr jw::TaggedEnum kFileOp{"FileOp", kFileOpVariants, false};

constexpr auto kKeyWire = without_last(names::kKeyNames);
constexpr auto kMouseButtonWire = without_last(names::kMouseButtonWire);
constexpr auto kPanelWire = without_last(names::kPanelWire);

// A name with a catch-all: the enumerator at the name's row, the last one for any other string.
template <class E, std::size_t N>
Result<E> read_with_fallback(const Json& value, const std::array<std::string_view, N>& names) {
  auto i = jw::read_name(value, names, N);
  if (!i) return std::unexpected(std::move(i.error()));
  return static_cast<E>(*i);
}

InputEvent read_input_event(std::size_t variant, Fields& f) {
  using E = InputEvent;
  switch (variant) {
    case 0: {
      auto x = f.required<float>("x");
      return E::MouseMove{x, f.required<float>("y")};
    }
    case 1: {
      E::MouseButton e;
      e.button = f.required("button", &decode_mouse_button);
      e.pressed = f.required<bool>("pressed");
      e.x = f.required<float>("x");
      e.y = f.required<float>("y");
      return e;
    }
    case 2: {
      E::MouseScroll e;
      e.dx = f.required<float>("dx");
      e.dy = f.required<float>("dy");
      e.x = f.required<float>("x");
      e.y = f.required<float>("y");
      return e;
    }
    case 3: {
      E::Key e;
      e.key = f.required("key", &decode_key);
      e.pressed = f.required<bool>("pressed");
      e.mods = f.required("mods", &decode_key_modifiers);
      e.repeat = f.required<bool>("repeat");
      return e;
    }
    case 4:
      return E::ClipboardText{f.required<std::string>("text")};
    case 5:
      return E::TypeChar{f.required<std::string>("text")};
    case 6:
      return E::SwapMarker{};
    case 7:
      return E::HostControl{f.required("cmd", &decode_host_control_cmd)};
    case 8:
      return E::FileOp{f.required("req", &decode_file_op_request)};
    case 9:
      return E::SetClipboardFiles{f.required<std::vector<std::string>>("paths")};
    case 10:
      return E::ClipboardImage{f.required("png", &decode_strict_base64)};
    default:
      return E::Unknown{};
  }
}

HostControlCmd read_host_control(std::size_t variant, Fields& f) {
  using C = HostControlCmd;
  switch (variant) {
    case 0:
      return C::SendCtrlAltDel{};
    case 1:
      return C::ForceKeyframe{};
    case 2:
      return C::LockWorkstation{};
    case 3:
      return C::Reboot{};
    case 4:
      return C::SetInputDisabled{f.required<bool>("disabled")};
    case 5:
      return C::SetBlackout{f.required<bool>("enabled")};
    case 6:
      return C::SetWallpaperRemoved{f.required<bool>("removed")};
    case 7:
      return C::SetShowHostCursor{f.required<bool>("shown")};
    case 8:
      return C::SetQuality{f.required("quality", &decode_quality)};
    case 9:
      return C::SetPaused{f.required<bool>("paused")};
    case 10: {
      auto width = f.required<std::uint32_t>("width");
      return C::SetDisplayResolution{width, f.required<std::uint32_t>("height")};
    }
    case 11: {
      auto width = f.required<std::uint32_t>("width");
      return C::SetCaptureScale{width, f.required<std::uint32_t>("height")};
    }
    case 12:
      return C::SetMonitor{f.required<std::string>("id")};
    case 13:
      return C::LogoffActiveSession{};
    case 14:
      return C::Shutdown{};
    case 15:
      return C::OpenSystemPanel{f.required("panel", &decode_system_panel)};
    default:
      return C::Unknown{};
  }
}

FileOp read_file_op(std::size_t variant, Fields& f) {
  using O = FileOp;
  switch (variant) {
    case 0: {
      auto path = f.required<std::string>("path");
      return O::ListDir{std::move(path), f.required<bool>("show_hidden")};
    }
    case 1:
      return O::GetHomeDir{};
    case 2:
      return O::MakeDir{f.required<std::string>("path")};
    case 3: {
      O::StartUpload o;
      o.transfer_id = f.required<std::uint64_t>("transfer_id");
      o.dest_path = f.required<std::string>("dest_path");
      o.total_size = f.required<std::uint64_t>("total_size");
      o.mtime_unix_seconds = f.required<std::int64_t>("mtime_unix_seconds");
      o.resume_from_offset = f.optional<std::uint64_t>("resume_from_offset");
      return o;
    }
    case 4:
      return O::FinalizeUpload{f.required<std::uint64_t>("transfer_id")};
    case 5: {
      O::StartDownload o;
      o.transfer_id = f.required<std::uint64_t>("transfer_id");
      o.src_path = f.required<std::string>("src_path");
      o.resume_from_offset = f.optional<std::uint64_t>("resume_from_offset");
      return o;
    }
    case 6:
      return O::CancelTransfer{f.required<std::uint64_t>("transfer_id")};
    case 7:
      return O::CreateClipboardPasteDir{};
    case 8: {
      O::ListDirRecursive o;
      o.path = f.required<std::string>("path");
      o.show_hidden = f.required<bool>("show_hidden");
      o.max_entries = f.optional<std::uint32_t>("max_entries");
      o.max_depth = f.optional<std::uint32_t>("max_depth");
      return o;
    }
    case 9:
      return O::Delete{f.required<std::vector<std::string>>("paths")};
    default: {
      auto src_paths = f.required<std::vector<std::string>>("src_paths");
      return O::Copy{std::move(src_paths), f.required<std::string>("dest_dir")};
    }
  }
}

// The fields an entry of either listing shares after its name.
template <class Entry>
void write_entry_tail(jw::ObjectWriter& w, const Entry& e) {
  encode_json(w.key("kind"), e.kind);
  w.field("size", e.size);
  w.field("modified_unix_seconds", e.modified_unix_seconds);
  w.field("is_hidden", e.is_hidden);
  w.field("is_readonly", e.is_readonly);
}

template <class T>
void write_array(std::string& out, const std::vector<T>& items) {
  out.push_back('[');
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out.push_back(',');
    encode_json(out, items[i]);
  }
  out.push_back(']');
}

// One overload per result variant: the fields after "kind", in declared order.
struct ResultFields {
  jw::ObjectWriter& w;
  void operator()(const FileOpResult::ListDir& r) {
    w.field("path", r.path);
    write_array(w.key("entries"), r.entries);
  }
  void operator()(const FileOpResult::GetHomeDir& r) { w.field("path", r.path); }
  void operator()(const FileOpResult::MakeDir& r) { w.field("path", r.path); }
  void operator()(const FileOpResult::UploadStarted& r) {
    w.field("transfer_id", r.transfer_id);
    w.field("resume_offset", r.resume_offset);
  }
  void operator()(const FileOpResult::UploadFinalized& r) { w.field("transfer_id", r.transfer_id); }
  void operator()(const FileOpResult::DownloadStarted& r) {
    w.field("transfer_id", r.transfer_id);
    w.field("total_size", r.total_size);
    w.field("mtime_unix_seconds", r.mtime_unix_seconds);
  }
  void operator()(const FileOpResult::Cancelled& r) { w.field("transfer_id", r.transfer_id); }
  void operator()(const FileOpResult::ClipboardPasteDir& r) { w.field("dir", r.dir); }
  void operator()(const FileOpResult::ListDirRecursive& r) {
    w.field("path", r.path);
    write_array(w.key("entries"), r.entries);
    w.field("truncated", r.truncated);
  }
  void operator()(const FileOpResult::Deleted& r) { w.field("count", r.count); }
  void operator()(const FileOpResult::Copied& r) { w.field("count", r.count); }
  void operator()(const FileOpResult::Error& r) {
    encode_json(w.key("code"), r.code);
    w.field("message", r.message);
  }
};

}  // namespace

Result<InputEvent> decode_input_event(const Json& value) {
  return jw::decode_tagged<InputEvent>(value, kInputEvent, &read_input_event);
}

Result<Key> decode_key(const Json& value) {
  return read_with_fallback<Key>(value, kKeyWire);
}

Result<KeyModifiers> decode_key_modifiers(const Json& value) {
  return jw::decode_record<KeyModifiers>(value, "KeyModifiers", [](Fields& f) {
    KeyModifiers m;
    m.shift = f.required<bool>("shift");
    m.ctrl = f.required<bool>("ctrl");
    m.alt = f.required<bool>("alt");
    m.meta = f.required<bool>("meta");
    return m;
  });
}

Result<MouseButton> decode_mouse_button(const Json& value) {
  return read_with_fallback<MouseButton>(value, kMouseButtonWire);
}

Result<HostControlCmd> decode_host_control_cmd(const Json& value) {
  return jw::decode_tagged<HostControlCmd>(value, kHostControl, &read_host_control);
}

Result<SystemPanel> decode_system_panel(const Json& value) {
  return read_with_fallback<SystemPanel>(value, kPanelWire);
}

Result<Quality> decode_quality(const Json& value) {
  auto i = jw::read_name(value, names::kQualityWire);
  if (!i) return std::unexpected(std::move(i.error()));
  return static_cast<Quality>(*i);
}

Result<FileOpRequest> decode_file_op_request(const Json& value) {
  return jw::decode_record<FileOpRequest>(value, "FileOpRequest", [](Fields& f) {
    FileOpRequest r;
    r.request_id = f.required<std::uint64_t>("request_id");
    r.op = f.required("op", &decode_file_op);
    return r;
  });
}

Result<FileOp> decode_file_op(const Json& value) {
  return jw::decode_tagged<FileOp>(value, kFileOp, &read_file_op);
}

Result<std::vector<std::uint8_t>> decode_strict_base64(const Json& value) {
  if (!value.is_string()) return std::unexpected(jw::invalid_type(value, "a base64 string"));
  return strict_base64_decode(value.get_ref<const std::string&>());
}

Result<InputEvent> decode_input_event_json(std::string_view body) {
  return jw::decode_document(body, &decode_input_event);
}

void encode_json(std::string& out, const FileOpResponse& response) {
  jw::ObjectWriter w(out);
  w.field("request_id", response.request_id);
  encode_json(w.key("result"), response.result);
}

void encode_json(std::string& out, const FileOpResult& result) {
  jw::ObjectWriter w(out);
  w.field("kind", variant_name(result));
  if (!result.value.valueless_by_exception()) std::visit(ResultFields{w}, result.value);
}

void encode_json(std::string& out, const DirEntry& entry) {
  jw::ObjectWriter w(out);
  w.field("name", entry.name);
  write_entry_tail(w, entry);
}

void encode_json(std::string& out, const TreeEntry& entry) {
  jw::ObjectWriter w(out);
  w.field("rel_path", entry.rel_path);
  write_entry_tail(w, entry);
}

void encode_json(std::string& out, EntryKind kind) {
  jw::write_string(out, value_name(kind));
}
void encode_json(std::string& out, FileErrorCode code) {
  jw::write_string(out, value_name(code));
}

void encode_json(std::string& out, const MonitorList& list) {
  jw::ObjectWriter w(out);
  write_array(w.key("monitors"), list.monitors);
}

void encode_json(std::string& out, const MonitorInfo& monitor) {
  jw::ObjectWriter w(out);
  w.field("id", monitor.id);
  w.field("name", monitor.name);
  w.field("width", monitor.width);
  w.field("height", monitor.height);
  w.field("is_primary", monitor.is_primary);
  w.field("is_selected", monitor.is_selected);
  write_array(w.key("available_modes"), monitor.available_modes);
}

void encode_json(std::string& out, const MonitorMode& mode) {
  jw::ObjectWriter w(out);
  w.field("width", mode.width);
  w.field("height", mode.height);
}

void encode_json(std::string& out, CursorKind kind) {
  jw::write_string(out, wire_name(kind));
}

}  // namespace tarnvale_proto
