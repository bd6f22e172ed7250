#include "host-ipc/messages_agent_event.h"

#include "base/json_wire.h"
#include "host-ipc/base64.h"
#include "proto/wire.h"

namespace tarnvale_host_ipc {
namespace {

namespace jw = tarnvale_base::json_wire;

// Tags in declared order; the index is the alternative's index in `Variant`.
constexpr std::string_view kTags[] = {
    "heartbeat",           "frame",
    "cursor_changed",      "cursor_position",
    "monitors_changed",    "encoder_info",
    "host_locked",         "cursor_image",
    "clipboard_changed",   "clipboard_image_changed",
    "clipboard_file_list", "audio",
    "file_op_response",    "file_transfer_ack",
    "file_transfer_chunk", "exiting",
};
static_assert(std::size(kTags) == std::variant_size_v<AgentEvent::Variant>);

void write_base64(std::string& out, const std::vector<std::uint8_t>& bytes) {
  out.push_back('"');
  base64_encode_to(out, bytes);  // the alphabet needs no escaping
  out.push_back('"');
}

// Writes the fields after "kind" of each alternative.
struct FieldWriter {
  jw::ObjectWriter& w;

  void operator()(const AgentEvent::Heartbeat&) const {}
  void operator()(const AgentEvent::Exiting&) const {}
  void operator()(const AgentEvent::Frame& e) const {
    w.field("pts_us", e.pts_us);
    w.field("keyframe", e.keyframe);
    write_base64(w.key("data"), e.data);
  }
  void operator()(const AgentEvent::CursorChanged& e) const {
    tarnvale_proto::encode_json(w.key("cursor"), e.cursor);
  }
  void operator()(const AgentEvent::CursorPosition& e) const {
    w.field("x", e.x);
    w.field("y", e.y);
  }
  void operator()(const AgentEvent::MonitorsChanged& e) const {
    tarnvale_proto::encode_json(w.key("list"), e.list);
  }
  void operator()(const AgentEvent::EncoderInfo& e) const {
    w.field("backend", e.backend);
    w.field("hardware", e.hardware);
  }
  void operator()(const AgentEvent::HostLocked& e) const { w.field("locked", e.locked); }
  void operator()(const AgentEvent::CursorImage& e) const {
    jw::write_byte_array(w.key("png"), e.png);
    w.field("hotspot_x", e.hotspot_x);
    w.field("hotspot_y", e.hotspot_y);
  }
  void operator()(const AgentEvent::ClipboardChanged& e) const { w.field("text", e.text); }
  void operator()(const AgentEvent::ClipboardImageChanged& e) const {
    write_base64(w.key("png"), e.png);
  }
  void operator()(const AgentEvent::ClipboardFileList& e) const {
    std::string& out = w.key("files");
    out.push_back('[');
    for (std::size_t i = 0; i < e.files.size(); ++i) {
      if (i > 0) out.push_back(',');
      jw::ObjectWriter file(out);
      file.field("name", e.files[i].name);
      file.field("path", e.files[i].path);
      file.field("size", e.files[i].size);
    }
    out.push_back(']');
  }
  void operator()(const AgentEvent::Audio& e) const {
    w.field("pts_us", e.pts_us);
    write_base64(w.key("encoded"), e.encoded);
  }
  void operator()(const AgentEvent::FileOpResponse& e) const {
    tarnvale_proto::encode_json(w.key("resp"), e.resp);
  }
  void operator()(const AgentEvent::FileTransferAck& e) const {
    w.field("transfer_id", e.transfer_id);
    w.field("written_through", e.written_through);
  }
  void operator()(const AgentEvent::FileTransferChunk& e) const {
    w.field("transfer_id", e.transfer_id);
    w.field("offset", e.offset);
    write_base64(w.key("bytes"), e.bytes);
    w.field("eof", e.eof);
  }
};

}  // namespace

void AgentEvent::encode_json(std::string& out) const {
  jw::ObjectWriter w(out);
  if (value.valueless_by_exception()) return;  // only after a failed assignment; writes "{}"
  w.field("kind", kTags[value.index()]);
  std::visit(FieldWriter{w}, value);
}

std::string_view AgentEvent::tag() const {
  return value.valueless_by_exception() ? std::string_view() : kTags[value.index()];
}

}  // namespace tarnvale_host_ipc
