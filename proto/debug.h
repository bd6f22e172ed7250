// Building blocks of the debug forms that logs show for protocol values: a record is its name,
// then its fields in braces, `Name { field: value, other: value }`, and a record without fields is
// its name alone; texts are double-quoted with escapes, absent optionals are `None`. Pure
// functions; any thread may call them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvale_proto {

// `"text"` with `"`, `\` and control characters escaped (`\n`, `\r`, `\t`, `\0`, `\u{1b}`).
std::string debug_text(std::string_view text);
// Shortest text that reads back to the same float, with ".0" on whole numbers: 0.5, 2.0, -1.0,
// NaN, inf.
std::string debug_float(float value);
// Booleans and integers in plain decimal.
std::string debug_bool(bool value);
std::string debug_int(std::int64_t value);
std::string debug_uint(std::uint64_t value);
// `["a", "b"]`.
std::string debug_texts(const std::vector<std::string>& texts);
// `[137, 80, 78, 71]`; a long byte string shows its first 32 bytes, then `..` and its length,
// `[137, 80, .., ..] (4096 bytes)`, so that a log line stays short.
std::string debug_bytes(std::span<const std::uint8_t> bytes);
// `Some(value)` or `None`, the value rendered by `render`.
template <class T, class Render>
std::string debug_optional(const std::optional<T>& value, Render render) {
  return value ? "Some(" + render(*value) + ")" : std::string("None");
}

// Collects one record's fields: DebugRecord("Rejected").field("reason", debug_text(r)).str().
class DebugRecord {
 public:
  explicit DebugRecord(std::string_view name);
  // `value` is already in debug form.
  DebugRecord& field(std::string_view name, std::string_view value);
  // The finished form; a record without fields is its name alone.
  std::string str() const;

 private:
  std::string text_;
  bool has_fields_ = false;
};

}  // namespace tarnvale_proto
