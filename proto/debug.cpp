// Debug forms of the protocol values and the building blocks they are made of.
#include "proto/debug.h"

#include <fmt/format.h>

#include <cmath>
#include <type_traits>
#include <variant>

#include "base/json_wire.h"
#include "proto/cursor.h"
#include "proto/file_op.h"
#include "proto/host_control.h"
#include "proto/input.h"

namespace tarnvale_proto {

std::string debug_text(std::string_view text) {
  // One escaping rule for every debug form of the link, nested or not.
  return tarnvale_base::json_wire::debug_quote(text);
}

std::string debug_float(float value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  std::string out = fmt::format("{}", value);
  if (out.find_first_of(".e") == std::string::npos) out += ".0";
  return out;
}

std::string debug_bool(bool value) {
  return value ? "true" : "false";
}
std::string debug_int(std::int64_t value) {
  return fmt::format("{}", value);
}
std::string debug_uint(std::uint64_t value) {
  return fmt::format("{}", value);
}

std::string debug_texts(const std::vector<std::string>& texts) {
  std::string out = "[";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) out += ", ";
    out += debug_text(texts[i]);
  }
  out += "]";
  return out;
}

std::string debug_bytes(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kShown = 32;
  std::string out = "[";
  std::size_t shown = bytes.size() > kShown ? kShown : bytes.size();
  for (std::size_t i = 0; i < shown; ++i) {
    if (i > 0) out += ", ";
    out += fmt::format("{}", bytes[i]);
  }
  if (shown < bytes.size()) {
    out += fmt::format(", ..] ({} bytes)", bytes.size());
  } else {
    out += "]";
  }
  return out;
}

DebugRecord::DebugRecord(std::string_view name) : text_(name) {}

DebugRecord& DebugRecord::field(std::string_view name, std::string_view value) {
  text_ += has_fields_ ? ", " : " { ";
  has_fields_ = true;
  text_ += name;
  text_ += ": ";
  text_ += value;
  return *this;
}

std::string DebugRecord::str() const {
  return has_fields_ ? text_ + " }" : text_;
}

namespace {

template <class T>
std::string opt_uint(const std::optional<T>& value) {
  return debug_optional(value, [](T v) { return debug_uint(v); });
}

// One overload per alternative; a unit alternative is its variant name alone.
struct HostControlFields {
  DebugRecord& r;
  void operator()(const HostControlCmd::SetInputDisabled& c) {
    r.field("disabled", debug_bool(c.disabled));
  }
  void operator()(const HostControlCmd::SetBlackout& c) {
    r.field("enabled", debug_bool(c.enabled));
  }
  void operator()(const HostControlCmd::SetWallpaperRemoved& c) {
    r.field("removed", debug_bool(c.removed));
  }
  void operator()(const HostControlCmd::SetShowHostCursor& c) {
    r.field("shown", debug_bool(c.shown));
  }
  void operator()(const HostControlCmd::SetQuality& c) {
    r.field("quality", value_name(c.quality));
  }
  void operator()(const HostControlCmd::SetPaused& c) { r.field("paused", debug_bool(c.paused)); }
  void operator()(const HostControlCmd::SetDisplayResolution& c) {
    r.field("width", debug_uint(c.width)).field("height", debug_uint(c.height));
  }
  void operator()(const HostControlCmd::SetCaptureScale& c) {
    r.field("width", debug_uint(c.width)).field("height", debug_uint(c.height));
  }
  void operator()(const HostControlCmd::SetMonitor& c) { r.field("id", debug_text(c.id)); }
  void operator()(const HostControlCmd::OpenSystemPanel& c) {
    r.field("panel", value_name(c.panel));
  }
  template <class Unit>
  requires std::is_empty_v<Unit>
  void operator()(const Unit&) {}
};

struct FileOpFields {
  DebugRecord& r;
  void operator()(const FileOp::ListDir& o) {
    r.field("path", debug_text(o.path)).field("show_hidden", debug_bool(o.show_hidden));
  }
  void operator()(const FileOp::MakeDir& o) { r.field("path", debug_text(o.path)); }
  void operator()(const FileOp::StartUpload& o) {
    r.field("transfer_id", debug_uint(o.transfer_id))
        .field("dest_path", debug_text(o.dest_path))
        .field("total_size", debug_uint(o.total_size))
        .field("mtime_unix_seconds", debug_int(o.mtime_unix_seconds))
        .field("resume_from_offset", opt_uint(o.resume_from_offset));
  }
  void operator()(const FileOp::FinalizeUpload& o) {
    r.field("transfer_id", debug_uint(o.transfer_id));
  }
  void operator()(const FileOp::StartDownload& o) {
    r.field("transfer_id", debug_uint(o.transfer_id))
        .field("src_path", debug_text(o.src_path))
        .field("resume_from_offset", opt_uint(o.resume_from_offset));
  }
  void operator()(const FileOp::CancelTransfer& o) {
    r.field("transfer_id", debug_uint(o.transfer_id));
  }
  void operator()(const FileOp::ListDirRecursive& o) {
    r.field("path", debug_text(o.path))
        .field("show_hidden", debug_bool(o.show_hidden))
        .field("max_entries", opt_uint(o.max_entries))
        .field("max_depth", opt_uint(o.max_depth));
  }
  void operator()(const FileOp::Delete& o) { r.field("paths", debug_texts(o.paths)); }
  void operator()(const FileOp::Copy& o) {
    r.field("src_paths", debug_texts(o.src_paths)).field("dest_dir", debug_text(o.dest_dir));
  }
  template <class Unit>
  requires std::is_empty_v<Unit>
  void operator()(const Unit&) {}
};

template <class Entry>
std::string entries_form(const std::vector<Entry>& entries) {
  std::string out = "[";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) out += ", ";
    out += debug_form(entries[i]);
  }
  out += "]";
  return out;
}

