#include "base/json_wire.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <iterator>

#include <fmt/format.h>

namespace tarnvale_base::json_wire {

namespace {

// What stopped a parse before the JSON text itself went wrong.
enum class Fault { None, Syntax, DuplicateKey, TooDeep };

// Builds the tree from the parser's events like nlohmann's own DOM builder, and in passing
// rejects a key already present in its object (the map insertion tells) and nesting deeper than
// kMaxDepth. Returning false stops the parser at once.
class TreeBuilder {
 public:
  explicit TreeBuilder(Json& root) : root_(root) {}

  bool null() { return put(nullptr); }
  bool boolean(bool v) { return put(v); }
  bool number_integer(Json::number_integer_t v) { return put(v); }
  bool number_unsigned(Json::number_unsigned_t v) { return put(v); }
  bool number_float(Json::number_float_t v, const std::string& /*text*/) { return put(v); }
  bool string(std::string& v) { return put(std::move(v)); }
  bool binary(Json::binary_t& v) { return put(std::move(v)); }

  bool start_object(std::size_t /*unknown*/) { return open(Json::value_t::object); }
  bool start_array(std::size_t /*unknown*/) { return open(Json::value_t::array); }
  bool end_object() {
    stack_.pop_back();
    return true;
  }
  bool end_array() {
    stack_.pop_back();
    return true;
  }

  bool key(std::string& k) {
    ++keys_seen_;
    auto& object = stack_.back()->get_ref<Json::object_t&>();
    auto [it, inserted] = object.try_emplace(std::move(k));
    if (!inserted) {
      fault_ = Fault::DuplicateKey;
      detail_ = it->first;
      return false;
    }
    slot_ = &it->second;
    return true;
  }

  bool parse_error(std::size_t position, const std::string& /*last_token*/,
                   const nlohmann::detail::exception& ex) {
    fault_ = Fault::Syntax;
    position_ = position;
    detail_ = ex.what();
    return false;
  }

  Fault fault() const { return fault_; }
  const std::string& detail() const { return detail_; }
  std::size_t position() const { return position_; }
  std::size_t keys_seen() const { return keys_seen_; }

 private:
  template <class V>
  bool put(V&& v) {
    if (stack_.empty()) {
      root_ = Json(std::forward<V>(v));
      last_ = &root_;
    } else if (stack_.back()->is_array()) {
      auto& array = stack_.back()->get_ref<Json::array_t&>();
      array.emplace_back(std::forward<V>(v));
      last_ = &array.back();
    } else {
      *slot_ = Json(std::forward<V>(v));
      last_ = slot_;
    }
    return true;
  }

  bool open(Json::value_t kind) {
    if (stack_.size() >= static_cast<std::size_t>(kMaxDepth)) {
      fault_ = Fault::TooDeep;
      return false;
    }
    put(kind);
    stack_.push_back(last_);
    return true;
  }

  Json& root_;
  std::vector<Json*> stack_;
  Json* slot_ = nullptr;  // the member whose key was read last
  Json* last_ = nullptr;  // the value added last
  Fault fault_ = Fault::None;
  std::string detail_;
  std::size_t position_ = 0;
  std::size_t keys_seen_ = 0;
};

// Index just past the closing quote of the string starting at `i` (which holds '"').
std::size_t skip_string(std::string_view text, std::size_t i) {
  for (++i; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i + 1;
    }
  }
  return text.size();
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Offset of the closing quote of the `ordinal`-th object key (from 0) of a text that parsed well
// up to there. Only used to place an error, so it may be slow.
std::size_t key_offset(std::string_view text, std::size_t ordinal) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] != '"') {
      ++i;
      continue;
    }
    std::size_t end = skip_string(text, i);
    std::size_t j = end;
    while (j < text.size() && is_space(text[j])) ++j;
    if (j < text.size() && text[j] == ':') {
      if (seen == ordinal) return end - 1;
      ++seen;
    }
    i = end;
  }
  return text.empty() ? 0 : text.size() - 1;
}

// Offset of the bracket that opens the first container nested deeper than kMaxDepth.
std::size_t too_deep_offset(std::string_view text) {
  int depth = 0;
  for (std::size_t i = 0; i < text.size();) {
    char c = text[i];
    if (c == '"') {
      i = skip_string(text, i);
      continue;
    }
    if (c == '[' || c == '{') {
      if (++depth > kMaxDepth) return i;
    } else if (c == ']' || c == '}') {
      --depth;
    }
    ++i;
  }
  return text.empty() ? 0 : text.size() - 1;
}

