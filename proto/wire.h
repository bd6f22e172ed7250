// JSON wire forms of the shared vocabulary, on the typed layer of base/json_wire.h.
//
// Decoders (`decode_*`) read one JSON value by the wire rules: keys in any order, unknown keys
// skipped, repeated, missing and mistyped fields rejected, the array form accepted. Their error is
// the description alone ("missing field `y`", "unknown variant `ultra`, expected one of `low`,
// `medium`, `high`"); the enclosing message decoder adds position and context. Catch-alls decode
// to `Unknown` instead of failing where the vocabulary has one (`InputEvent`, `HostControlCmd`,
// `Key`, `MouseButton`, `SystemPanel`); `Quality` and `FileOp` have none.
//
// Encoders (`encode_json`) append compact JSON to `out`, fields in declared order; they cannot
// fail.
//
// The daemon link's message decoders use these as field readers:
//   f.required("event", &tarnvale_proto::decode_input_event)
// Pure functions; any thread may call them. Only the JSON library's forward declarations are
// included here.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "proto/cursor.h"
#include "proto/file_op.h"
#include "proto/host_control.h"
#include "proto/input.h"
#include "proto/monitor.h"

namespace tarnvale_proto {

using tarnvale_base::Result;

Result<InputEvent> decode_input_event(const nlohmann::json& value);
Result<Key> decode_key(const nlohmann::json& value);
Result<KeyModifiers> decode_key_modifiers(const nlohmann::json& value);
Result<MouseButton> decode_mouse_button(const nlohmann::json& value);

Result<HostControlCmd> decode_host_control_cmd(const nlohmann::json& value);
Result<SystemPanel> decode_system_panel(const nlohmann::json& value);
Result<Quality> decode_quality(const nlohmann::json& value);

Result<FileOpRequest> decode_file_op_request(const nlohmann::json& value);
Result<FileOp> decode_file_op(const nlohmann::json& value);

// A JSON string holding strict standard base64 (proto/base64.h): the bytes it encodes.
Result<std::vector<std::uint8_t>> decode_strict_base64(const nlohmann::json& value);

// A whole JSON document holding one `InputEvent`, for tools, benchmarks and fuzzing; the error
// carries the position (" at line 1 column 23").
Result<InputEvent> decode_input_event_json(std::string_view body);

void encode_json(std::string& out, const FileOpResponse& response);
void encode_json(std::string& out, const FileOpResult& result);
void encode_json(std::string& out, const DirEntry& entry);
void encode_json(std::string& out, const TreeEntry& entry);
void encode_json(std::string& out, EntryKind kind);
void encode_json(std::string& out, FileErrorCode code);

void encode_json(std::string& out, const MonitorList& list);
void encode_json(std::string& out, const MonitorInfo& monitor);
void encode_json(std::string& out, const MonitorMode& mode);
void encode_json(std::string& out, CursorKind kind);

}  // namespace tarnvale_proto