struct FileOpResultFields {
  DebugRecord& r;
  void operator()(const FileOpResult::ListDir& o) {
    r.field("path", debug_text(o.path)).field("entries", entries_form(o.entries));
  }
  void operator()(const FileOpResult::GetHomeDir& o) { r.field("path", debug_text(o.path)); }
  void operator()(const FileOpResult::MakeDir& o) { r.field("path", debug_text(o.path)); }
  void operator()(const FileOpResult::UploadStarted& o) {
    r.field("transfer_id", debug_uint(o.transfer_id))
        .field("resume_offset", debug_uint(o.resume_offset));
  }
  void operator()(const FileOpResult::UploadFinalized& o) {
    r.field("transfer_id", debug_uint(o.transfer_id));
  }
  void operator()(const FileOpResult::DownloadStarted& o) {
    r.field("transfer_id", debug_uint(o.transfer_id))
        .field("total_size", debug_uint(o.total_size))
        .field("mtime_unix_seconds", debug_int(o.mtime_unix_seconds));
  }
  void operator()(const FileOpResult::Cancelled& o) {
    r.field("transfer_id", debug_uint(o.transfer_id));
  }
  void operator()(const FileOpResult::ClipboardPasteDir& o) { r.field("dir", debug_text(o.dir)); }
  void operator()(const FileOpResult::ListDirRecursive& o) {
    r.field("path", debug_text(o.path))
        .field("entries", entries_form(o.entries))
        .field("truncated", debug_bool(o.truncated));
  }
  void operator()(const FileOpResult::Deleted& o) { r.field("count", debug_uint(o.count)); }
  void operator()(const FileOpResult::Copied& o) { r.field("count", debug_uint(o.count)); }
  void operator()(const FileOpResult::Error& o) {
    r.field("code", value_name(o.code)).field("message", debug_text(o.message));
  }
};