// nlohmann's message without its "[json.exception.parse_error.101] parse error at line 1,
// column 2: " preamble (we add our own position), with bytes outside printable ASCII shown as
// \xNN so that the text is safe to log.
std::string syntax_detail(std::string_view what) {
  std::size_t start = 0;
  if (auto close = what.find("] "); close != what.npos) {
    start = close + 2;
    if (auto colon = what.find(": ", start); colon != what.npos) start = colon + 2;
  }
  std::string out;
  for (unsigned char c : what.substr(start)) {
    if (c < 0x20 || c >= 0x7f) {
      out += fmt::format("\\x{:02x}", c);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string float_text(double v) {
  std::string s = fmt::format("{}", v);
  if (s.find_first_of(".eEni") == std::string::npos) s += ".0";
  return s;
}

template <class T>
Result<T> read_unsigned(const Json& value, std::string_view name) {
  if (value.is_number_unsigned()) {
    auto v = value.get_ref<const Json::number_unsigned_t&>();
    if (v > std::numeric_limits<T>::max()) return std::unexpected(invalid_value(value, name));
    return static_cast<T>(v);
  }
  if (value.is_number_integer()) {  // a signed integer: negative, or "-0"
    auto v = value.get_ref<const Json::number_integer_t&>();
    if (v < 0 || static_cast<std::uint64_t>(v) > std::numeric_limits<T>::max()) {
      return std::unexpected(invalid_value(value, name));
    }
    return static_cast<T>(v);
  }
  return std::unexpected(invalid_type(value, name));
}

template <class Name>
Error unknown_variant_of(std::string_view tag, std::size_t count, Name name_at) {
  std::string text = "unknown variant `";
  text.append(tag);
  text.append("`, ");
  if (count == 0) {
    text.append("there are no variants");
  } else if (count == 1) {
    text.append("expected `").append(name_at(0)).append("`");
  } else if (count == 2) {
    text.append("expected `").append(name_at(0)).append("` or `").append(name_at(1)).append("`");
  } else {
    text.append("expected one of ");
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) text.append(", ");
      text.append("`").append(name_at(i)).append("`");
    }
  }
  return Error(std::move(text));
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Parsing

std::string position_suffix(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return fmt::format(" at line {} column {}", line, offset - line_start + 1);
}

Result<Json> parse(std::string_view text) {
  // nlohmann skips a byte-order mark; the wire allows only whitespace around the document.
  if (text.starts_with("\xEF\xBB\xBF")) {
    return fail("syntax error while parsing value - invalid literal" + position_suffix(text, 0));
  }
  // nlohmann's reader takes a NUL byte for the end of the input and would accept what follows it;
  // no valid document contains one (inside a string it would have to be escaped).
  if (auto nul = text.find('\0'); nul != text.npos) {
    return fail("invalid byte 0x00" + position_suffix(text, nul));
  }
  Json root;
  TreeBuilder builder(root);
  try {
    if (Json::sax_parse(text.begin(), text.end(), &builder)) return root;
  } catch (const std::exception& e) {
    return fail(std::string("json parser failed: ") + e.what());
  }
  switch (builder.fault()) {
    case Fault::DuplicateKey:
      return fail(duplicate_field(builder.detail()).message() +
                  position_suffix(text, key_offset(text, builder.keys_seen() - 1)));
    case Fault::TooDeep:
      return fail(fmt::format("nesting deeper than {} levels", kMaxDepth) +
                  position_suffix(text, too_deep_offset(text)));
    case Fault::Syntax:
      return fail(syntax_detail(builder.detail()) +
                  position_suffix(text, builder.position() == 0 ? 0 : builder.position() - 1));
    case Fault::None:
      break;
  }
  return fail("json parser stopped without a reason");
}

// ---------------------------------------------------------------------------------------------
// Descriptions

std::string describe(const Json& value) {
  switch (value.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return value.get<bool>() ? "boolean `true`" : "boolean `false`";
    case Json::value_t::number_integer:
      return fmt::format("integer `{}`", value.get_ref<const Json::number_integer_t&>());
    case Json::value_t::number_unsigned:
      return fmt::format("integer `{}`", value.get_ref<const Json::number_unsigned_t&>());
    case Json::value_t::number_float:
      return "floating point `" + float_text(value.get_ref<const Json::number_float_t&>()) + "`";
    case Json::value_t::string:
      return "string " + debug_quote(value.get_ref<const std::string&>());
    case Json::value_t::array:
      return "sequence";
    case Json::value_t::object:
      return "map";
    case Json::value_t::binary:
    case Json::value_t::discarded:
      break;
  }
  return "value";
}

Error invalid_type(const Json& value, std::string_view expected) {
  return Error(fmt::format("invalid type: {}, expected {}", describe(value), expected));
}

Error invalid_value(const Json& value, std::string_view expected) {
  return Error(fmt::format("invalid value: {}, expected {}", describe(value), expected));
}

Error unknown_variant(std::string_view tag, std::span<const std::string_view> candidates) {
  return unknown_variant_of(tag, candidates.size(), [&](std::size_t i) { return candidates[i]; });
}

Error missing_field(std::string_view name) {
  return Error(fmt::format("missing field `{}`", name));
}

Error duplicate_field(std::string_view name) {
  return Error(fmt::format("duplicate field `{}`", name));
}

std::string debug_quote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      case 0:
        out.append("\\0");
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += fmt::format("\\u{{{:x}}}", c);
        } else {
          out.push_back(ch);
        }
    }
  }
  out.push_back('"');
  return out;
}

