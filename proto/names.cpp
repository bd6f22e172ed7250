#include "proto/names.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "proto/cursor.h"
#include "proto/file_op.h"
#include "proto/host_control.h"
#include "proto/input.h"

namespace tarnvale_proto {
namespace {

using namespace names;

// Row of an enumerator; an out-of-range value (only reachable through a bad cast) maps to the
// last row rather than reading past the table.
template <class Table, class E>
std::string_view row(const Table& table, E value) {
  auto i = static_cast<std::size_t>(value);
  return i < table.size() ? table[i] : table.back();
}

// Name of a variant by index; a valueless variant (only after a throwing assignment) gets the
// last row.
template <class Table>
std::string_view variant_row(const Table& table, std::size_t index) {
  return index < table.size() ? table[index] : table.back();
}

template <class Table>
std::optional<std::size_t> find(const Table& table, std::string_view text) {
  for (std::size_t i = 0; i < table.size(); ++i) {
    if (table[i] == text) return i;
  }
  return std::nullopt;
}

}  // namespace

std::string_view wire_name(Quality quality) {
  return row(kQualityWire, quality);
}
std::string_view value_name(Quality quality) {
  return row(kQualityNames, quality);
}
std::optional<Quality> parse_quality(std::string_view text) {
  if (auto i = find(kQualityWire, text)) return static_cast<Quality>(*i);
  return std::nullopt;
}
std::optional<Quality> quality_from_index(std::uint8_t index) {
  if (index < kQualityWire.size()) return static_cast<Quality>(index);
  return std::nullopt;
}

std::string_view wire_name(SystemPanel panel) {
  return row(kPanelWire, panel);
}
std::string_view value_name(SystemPanel panel) {
  return row(kPanelNames, panel);
}
SystemPanel parse_system_panel(std::string_view text) {
  // "unknown" is this program's own placeholder, not a panel a viewer can name.
  auto i = find(kPanelWire, text);
  return i && *i < kPanelWire.size() - 1 ? static_cast<SystemPanel>(*i) : SystemPanel::Unknown;
}

std::string_view variant_name(const HostControlCmd& cmd) {
  return variant_row(kHostControlNames, cmd.value.index());
}

std::string_view value_name(Key key) {
  return row(kKeyNames, key);
}
Key parse_key(std::string_view text) {
  // Every name is at most 12 bytes; a longer text cannot match.
  if (text.size() > 12) return Key::Unknown;
  auto i = find(kKeyNames, text);
  return i ? static_cast<Key>(*i) : Key::Unknown;
}

std::string_view wire_name(MouseButton button) {
  return row(kMouseButtonWire, button);
}
std::string_view value_name(MouseButton button) {
  return row(kMouseButtonNames, button);
}
MouseButton parse_mouse_button(std::string_view text) {
  auto i = find(kMouseButtonWire, text);
  return i && *i < kMouseButtonWire.size() - 1 ? static_cast<MouseButton>(*i)
                                               : MouseButton::Unknown;
}

std::string_view variant_name(const InputEvent& event) {
  return variant_row(kInputEventNames, event.value.index());
}

std::string_view variant_name(const FileOp& op) {
  return variant_row(kFileOpNames, op.value.index());
}
std::string_view variant_name(const FileOpResult& result) {
  return variant_row(kFileOpResultNames, result.value.index());
}
std::string_view value_name(EntryKind kind) {
  return row(kEntryKindNames, kind);
}
std::string_view value_name(FileErrorCode code) {
  return row(kFileErrorNames, code);
}

std::string_view wire_name(CursorKind kind) {
  return row(kCursorWire, kind);
}
std::string_view value_name(CursorKind kind) {
  return row(kCursorNames, kind);
}

}  // namespace tarnvale_proto
