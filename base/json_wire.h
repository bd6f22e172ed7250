// The typed JSON layer of the daemon link: strict parsing, typed readers for records and tagged
// records, and a compact writer.
//
// Reading. `parse` turns one message body into a `Json` tree (nlohmann's) with exact number kinds
// (signed, unsigned, float), rejecting repeated keys ("duplicate field `x`"), nesting deeper than
// `kMaxDepth`, and anything but whitespace around the document. Decoders are plain functions
// `Result<T> decode_x(const Json&)` whose error is the description alone; they are built from
// `decode_tagged` (a record whose variant is named by the key "kind", or an array with the tag
// first) and `decode_record` (a plain record, object or array), both of which hand the decoder a
// `Fields` that looks fields up by name and converts them by the wire rules: keys in any order,
// unknown keys skipped, missing required field "missing field `x`", wrong JSON type "invalid type:
// integer `1`, expected a boolean", integers outside the field's width rejected, `null` only for
// optional fields (null == absent). `decode_document` ties a decoder to a body and appends the
// position (" at line 1 column 23") to the description. Each message type offers
// `static Result<T> decode_json(std::string_view body)` built this way.
//
// Writing. `ObjectWriter` appends compact JSON to a `std::string`: fields in the order they are
// written (so "kind" first), strings escaped exactly as the wire format requires, 32-bit floats in
// their shortest round-trip form (non-finite ones as `null`), integers in decimal. Each message
// type offers `void encode_json(std::string& out) const`, which appends and cannot fail.
//
// Usage:
//
//   constexpr Variant kAckVariants[] = {{"ok", "Ok"}, {"rejected", "Rejected"}};
//   constexpr TaggedEnum kAck{"HelloAck", kAckVariants};
//
//   Result<Ack> decode_ack(const Json& value) {
//     return decode_tagged<Ack>(value, kAck, [](std::size_t variant, Fields& f) -> Ack {
//       if (variant == 0) return Ok{};
//       return Rejected{f.required<std::string>("reason")};  // fields in their declared order
//     });
//   }
//   Result<Ack> Ack::decode_json(std::string_view body) { return decode_document(body, decode_ack);
//   }
//
//   void Audio::encode_json(std::string& out) const {
//     ObjectWriter w(out);  // "}" is written when `w` goes out of scope
//     w.field("kind", "audio");
//     w.field("pts_us", pts_us);
//   }
//
// Everything here is a pure function of its arguments; any thread may call it. Nothing throws:
// the parser's exceptions are caught inside `parse`.
#pragma once

#include <charconv>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/error.h"