// ---------------------------------------------------------------------------------------------
// Scalar readers

Result<bool> read_bool(const Json& value) {
  if (!value.is_boolean()) return std::unexpected(invalid_type(value, "a boolean"));
  return value.get<bool>();
}

Result<std::uint8_t> read_u8(const Json& value) {
  return read_unsigned<std::uint8_t>(value, "u8");
}
Result<std::uint16_t> read_u16(const Json& value) {
  return read_unsigned<std::uint16_t>(value, "u16");
}
Result<std::uint32_t> read_u32(const Json& value) {
  return read_unsigned<std::uint32_t>(value, "u32");
}
Result<std::uint64_t> read_u64(const Json& value) {
  return read_unsigned<std::uint64_t>(value, "u64");
}

Result<std::int64_t> read_i64(const Json& value) {
  if (value.is_number_integer() && !value.is_number_unsigned()) {
    return value.get_ref<const Json::number_integer_t&>();
  }
  if (value.is_number_unsigned()) {
    auto v = value.get_ref<const Json::number_unsigned_t&>();
    if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
      return std::unexpected(invalid_value(value, "i64"));
    }
    return static_cast<std::int64_t>(v);
  }
  return std::unexpected(invalid_type(value, "i64"));
}

Result<float> read_f32(const Json& value) {
  double d = 0;
  if (value.is_number_unsigned()) {
    return static_cast<float>(value.get_ref<const Json::number_unsigned_t&>());
  } else if (value.is_number_integer()) {
    return static_cast<float>(value.get_ref<const Json::number_integer_t&>());
  } else if (value.is_number_float()) {
    d = value.get_ref<const Json::number_float_t&>();
  } else {
    return std::unexpected(invalid_type(value, "f32"));
  }
  // Converting a double outside the float range is undefined; round by hand at the edge: values
  // below FLT_MAX plus half a unit in the last place round to FLT_MAX, the rest overflow.
  constexpr double kMax = std::numeric_limits<float>::max();
  constexpr double kOverflow = 0x1.ffffffp127;
  if (std::isnan(d)) return std::numeric_limits<float>::quiet_NaN();
  if (std::fabs(d) > kMax) {
    float edge = std::fabs(d) < kOverflow ? std::numeric_limits<float>::max()
                                          : std::numeric_limits<float>::infinity();
    return d < 0 ? -edge : edge;
  }
  return static_cast<float>(d);
}

Result<std::string> read_string(const Json& value) {
  if (!value.is_string()) return std::unexpected(invalid_type(value, "a string"));
  return value.get_ref<const std::string&>();
}

Result<std::vector<std::string>> read_strings(const Json& value) {
  return read_array(value, read_string);
}

Result<std::vector<std::uint8_t>> read_byte_array(const Json& value) {
  return read_array(value, read_u8);
}

Result<std::size_t> read_name(const Json& value, std::span<const std::string_view> names,
                              std::optional<std::size_t> fallback) {
  if (!value.is_string()) return std::unexpected(invalid_type(value, "a string"));
  const auto& text = value.get_ref<const std::string&>();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == text) return i;
  }
  if (fallback) return *fallback;
  return std::unexpected(unknown_variant(text, names));
}