struct InputEventFields {
  DebugRecord& r;
  void operator()(const InputEvent::MouseMove& e) {
    r.field("x", debug_float(e.x)).field("y", debug_float(e.y));
  }
  void operator()(const InputEvent::MouseButton& e) {
    r.field("button", value_name(e.button))
        .field("pressed", debug_bool(e.pressed))
        .field("x", debug_float(e.x))
        .field("y", debug_float(e.y));
  }
  void operator()(const InputEvent::MouseScroll& e) {
    r.field("dx", debug_float(e.dx))
        .field("dy", debug_float(e.dy))
        .field("x", debug_float(e.x))
        .field("y", debug_float(e.y));
  }
  void operator()(const InputEvent::Key& e) {
    r.field("key", value_name(e.key))
        .field("pressed", debug_bool(e.pressed))
        .field("mods", debug_form(e.mods))
        .field("repeat", debug_bool(e.repeat));
  }
  void operator()(const InputEvent::ClipboardText& e) { r.field("text", debug_text(e.text)); }
  void operator()(const InputEvent::TypeChar& e) { r.field("text", debug_text(e.text)); }
  void operator()(const InputEvent::HostControl& e) { r.field("cmd", debug_form(e.cmd)); }
  void operator()(const InputEvent::FileOp& e) { r.field("req", debug_form(e.req)); }
  void operator()(const InputEvent::SetClipboardFiles& e) {
    r.field("paths", debug_texts(e.paths));
  }
  void operator()(const InputEvent::ClipboardImage& e) { r.field("png", debug_bytes(e.png)); }
  template <class Unit>
  requires std::is_empty_v<Unit>
  void operator()(const Unit&) {}
};

template <class Value, class Fields>
std::string variant_form(const Value& v) {
  DebugRecord r(variant_name(v));
  if (!v.value.valueless_by_exception()) std::visit(Fields{r}, v.value);
  return r.str();
}

}  // namespace

std::string debug_form(const HostControlCmd& cmd) {
  return variant_form<HostControlCmd, HostControlFields>(cmd);
}
std::string debug_form(SystemPanel panel) {
  return std::string(value_name(panel));
}
std::string debug_form(Quality quality) {
  return std::string(value_name(quality));
}

std::string debug_form(const FileOp& op) {
  return variant_form<FileOp, FileOpFields>(op);
}
std::string debug_form(const FileOpRequest& request) {
  return DebugRecord("FileOpRequest")
      .field("request_id", debug_uint(request.request_id))
      .field("op", debug_form(request.op))
      .str();
}
std::string debug_form(const FileOpResult& result) {
  return variant_form<FileOpResult, FileOpResultFields>(result);
}
std::string debug_form(const FileOpResponse& response) {
  return DebugRecord("FileOpResponse")
      .field("request_id", debug_uint(response.request_id))
      .field("result", debug_form(response.result))
      .str();
}

namespace {
template <class Entry>
std::string entry_form(std::string_view type, std::string_view name_key, const std::string& name,
                       const Entry& e) {
  return DebugRecord(type)
      .field(name_key, debug_text(name))
      .field("kind", value_name(e.kind))
      .field("size", debug_uint(e.size))
      .field("modified_unix_seconds", debug_int(e.modified_unix_seconds))
      .field("is_hidden", debug_bool(e.is_hidden))
      .field("is_readonly", debug_bool(e.is_readonly))
      .str();
}
}  // namespace

std::string debug_form(const DirEntry& entry) {
  return entry_form("DirEntry", "name", entry.name, entry);
}
std::string debug_form(const TreeEntry& entry) {
  return entry_form("TreeEntry", "rel_path", entry.rel_path, entry);
}
std::string debug_form(EntryKind kind) {
  return std::string(value_name(kind));
}
std::string debug_form(FileErrorCode code) {
  return std::string(value_name(code));
}

std::string debug_form(const InputEvent& event) {
  return variant_form<InputEvent, InputEventFields>(event);
}
std::string debug_form(Key key) {
  return std::string(value_name(key));
}
std::string debug_form(const KeyModifiers& mods) {
  return DebugRecord("KeyModifiers")
      .field("shift", debug_bool(mods.shift))
      .field("ctrl", debug_bool(mods.ctrl))
      .field("alt", debug_bool(mods.alt))
      .field("meta", debug_bool(mods.meta))
      .str();
}
std::string debug_form(MouseButton button) {
  return std::string(value_name(button));
}

std::string debug_form(CursorKind kind) {
  return std::string(value_name(kind));
}

}  // namespace tarnvale_proto