namespace tarnvale_base::json_wire {

using Json = nlohmann::json;

// Deepest nesting of arrays and objects a document may have.
inline constexpr int kMaxDepth = 128;

// ---------------------------------------------------------------------------------------------
// Parsing

// Parses one whole document. Errors: the parser's own description of malformed JSON, "duplicate
// field `x`", "nesting deeper than 128 levels", each followed by " at line L column C".
Result<Json> parse(std::string_view text);

// Line and column (both from 1) of byte `offset` of `text`.
std::string position_suffix(std::string_view text, std::size_t offset);

// Parses `text` and decodes it with `decode` (`Result<T>(const Json&)`); a decoding error gets the
// position of the end of the document appended (every field of a tagged record is examined once
// the whole record has been read).
template <class Decode>
auto decode_document(std::string_view text, Decode&& decode) -> decltype(decode(Json())) {
  auto doc = parse(text);
  if (!doc) return std::unexpected(std::move(doc.error()));
  auto value = decode(*doc);
  if (!value) {
    std::size_t end = text.find_last_not_of(" \t\r\n");
    return fail(value.error().message() + position_suffix(text, end == text.npos ? 0 : end));
  }
  return value;
}

// ---------------------------------------------------------------------------------------------
// Descriptions

// What a value is, for "invalid type" errors: "integer `1`", "floating point `1.5`", "boolean
// `true`", "string \"x\"", "null", "sequence", "map".
std::string describe(const Json& value);
// "invalid type: <describe(value)>, expected <expected>".
Error invalid_type(const Json& value, std::string_view expected);
// "invalid value: <describe(value)>, expected <expected>".
Error invalid_value(const Json& value, std::string_view expected);
// "unknown variant `x`, expected one of `a`, `b`, `c`" ("expected `a`" for one candidate,
// "expected `a` or `b`" for two, "there are no variants" for none).
Error unknown_variant(std::string_view tag, std::span<const std::string_view> candidates);
// "missing field `x`", "duplicate field `x`".
Error missing_field(std::string_view name);
Error duplicate_field(std::string_view name);
// `"text"` with quotes, backslashes and control characters escaped, for debug forms.
std::string debug_quote(std::string_view text);

// ---------------------------------------------------------------------------------------------
// Scalar readers: each accepts exactly the JSON type of the wire format.

Result<bool> read_bool(const Json& value);
// Integers only from JSON integers within the width; a fraction, or a negative value for an
// unsigned width, is an error.
Result<std::uint8_t> read_u8(const Json& value);
Result<std::uint16_t> read_u16(const Json& value);
Result<std::uint32_t> read_u32(const Json& value);
Result<std::uint64_t> read_u64(const Json& value);
Result<std::int64_t> read_i64(const Json& value);
// Any JSON number, rounded to the nearest float (beyond the float range: an infinity).
Result<float> read_f32(const Json& value);
Result<std::string> read_string(const Json& value);
// A JSON array of strings.
Result<std::vector<std::string>> read_strings(const Json& value);
// A JSON array of integers 0..255.
Result<std::vector<std::uint8_t>> read_byte_array(const Json& value);
// A string among `names` (exact comparison): its index. Any other string gives `fallback` when
// one is given, otherwise an unknown-variant error naming `names`. A non-string is an error.
Result<std::size_t> read_name(const Json& value, std::span<const std::string_view> names,
                              std::optional<std::size_t> fallback = std::nullopt);

// The reader `Fields::required<T>` and `Fields::optional<T>` use for T.
template <class T>
struct Reader;
template <>
struct Reader<bool> {
  static Result<bool> read(const Json& v) { return read_bool(v); }
};
template <>
struct Reader<std::uint8_t> {
  static Result<std::uint8_t> read(const Json& v) { return read_u8(v); }
};
template <>
struct Reader<std::uint16_t> {
  static Result<std::uint16_t> read(const Json& v) { return read_u16(v); }
};
template <>
struct Reader<std::uint32_t> {
  static Result<std::uint32_t> read(const Json& v) { return read_u32(v); }
};
template <>
struct Reader<std::uint64_t> {
  static Result<std::uint64_t> read(const Json& v) { return read_u64(v); }
};
template <>
struct Reader<std::int64_t> {
  static Result<std::int64_t> read(const Json& v) { return read_i64(v); }
};
template <>
struct Reader<float> {
  static Result<float> read(const Json& v) { return read_f32(v); }
};
template <>
struct Reader<std::string> {
  static Result<std::string> read(const Json& v) { return read_string(v); }
};
template <>
struct Reader<std::vector<std::string>> {
  static Result<std::vector<std::string>> read(const Json& v) { return read_strings(v); }
};

// ---------------------------------------------------------------------------------------------
// Records

// The fields of one record being decoded: an object (fields by name) or the array form (fields by
// position). Read fields in their declared order: in the array form the n-th read takes the n-th
// element. The first error in declared order wins, except that a missing field is reported only
// when no field had a bad value; once a read has failed, the values returned are defaults and the
// enclosing `decode_tagged` / `decode_record` returns the error.
class Fields {
 public:
  // A required field, converted by `Reader<T>` or by `decode` (`Result<T>(const Json&)`).
  template <class T>
  T required(std::string_view name) {
    return required(name, &Reader<T>::read);
  }
  template <class Decode>
  auto required(std::string_view name, Decode&& decode) ->
      typename decltype(decode(Json()))::value_type {
    using T = typename decltype(decode(Json()))::value_type;
    std::size_t rank = 0;
    const Json* v = take(name, /*optional=*/false, rank);
    if (v == nullptr) return T{};
    auto r = decode(*v);
    if (!r) {
      record(rank, r.error().message());
      return T{};
    }
    return std::move(*r);
  }

  // An optional field: missing, `null` or (array form) left off the end all give nullopt.
  template <class T>
  std::optional<T> optional(std::string_view name) {
    return optional(name, &Reader<T>::read);
  }
  template <class Decode>
  auto optional(std::string_view name, Decode&& decode)
      -> std::optional<typename decltype(decode(Json()))::value_type> {
    std::size_t rank = 0;
    const Json* v = take(name, /*optional=*/true, rank);
    if (v == nullptr || v->is_null()) return std::nullopt;
    auto r = decode(*v);
    if (!r) {
      record(rank, r.error().message());
      return std::nullopt;
    }
    return std::move(*r);
  }

  bool failed() const { return error_.has_value(); }

  // Used by decode_tagged / decode_record.
  Fields(const Json& value, std::size_t first_element, std::string expecting);
  Result<void> finish();

 private:
  const Json* take(std::string_view name, bool optional, std::size_t& rank);
  void record(std::size_t rank, std::string description);