// ---------------------------------------------------------------------------------------------
// Records

Fields::Fields(const Json& value, std::size_t first_element, std::string expecting)
    : value_(value), first_element_(first_element), expecting_(std::move(expecting)) {}

const Json* Fields::take(std::string_view name, bool optional, std::size_t& rank) {
  rank = reads_++;
  if (value_.is_object()) {
    auto it = value_.find(name);
    if (it != value_.end()) return &*it;
    if (!optional) record(std::numeric_limits<std::size_t>::max(), missing_field(name).message());
    return nullptr;
  }
  // Array form: the fields are the elements after the tag, in declared order. Like a sequence
  // reader, stop at the first fault.
  if (failed()) return nullptr;
  std::size_t index = first_element_ + rank;
  if (index < value_.size()) return &value_[index];
  if (!optional) {
    too_few_ = rank;
    record(rank, std::string());  // worded in finish(), once the number of fields is known
  }
  return nullptr;
}

void Fields::record(std::size_t rank, std::string description) {
  if (!error_ || rank < error_->first) error_.emplace(rank, std::move(description));
}

Result<void> Fields::finish() {
  if (value_.is_array()) {
    std::size_t given = value_.size() - first_element_;
    auto plural = [](std::size_t n) { return n == 1 ? "element" : "elements"; };
    if (too_few_ && error_ && error_->first == *too_few_) {
      return fail(fmt::format("invalid length {}, expected {} with {} {}", *too_few_, expecting_,
                              reads_, plural(reads_)));
    }
    // A record without fields ignores the rest, as the object form ignores other keys.
    if (!error_ && reads_ > 0 && given > reads_) {
      return fail(fmt::format("invalid length {}, expected {} {} in sequence", given, reads_,
                              plural(reads_)));
    }
  }
  if (error_) return fail(std::move(error_->second));
  return {};
}

namespace detail {

Result<Tag> find_tag(const Json& value, const TaggedEnum& type) {
  const Json* tag = nullptr;
  std::size_t first_field = 0;
  if (value.is_object()) {
    auto it = value.find("kind");
    if (it == value.end()) return std::unexpected(missing_field("kind"));
    tag = &*it;
  } else if (value.is_array()) {
    if (value.empty()) return std::unexpected(missing_field("kind"));
    tag = &value[0];
    first_field = 1;
  } else {
    return std::unexpected(
        invalid_type(value, fmt::format("internally tagged enum {}", type.name)));
  }
  if (!tag->is_string()) return std::unexpected(invalid_type(*tag, "variant identifier"));
  const auto& text = tag->get_ref<const std::string&>();
  for (std::size_t i = 0; i < type.variants.size(); ++i) {
    if (type.variants[i].tag == text) return Tag{i, first_field};
  }
  if (type.unknown_is_value) return Tag{kUnknownVariant, first_field};
  return std::unexpected(unknown_variant_of(text, type.variants.size(),
                                            [&](std::size_t i) { return type.variants[i].tag; }));
}

Result<void> check_record_shape(const Json& value, std::string_view name) {
  if (value.is_object() || value.is_array()) return {};
  return std::unexpected(invalid_type(value, fmt::format("struct {}", name)));
}

}  // namespace detail

// ---------------------------------------------------------------------------------------------
// Writing

void write_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\t':
        out.append("\\t");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\f':
        out.append("\\f");
        break;
      case '\r':
        out.append("\\r");
        break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
        out.append(escape, sizeof escape);
      }
    }
  }
  out.append(text.data() + run, text.size() - run);
  out.push_back('"');
}

void write_f32(std::string& out, float value) {
  if (!std::isfinite(value)) {
    out.append("null");
    return;
  }
  // {fmt} prints the shortest text that reads back to the same float: 0.5, 1, 1e+20, 1e-07, -0;
  // each is a valid JSON number.
  fmt::format_to(std::back_inserter(out), "{}", value);
}

void write_bool(std::string& out, bool value) {
  out.append(value ? "true" : "false");
}

void write_byte_array(std::string& out, std::span<const std::uint8_t> bytes) {
  out.push_back('[');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) out.push_back(',');
    write_int(out, static_cast<unsigned>(bytes[i]));
  }
  out.push_back(']');
}

void write_strings(std::string& out, std::span<const std::string> texts) {
  out.push_back('[');
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) out.push_back(',');
    write_string(out, texts[i]);
  }
  out.push_back(']');
}

}  // namespace tarnvale_base::json_wire
