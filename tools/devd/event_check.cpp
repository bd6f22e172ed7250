#include "tools/devd/event_check.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <utility>
#include <vector>

namespace tarnvale_devd {
namespace {

using json = nlohmann::json;
// Nullopt when the value is acceptable, else what was expected.
using Check = std::function<std::optional<std::string>(const json&)>;

std::optional<std::string> expect(bool ok, const char* what) {
  if (ok) return std::nullopt;
  return std::string("expected ") + what;
}

Check uint_max(std::uint64_t max) {
  return [max](const json& v) {
    return expect(v.is_number_unsigned() && v.get<std::uint64_t>() <= max,
                  max == std::numeric_limits<std::uint64_t>::max() ? "an unsigned integer"
                  : max == 0xFF                                    ? "a byte value"
                  : max == 0xFFFF                                  ? "an unsigned 16-bit integer"
                                                                   : "an unsigned 32-bit integer");
  };
}
const Check kU64 = uint_max(std::numeric_limits<std::uint64_t>::max());
const Check kU32 = uint_max(0xFFFFFFFFu);
const Check kU16 = uint_max(0xFFFF);
const Check kBool = [](const json& v) { return expect(v.is_boolean(), "a boolean"); };
const Check kString = [](const json& v) { return expect(v.is_string(), "a string"); };
const Check kObject = [](const json& v) { return expect(v.is_object(), "an object"); };
// A 32-bit float; a value that is not finite travels as null.
const Check kFloat = [](const json& v) { return expect(v.is_number() || v.is_null(), "a number"); };

Check array_of(Check element) {
  return [element](const json& v) -> std::optional<std::string> {
    if (!v.is_array()) return "expected an array";
    for (const auto& e : v) {
      if (auto bad = element(e)) return "element: " + *bad;
    }
    return std::nullopt;
  };
}

using Fields = std::vector<std::pair<const char*, Check>>;

Check record(Fields fields) {
  return [fields](const json& v) -> std::optional<std::string> {
    if (!v.is_object()) return "expected an object";
    for (const auto& [name, check] : fields) {
      auto it = v.find(name);
      if (it == v.end()) return std::string("missing field `") + name + "`";
      if (auto bad = check(*it)) return std::string("field `") + name + "`: " + *bad;
    }
    return std::nullopt;
  };
}

const std::map<std::string, Fields>& kinds() {
  static const auto* table = [] {
    const Check mode = record({{"width", kU32}, {"height", kU32}});
    const Check monitor = record({{"id", kString},
                                  {"name", kString},
                                  {"width", kU32},
                                  {"height", kU32},
                                  {"is_primary", kBool},
                                  {"is_selected", kBool},
                                  {"available_modes", array_of(mode)}});
    const Check file = record({{"name", kString}, {"path", kString}, {"size", kU64}});
    return new std::map<std::string, Fields>{
        {"heartbeat", {}},
        {"frame", {{"pts_us", kU64}, {"keyframe", kBool}, {"data", kString}}},
        {"cursor_changed", {{"cursor", kString}}},
        {"cursor_position", {{"x", kFloat}, {"y", kFloat}}},
        {"monitors_changed", {{"list", record({{"monitors", array_of(monitor)}})}}},
        {"encoder_info", {{"backend", kString}, {"hardware", kBool}}},
        {"host_locked", {{"locked", kBool}}},
        {"cursor_image",
         {{"png", array_of(uint_max(0xFF))}, {"hotspot_x", kU16}, {"hotspot_y", kU16}}},
        {"clipboard_changed", {{"text", kString}}},
        {"clipboard_image_changed", {{"png", kString}}},
        {"clipboard_file_list", {{"files", array_of(file)}}},
        {"audio", {{"pts_us", kU64}, {"encoded", kString}}},
        {"file_op_response", {{"resp", kObject}}},
        {"file_transfer_ack", {{"transfer_id", kU64}, {"written_through", kU64}}},
        {"file_transfer_chunk",
         {{"transfer_id", kU64}, {"offset", kU64}, {"bytes", kString}, {"eof", kBool}}},
        {"exiting", {}},
    };
  }();
  return *table;
}

}  // namespace

std::optional<std::string> check_event(const json& event) {
  if (!event.is_object()) return "expected an object";
  auto kind = event.find("kind");
  if (kind == event.end()) return "missing field `kind`";
  if (!kind->is_string()) return "field `kind`: expected a string";
  auto it = kinds().find(kind->get<std::string>());
  if (it == kinds().end()) return "unknown kind `" + kind->get<std::string>() + "`";
  return record(it->second)(event);
}

}  // namespace tarnvale_devd
