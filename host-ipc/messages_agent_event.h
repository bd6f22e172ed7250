// `AgentEvent`: everything the agent tells the daemon after the handshake, 16 kinds in declared
// order. Producers (capture-encode loop, cursor probe, lock probe, audio pump, session driver)
// build one from a small struct and put it on the outbound queue:
//
//   queue.send(AgentEvent::CursorPosition{0.25f, 0.5f});
//   queue.send(AgentEvent::Audio{pts_us, std::move(packet)});
//
// The outbound task writes each event with `encode_json` as a JSON frame, except `Frame`, whose
// `pts_us`, `keyframe` and `data` it passes to the binary video-frame write instead (its JSON form
// exists for completeness and is never sent). Encoding cannot fail. Plain values; moved between
// threads through the queue, never shared.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "proto/cursor.h"
#include "proto/file_op.h"
#include "proto/monitor.h"

namespace tarnvale_host_ipc {

// One file on the clipboard, as `clipboard_file_list` reports it.
struct ClipboardFile {
  std::string name;
  std::string path;
  std::uint64_t size = 0;  // bytes
  bool operator==(const ClipboardFile&) const = default;
};

struct AgentEvent {
  struct Heartbeat {
    bool operator==(const Heartbeat&) const = default;
  };
  // One encoded H.264 packet; travels as a binary frame.
  struct Frame {
    std::uint64_t pts_us = 0;
    bool keyframe = false;
    std::vector<std::uint8_t> data;
    bool operator==(const Frame&) const = default;
  };
  struct CursorChanged {
    tarnvale_proto::CursorKind cursor = tarnvale_proto::CursorKind::Default;
    bool operator==(const CursorChanged&) const = default;
  };
  // Normalised to the display; a non-finite value is written as `null`.
  struct CursorPosition {
    float x = 0;
    float y = 0;
    bool operator==(const CursorPosition&) const = default;
  };
  struct MonitorsChanged {
    tarnvale_proto::MonitorList list;
    bool operator==(const MonitorsChanged&) const = default;
  };
  struct EncoderInfo {
    std::string backend;  // "h264_videotoolbox", "libx264"
    bool hardware = false;
    bool operator==(const EncoderInfo&) const = default;
  };
  struct HostLocked {
    bool locked = false;
    bool operator==(const HostLocked&) const = default;
  };
  // A custom cursor image; `png` is written as an array of byte values, not base64.
  struct CursorImage {
    std::vector<std::uint8_t> png;
    std::uint16_t hotspot_x = 0;
    std::uint16_t hotspot_y = 0;
    bool operator==(const CursorImage&) const = default;
  };
  struct ClipboardChanged {
    std::string text;
    bool operator==(const ClipboardChanged&) const = default;
  };
  struct ClipboardImageChanged {
    std::vector<std::uint8_t> png;  // base64 on the wire
    bool operator==(const ClipboardImageChanged&) const = default;
  };
  struct ClipboardFileList {
    std::vector<ClipboardFile> files;
    bool operator==(const ClipboardFileList&) const = default;
  };
  // One Opus packet.
  struct Audio {
    std::uint64_t pts_us = 0;
    std::vector<std::uint8_t> encoded;  // base64 on the wire
    bool operator==(const Audio&) const = default;
  };
  struct FileOpResponse {
    tarnvale_proto::FileOpResponse resp;
    bool operator==(const FileOpResponse&) const = default;
  };
  struct FileTransferAck {
    std::uint64_t transfer_id = 0;
    std::uint64_t written_through = 0;
    bool operator==(const FileTransferAck&) const = default;
  };
  struct FileTransferChunk {
    std::uint64_t transfer_id = 0;
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;  // base64 on the wire
    bool eof = false;
    bool operator==(const FileTransferChunk&) const = default;
  };
  struct Exiting {
    bool operator==(const Exiting&) const = default;
  };

  using Variant = std::variant<Heartbeat, Frame, CursorChanged, CursorPosition, MonitorsChanged,
                               EncoderInfo, HostLocked, CursorImage, ClipboardChanged,
                               ClipboardImageChanged, ClipboardFileList, Audio, FileOpResponse,
                               FileTransferAck, FileTransferChunk, Exiting>;
  Variant value = Heartbeat{};

  AgentEvent() = default;
  template <class Alt>
  requires(!std::same_as<std::remove_cvref_t<Alt>, AgentEvent> &&
           std::constructible_from<Variant, Alt&&>) AgentEvent(Alt&& alt)
      : value(std::forward<Alt>(alt)) {}  // NOLINT: implicit by design

  // Appends `{"kind":"<tag>",<fields in declared order>}` in compact JSON.
  void encode_json(std::string& out) const;

  // "cursor_position".
  std::string_view tag() const;

  bool operator==(const AgentEvent&) const = default;
};

}  // namespace tarnvale_host_ipc
