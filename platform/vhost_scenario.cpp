// The scenario file: the virtual host's starting state as JSON (format in platform/README.md).
#include <fstream>
#include <sstream>

#include "platform/vhost.h"
#include "platform/vhost_json.h"

namespace tarnvale_platform::vhost {
namespace {

using nlohmann::json;
using tarnvale_base::Error;
using tarnvale_base::fail;
using tarnvale_base::Result;

Result<void> only_keys(const json& obj, std::string_view where,
                       std::initializer_list<std::string_view> keys) {
  for (const auto& [k, _] : obj.items()) {
    bool known = false;
    for (auto key : keys) known = known || k == key;
    if (!known) return fail("unknown key `" + k + "` in " + std::string(where));
  }
  return {};
}

Result<bool> get_bool(const json& obj, std::string_view key, bool fallback) {
  auto it = obj.find(key);
  if (it == obj.end()) return fallback;
  if (!it->is_boolean()) return fail("`" + std::string(key) + "` must be true or false");
  return it->get<bool>();
}

Result<std::uint32_t> get_u32(const json& obj, std::string_view key,
                              std::optional<std::uint32_t> fallback) {
  auto it = obj.find(key);
  if (it == obj.end()) {
    if (fallback) return *fallback;
    return fail("missing `" + std::string(key) + "`");
  }
  auto n = as_unsigned(*it, 0xFFFFFFFFu);
  if (!n) return fail("`" + std::string(key) + "` must be an unsigned 32-bit integer");
  return static_cast<std::uint32_t>(*n);
}

Result<std::int32_t> get_i32(const json& v, std::string_view what) {
  if (!v.is_number_integer()) return fail(std::string(what) + " must be an integer");
  auto n = v.get<std::int64_t>();
  if (n < INT32_MIN || n > INT32_MAX) return fail(std::string(what) + " is out of range");
  return static_cast<std::int32_t>(n);
}

Result<CGDisplayMode> parse_mode(const json& m) {
  if (!m.is_object()) return fail("a mode must be an object");
  if (auto ok = only_keys(m, "mode", {"width", "height", "refresh", "scale", "duplicate"}); !ok)
    return std::unexpected(ok.error());
  auto w = get_u32(m, "width", std::nullopt);
  if (!w) return std::unexpected(w.error().context("mode"));
  auto h = get_u32(m, "height", std::nullopt);
  if (!h) return std::unexpected(h.error().context("mode"));
  auto scale = get_u32(m, "scale", 1u);
  if (!scale) return std::unexpected(scale.error().context("mode"));
  auto dup = get_bool(m, "duplicate", false);
  if (!dup) return std::unexpected(dup.error().context("mode"));
  double refresh = 60;
  if (auto it = m.find("refresh"); it != m.end()) {
    if (!it->is_number() || it->get<double>() < 0 || it->get<double>() > 1000)
      return fail("mode: `refresh` must be a number of Hz between 0 and 1000");
    refresh = it->get<double>();
  }
  if (*w == 0 || *h == 0 || *w > 16384 || *h > 16384)
    return fail("mode: width and height must be between 1 and 16384");
  if (*scale == 0 || *scale > 4) return fail("mode: `scale` must be between 1 and 4");
  CGDisplayMode mode = make_mode(*w, *h, refresh);
  mode.pixel_width = *w * *scale;
  mode.pixel_height = *h * *scale;
  mode.low_resolution_duplicate = *dup;
  return mode;
}

Result<Content> parse_content(const json& v) {
  if (v == "moving") return Content::Moving;
  if (v == "static") return Content::Static;
  return fail("`content` must be \"moving\" or \"static\"");
}

}  // namespace

Result<DisplayLayout> display_from_json(const json& d) {
  if (!d.is_object()) return fail("a display must be an object");
  if (auto ok = only_keys(d, "display",
                          {"id", "origin", "modes", "width", "height", "current", "content"});
      !ok)
    return std::unexpected(ok.error());
  DisplayLayout layout;
  auto id = get_u32(d, "id", std::nullopt);
  if (!id) return std::unexpected(id.error().context("display"));
  if (*id == 0) return fail("display: `id` must not be 0");
  layout.id = *id;
  const std::string where = "display " + std::to_string(layout.id);
  if (auto it = d.find("origin"); it != d.end()) {
    if (!it->is_array() || it->size() != 2) return fail(where + ": `origin` must be [x, y]");
    auto x = get_i32((*it)[0], where + ": origin x");
    if (!x) return std::unexpected(x.error());
    auto y = get_i32((*it)[1], where + ": origin y");
    if (!y) return std::unexpected(y.error());
    layout.x = *x;
    layout.y = *y;
  }
  if (auto it = d.find("modes"); it != d.end()) {
    if (d.contains("width") || d.contains("height"))
      return fail(where + ": give either `modes` or `width` and `height`");
    if (!it->is_array() || it->empty()) return fail(where + ": `modes` must be a non-empty list");
    for (const auto& m : *it) {
      auto mode = parse_mode(m);
      if (!mode) return std::unexpected(mode.error().context(where));
      layout.modes.push_back(*mode);
    }
  } else {
    auto w = get_u32(d, "width", std::nullopt);
    if (!w) return std::unexpected(w.error().context(where));
    auto h = get_u32(d, "height", std::nullopt);
    if (!h) return std::unexpected(h.error().context(where));
    auto mode = parse_mode(json{{"width", *w}, {"height", *h}});
    if (!mode) return std::unexpected(mode.error().context(where));
    layout.modes.push_back(*mode);
  }
  auto current = get_u32(d, "current", 0u);
  if (!current) return std::unexpected(current.error().context(where));
  if (*current >= layout.modes.size()) return fail(where + ": `current` is not a mode index");
  layout.current_mode = *current;
  if (auto it = d.find("content"); it != d.end()) {
    auto c = parse_content(*it);
    if (!c) return std::unexpected(c.error().context(where));
    layout.content = *c;
  }
  return layout;
}

json display_to_json(const DisplayLayout& d) {
  json modes = json::array();
  for (const auto& m : d.modes) {
    modes.push_back({{"width", m.width},
                     {"height", m.height},
                     {"refresh", m.refresh_rate},
                     {"scale", m.width ? m.pixel_width / m.width : 1},
                     {"duplicate", m.low_resolution_duplicate}});
  }
  const char* content = d.content == Content::Moving   ? "moving"
                        : d.content == Content::Static ? "static"
                                                       : "pixels";
  return {{"id", d.id},
          {"origin", {d.x, d.y}},
          {"modes", modes},
          {"current", d.current_mode},
          {"content", content}};
}

Result<Scenario> Scenario::parse(std::string_view json_text) {
  json doc = json::parse(json_text, nullptr, /*allow_exceptions=*/false);
  if (doc.is_discarded()) return fail("scenario is not valid JSON");
  if (!doc.is_object()) return fail("scenario must be a JSON object");
  if (auto ok = only_keys(doc, "scenario", {"permissions", "locked", "in_session", "displays"});
      !ok)
    return std::unexpected(ok.error());
  Scenario s = default_scenario();
  if (auto it = doc.find("permissions"); it != doc.end()) {
    if (!it->is_object()) return fail("`permissions` must be an object");
    if (auto ok = only_keys(*it, "permissions", {"screen_recording", "accessibility"}); !ok)
      return std::unexpected(ok.error());
    auto sr = get_bool(*it, "screen_recording", true);
    if (!sr) return std::unexpected(sr.error());
    auto ax = get_bool(*it, "accessibility", true);
    if (!ax) return std::unexpected(ax.error());
    s.screen_recording = *sr;
    s.accessibility = *ax;
  }
  auto locked = get_bool(doc, "locked", false);
  if (!locked) return std::unexpected(locked.error());
  s.locked = *locked;
  auto in_session = get_bool(doc, "in_session", true);
  if (!in_session) return std::unexpected(in_session.error());
  s.in_session = *in_session;
  if (auto it = doc.find("displays"); it != doc.end()) {
    if (!it->is_array()) return fail("`displays` must be a list");
    s.displays.clear();
    for (const auto& d : *it) {
      auto layout = display_from_json(d);
      if (!layout) return std::unexpected(layout.error());
      for (const auto& other : s.displays)
        if (other.id == layout->id)
          return fail("display " + std::to_string(layout->id) + " is listed twice");
      s.displays.push_back(std::move(*layout));
    }
  }
  return s;
}

Result<Scenario> Scenario::load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail("cannot open scenario " + path);
  std::ostringstream text;
  text << in.rdbuf();
  if (text.str().size() > (1u << 20)) return fail("scenario " + path + " is larger than 1 MiB");
  auto s = parse(text.str());
  if (!s) return std::unexpected(s.error().context("scenario " + path));
  return s;
}

}  // namespace tarnvale_platform::vhost