  const Json& value_;
  std::size_t first_element_;  // array form: index of the first field's element
  std::string expecting_;      // "struct KeyModifiers", "struct variant AgentBound::SetPaused"
  std::size_t reads_ = 0;
  std::optional<std::size_t> too_few_;  // array form: elements there were when one was missing
  std::optional<std::pair<std::size_t, std::string>> error_;  // (rank, description)
};

// One variant of a tagged record: its tag on the wire and its name in messages.
struct Variant {
  std::string_view tag;
  std::string_view name;
};

// A tagged record type: its name, its variants in declared order, and whether an unknown tag
// decodes to a catch-all (the decoder is then called with `kUnknownVariant`) or is an error.
struct TaggedEnum {
  std::string_view name;
  std::span<const Variant> variants;
  bool unknown_is_value = false;
};
inline constexpr std::size_t kUnknownVariant = std::numeric_limits<std::size_t>::max();

namespace detail {
struct Tag {
  std::size_t variant;      // index into the variants, or kUnknownVariant
  std::size_t first_field;  // array form: 1; object form: 0
};
// Checks the shape and finds the tag: invalid type "expected internally tagged enum X", "missing
// field `kind`", unknown variant.
Result<Tag> find_tag(const Json& value, const TaggedEnum& type);
Result<void> check_record_shape(const Json& value, std::string_view name);
}  // namespace detail

// Decodes a tagged record: `read(std::size_t variant, Fields&) -> T` builds the value of the
// variant found (index into `type.variants`, or kUnknownVariant), reading its fields in declared
// order. A unit variant reads no field and so ignores every other key.
template <class T, class Read>
Result<T> decode_tagged(const Json& value, const TaggedEnum& type, Read&& read) {
  auto tag = detail::find_tag(value, type);
  if (!tag) return std::unexpected(std::move(tag.error()));
  std::string expecting;
  if (value.is_array() && tag->variant != kUnknownVariant) {
    expecting.reserve(32);
    expecting.append("struct variant ").append(type.name).append("::");
    expecting.append(type.variants[tag->variant].name);
  }
  Fields fields(value, tag->first_field, std::move(expecting));
  T result = read(tag->variant, fields);
  if (auto done = fields.finish(); !done) return std::unexpected(std::move(done.error()));
  return result;
}

// Decodes a plain record (an object without "kind", or an array of its fields in order):
// `read(Fields&) -> T`. Any other JSON type is "invalid type: ..., expected struct <name>".
template <class T, class Read>
Result<T> decode_record(const Json& value, std::string_view name, Read&& read) {
  if (auto shape = detail::check_record_shape(value, name); !shape) {
    return std::unexpected(std::move(shape.error()));
  }
  Fields fields(value, 0, value.is_array() ? "struct " + std::string(name) : std::string());
  T result = read(fields);
  if (auto done = fields.finish(); !done) return std::unexpected(std::move(done.error()));
  return result;
}

// A JSON array whose elements are decoded by `decode` (`Result<T>(const Json&)`).
template <class Decode>
auto read_array(const Json& value, Decode&& decode)
    -> Result<std::vector<typename decltype(decode(Json()))::value_type>> {
  if (!value.is_array()) return std::unexpected(invalid_type(value, "a sequence"));
  std::vector<typename decltype(decode(Json()))::value_type> out;
  out.reserve(value.size());
  for (const Json& element : value) {
    auto r = decode(element);
    if (!r) return std::unexpected(std::move(r.error()));
    out.push_back(std::move(*r));
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Writing

// `"text"` escaped by the wire rules: `\"`, `\\`, `\b \t \n \f \r`, other controls below 0x20 as
// `\u00xx` (lower-case hex), every other byte as it is.
void write_string(std::string& out, std::string_view text);
// Shortest decimal that reads back to the same float; NaN and infinities as `null`.
void write_f32(std::string& out, float value);
void write_bool(std::string& out, bool value);
template <std::integral T>
requires(!std::same_as<T, bool>) void write_int(std::string& out, T value) {
  char buf[24];
  auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  out.append(buf, end);
}
// `[137,80,78,71]`.
void write_byte_array(std::string& out, std::span<const std::uint8_t> bytes);
// `["a","b"]`.
void write_strings(std::string& out, std::span<const std::string> texts);

// Writes one value by its C++ type: bool, integers, float, strings.
template <class T>
void write_value(std::string& out, const T& value) {
  if constexpr (std::same_as<T, bool>) {
    write_bool(out, value);
  } else if constexpr (std::integral<T>) {
    write_int(out, value);
  } else if constexpr (std::same_as<T, float>) {
    write_f32(out, value);
  } else {
    static_assert(std::is_convertible_v<const T&, std::string_view>, "no JSON form for this type");
    write_string(out, std::string_view(value));
  }
}

// Writes one JSON object: "{" now, each field as it is added, "}" when it goes out of scope.
// The keys are written as given (they are identifiers of ours and need no escaping).
class ObjectWriter {
 public:
  explicit ObjectWriter(std::string& out) : out_(out) { out_.push_back('{'); }
  ~ObjectWriter() { out_.push_back('}'); }
  ObjectWriter(const ObjectWriter&) = delete;
  ObjectWriter& operator=(const ObjectWriter&) = delete;

  // Writes the separator and `"name":`; the caller then appends the value to the returned string.
  std::string& key(std::string_view name) {
    if (!first_) out_.push_back(',');
    first_ = false;
    out_.push_back('"');
    out_.append(name);
    out_.append("\":");
    return out_;
  }
  template <class T>
  void field(std::string_view name, const T& value) {
    write_value(key(name), value);
  }

 private:
  std::string& out_;
  bool first_ = true;
};

}  // namespace tarnvale_base::json_wire
