#include "base/json_wire.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tarnvale_base::json_wire {
namespace {

// ---------------------------------------------------------------------------------------------
// A small tagged record in the shape of the link's messages, to exercise the readers.

struct Ping {
  bool operator==(const Ping&) const = default;
};
struct Pause {
  bool paused = false;
  bool operator==(const Pause&) const = default;
};
struct Resize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const Resize&) const = default;
};
struct Lists {
  std::optional<std::string> classes;
  std::optional<std::string> titles;
  bool operator==(const Lists&) const = default;
};
struct Mods {
  bool shift = false;
  bool meta = false;
  bool operator==(const Mods&) const = default;
};
struct Press {
  std::uint8_t code = 0;
  Mods mods;
  std::int64_t when = 0;
  bool operator==(const Press&) const = default;
};
using Sample = std::variant<Ping, Pause, Resize, Lists, Press>;

constexpr Variant kSampleVariants[] = {{"ping", "Ping"},
                                       {"pause", "Pause"},
                                       {"resize", "Resize"},
                                       {"lists", "Lists"},
                                       {"press", "Press"}};
constexpr TaggedEnum kSample{"Sample", kSampleVariants};

Result<Mods> decode_mods(const Json& value) {
  return decode_record<Mods>(value, "Mods", [](Fields& f) {
    Mods m;
    m.shift = f.required<bool>("shift");
    m.meta = f.required<bool>("meta");
    return m;
  });
}

Result<Sample> decode_sample(const Json& value) {
  return decode_tagged<Sample>(value, kSample, [](std::size_t variant, Fields& f) -> Sample {
    switch (variant) {
      case 0:
        return Ping{};
      case 1:
        return Pause{f.required<bool>("paused")};
      case 2: {
        Resize r;
        r.width = f.required<std::uint32_t>("width");
        r.height = f.required<std::uint32_t>("height");
        return r;
      }
      case 3: {
        Lists l;
        l.classes = f.optional<std::string>("classes");
        l.titles = f.optional<std::string>("titles");
        return l;
      }
      default: {
        Press p;
        p.code = f.required<std::uint8_t>("code");
        p.mods = f.required("mods", decode_mods);
        p.when = f.required<std::int64_t>("when");
        return p;
      }
    }
  });
}

Result<Sample> decode_text(std::string_view text) {
  return decode_document(text, decode_sample);
}

struct DecodeCase {
  std::string text;
  Sample expected;
};

TEST(JsonWireTaggedTest, DecodesObjectAndArrayForms) {
  const std::vector<DecodeCase> cases = {
      {R"({"kind":"ping"})", Ping{}},
      {R"({"kind":"ping","paused":true,"x":[1,{"y":null}]})", Ping{}},  // unit ignores the rest
      {R"({"kind":"pause","paused":false})", Pause{false}},
      {R"({"paused":true,"kind":"pause"})", Pause{true}},  // tag after the fields
      {R"({"kind":"pause","paused":true,"note":"x"})", Pause{true}},
      {" \t\r\n{\"kind\":\"pause\",\"paused\":true}\n ", Pause{true}},
      {R"({"kind":"resize","width":1280,"height":720})", Resize{1280, 720}},
      {R"({"kind":"resize","width":4294967295,"height":0})", Resize{4294967295u, 0}},
      {R"({"kind":"resize","width":-0,"height":0})", Resize{0, 0}},
      {R"({"kind":"lists"})", Lists{}},
      {R"({"kind":"lists","titles":null})", Lists{}},
      {R"({"kind":"lists","classes":"a","titles":"b"})", Lists{"a", "b"}},
      {R"({"kind":"press","code":255,"mods":{"shift":true,"meta":false},"when":-1})",
       Press{255, {true, false}, -1}},
      {R"({"kind":"press","code":1,"mods":[false,true],"when":9223372036854775807})",
       Press{1, {false, true}, std::numeric_limits<std::int64_t>::max()}},
      {R"(["ping"])", Ping{}},
      {R"(["ping",1,2])", Ping{}},
      {R"(["pause",true])", Pause{true}},
      {R"(["resize",1280,720])", Resize{1280, 720}},
      {R"(["lists"])", Lists{}},
      {R"(["lists","a"])", Lists{"a", std::nullopt}},
      {R"(["lists",null,"b"])", Lists{std::nullopt, "b"}},
  };
  for (const auto& c : cases) {
    auto got = decode_text(c.text);
    ASSERT_TRUE(got.has_value()) << c.text << ": " << got.error().what();
    EXPECT_EQ(*got, c.expected) << c.text;
  }
}

struct ErrorCase {
  std::string text;
  std::string description;  // without the position
};

TEST(JsonWireTaggedTest, RejectsWithExactDescriptions) {
  const std::vector<ErrorCase> cases = {
      {R"({"paused":true})", "missing field `kind`"},
      {R"([])", "missing field `kind`"},
      {R"({"kind":"pause"})", "missing field `paused`"},
      {R"({"kind":"resize","height":1})", "missing field `width`"},
      {R"({"kind":"resize"})", "missing field `width`"},
      // a bad value is reported before a missing field, whatever the order
      {R"({"kind":"resize","height":"x"})", "invalid type: string \"x\", expected u32"},
      {R"({"kind":"Ping"})",
       "unknown variant `Ping`, expected one of `ping`, `pause`, `resize`, `lists`, `press`"},
      {R"({"kind":7})", "invalid type: integer `7`, expected variant identifier"},
      {R"({"kind":null})", "invalid type: null, expected variant identifier"},
      {R"({"kind":"pause","paused":1})", "invalid type: integer `1`, expected a boolean"},
      {R"({"kind":"pause","paused":null})", "invalid type: null, expected a boolean"},
      {R"({"kind":"pause","paused":"true"})", "invalid type: string \"true\", expected a boolean"},
      {R"({"kind":"resize","width":-1,"height":0})", "invalid value: integer `-1`, expected u32"},
      {R"({"kind":"resize","width":4294967296,"height":0})",
       "invalid value: integer `4294967296`, expected u32"},
      {R"({"kind":"resize","width":1920,"height":1080.5})",
       "invalid type: floating point `1080.5`, expected u32"},
      {R"({"kind":"resize","width":1e3,"height":1})",
       "invalid type: floating point `1000.0`, expected u32"},
      {R"({"kind":"resize","width":18446744073709551616,"height":1})",
       "invalid type: floating point `1.8446744073709552e+19`, expected u32"},
      {R"({"kind":"lists","classes":5})", "invalid type: integer `5`, expected a string"},
      {R"({"kind":"lists","titles":[]})", "invalid type: sequence, expected a string"},
      {R"({"kind":"press","code":256,"mods":[true,true],"when":0})",
       "invalid value: integer `256`, expected u8"},
      {R"({"kind":"press","code":1,"mods":{"shift":true},"when":0})", "missing field `meta`"},
      {R"({"kind":"press","code":1,"mods":[true],"when":0})",
       "invalid length 1, expected struct Mods with 2 elements"},
      {R"({"kind":"press","code":1,"mods":"x","when":0})",
       "invalid type: string \"x\", expected struct Mods"},
      {R"({"kind":"press","code":1,"mods":[true,true],"when":9223372036854775808})",
       "invalid value: integer `9223372036854775808`, expected i64"},
      {R"("pause")", "invalid type: string \"pause\", expected internally tagged enum Sample"},
      {R"(true)", "invalid type: boolean `true`, expected internally tagged enum Sample"},
      {R"(null)", "invalid type: null, expected internally tagged enum Sample"},
      {R"(["pause"])", "invalid length 0, expected struct variant Sample::Pause with 1 element"},
      {R"(["resize",1])",
       "invalid length 1, expected struct variant Sample::Resize with 2 elements"},
      {R"(["resize",1,2,3])", "invalid length 3, expected 2 elements in sequence"},
      {R"(["resize",1,"2"])", "invalid type: string \"2\", expected u32"},
      {R"([3,true])", "invalid type: integer `3`, expected variant identifier"},
      {R"(["nope"])",
       "unknown variant `nope`, expected one of `ping`, `pause`, `resize`, `lists`, `press`"},
  };
  for (const auto& c : cases) {
    auto got = decode_text(c.text);
    ASSERT_FALSE(got.has_value()) << c.text;
    const std::string& message = got.error().message();
    EXPECT_EQ(message.substr(0, message.find(" at line ")), c.description) << c.text;
  }
}

TEST(JsonWireTaggedTest, DecodingErrorsEndWithThePositionOfTheDocumentEnd) {
  auto got = decode_text(R"({"kind":"pause"})");
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().message(), "missing field `paused` at line 1 column 16");
  got = decode_text("{\"kind\":\"pause\",\n\"paused\":3}\n\n");
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().message(),
            "invalid type: integer `3`, expected a boolean at line 2 column 11");
}

TEST(JsonWireTaggedTest, CatchAllVariantReceivesUnknownTags) {
  static constexpr Variant kVariants[] = {{"A", "A"}};
  static constexpr TaggedEnum kOpen{"Open", kVariants, /*unknown_is_value=*/true};
  auto decode = [&](std::string_view text) {
    return decode_document(text, [&](const Json& v) {
      return decode_tagged<std::size_t>(v, kOpen,
                                        [](std::size_t variant, Fields&) { return variant; });
    });
  };
  EXPECT_EQ(decode(R"({"kind":"A"})").value(), 0u);
  EXPECT_EQ(decode(R"({"kind":"Teleport","x":1})").value(), kUnknownVariant);
  EXPECT_EQ(decode(R"(["a"])").value(), kUnknownVariant);
  EXPECT_FALSE(decode(R"({"x":1})"));  // the tag itself is still required
}

// ---------------------------------------------------------------------------------------------
// Parsing

TEST(JsonWireParseTest, RejectsRepeatedKeysAtAnyDepth) {
  const std::vector<ErrorCase> cases = {
      {R"({"kind":"a","kind":"b"})", "duplicate field `kind` at line 1 column 18"},
      {R"({"kind":"rejected","reason":"busy","reason":"again"})",
       "duplicate field `reason` at line 1 column 43"},
      {R"({"a":{"x":1,"y":2,"x":3}})", "duplicate field `x` at line 1 column 21"},
      {R"([{"x":1},{"x":1,"x":1}])", "duplicate field `x` at line 1 column 19"},
      {"{\"a\" : 1,\n \"a\" : 2}", "duplicate field `a` at line 2 column 4"},
      {R"({"a\"":1,"a\"":2})", "duplicate field `a\"` at line 1 column 14"},
  };
  for (const auto& c : cases) {
    auto got = parse(c.text);
    ASSERT_FALSE(got) << c.text;
    EXPECT_EQ(got.error().message(), c.description) << c.text;
  }
  // The same key in sibling objects is fine.
  EXPECT_TRUE(parse(R"([{"x":1},{"x":2}])"));
}

TEST(JsonWireParseTest, BoundsNestingDepth) {
  auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
  EXPECT_TRUE(parse(nested(kMaxDepth)));
  auto too_deep = parse(nested(kMaxDepth + 1));
  ASSERT_FALSE(too_deep);
  EXPECT_EQ(too_deep.error().message(), "nesting deeper than 128 levels at line 1 column 129");
  // Far deeper input fails just as quickly, without recursion.
  EXPECT_FALSE(parse(std::string(1 << 20, '[')));
  std::string objects;
  for (int i = 0; i < 200; ++i) objects += "{\"a\":";
  EXPECT_FALSE(parse(objects + "1" + std::string(200, '}')));
}

TEST(JsonWireParseTest, KeepsNumberKinds) {
  auto doc = parse(R"([1,-1,18446744073709551615,-9223372036854775808,1.5,1e2,-0])");
  ASSERT_TRUE(doc);
  const Json& a = *doc;
  EXPECT_TRUE(a[0].is_number_unsigned());
  EXPECT_TRUE(a[1].is_number_integer() && !a[1].is_number_unsigned());
  EXPECT_EQ(a[2].get<std::uint64_t>(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(a[3].get<std::int64_t>(), std::numeric_limits<std::int64_t>::min());
  EXPECT_TRUE(a[4].is_number_float());
  EXPECT_TRUE(a[5].is_number_float());
  EXPECT_EQ(read_u32(a[6]).value(), 0u);
}

TEST(JsonWireParseTest, RejectsMalformedDocumentsWithAPosition) {
  const std::vector<std::string> bad = {
      "",         "   ",     "{",        "{\"a\":1,}", "[1 2]", "{} {}",   "{}x",
      "nul",      "\"\\x\"", "\"a\nb\"", "01",         "1.",    "{\"a\"}", "\xEF\xBB\xBF{}",
      "\"\xff\"", "[1,]",    "{'a':1}",  "/*c*/{}",    "\x00",
  };
  for (const auto& text : bad) {
    auto got = parse(text);
    ASSERT_FALSE(got) << text;
    EXPECT_NE(got.error().message().find(" at line 1 column "), std::string::npos)
        << got.error().message();
    for (char c : got.error().message()) {
      EXPECT_TRUE(c >= 0x20 && c < 0x7f) << "unprintable byte in: " << got.error().message();
    }
  }
  // A NUL byte does not end the document early.
  auto nul = parse(std::string("{}\0{}", 5));
  ASSERT_FALSE(nul);
  EXPECT_EQ(nul.error().message(), "invalid byte 0x00 at line 1 column 3");
  auto got = parse("[1,\n  2,,]");
  ASSERT_FALSE(got);
  EXPECT_NE(got.error().message().find("at line 2 column 5"), std::string::npos)
      << got.error().message();
}

TEST(JsonWireParseTest, AcceptsWhitespaceAroundAndValidUtf8) {
  auto doc = parse(" \r\n\t\"h\xC3\xA9 \\u00e9 \\ud83d\\ude00\"\n");
  ASSERT_TRUE(doc) << doc.error().what();
  EXPECT_EQ(doc->get<std::string>(), "h\xC3\xA9 \xC3\xA9 \xF0\x9F\x98\x80");
}

// ---------------------------------------------------------------------------------------------
// Descriptions and scalar readers

TEST(JsonWireDescribeTest, UnknownVariantWordingByNumberOfCandidates) {
  constexpr std::string_view three[] = {"a", "b", "c"};
  EXPECT_EQ(unknown_variant("x", {}).message(), "unknown variant `x`, there are no variants");
  EXPECT_EQ(unknown_variant("x", std::span(three, 1)).message(),
            "unknown variant `x`, expected `a`");
  EXPECT_EQ(unknown_variant("x", std::span(three, 2)).message(),
            "unknown variant `x`, expected `a` or `b`");
  EXPECT_EQ(unknown_variant("x", three).message(),
            "unknown variant `x`, expected one of `a`, `b`, `c`");
}

TEST(JsonWireDescribeTest, DebugQuoteEscapes) {
  EXPECT_EQ(debug_quote("busy"), "\"busy\"");
  EXPECT_EQ(debug_quote("a\"b\\c\nd\te\rf"), R"("a\"b\\c\nd\te\rf")");
  EXPECT_EQ(debug_quote(std::string("\x1b\x00\x7f", 3)), R"("\u{1b}\0\u{7f}")");
  EXPECT_EQ(debug_quote("\xC3\xA9"), "\"\xC3\xA9\"");
}

TEST(JsonWireReadTest, IntegerWidths) {
  struct Case {
    std::string text;
    bool u8, u16, u32, u64, i64;
  };
  const std::vector<Case> cases = {
      {"0", true, true, true, true, true},
      {"255", true, true, true, true, true},
      {"256", false, true, true, true, true},
      {"65535", false, true, true, true, true},
      {"65536", false, false, true, true, true},
      {"4294967295", false, false, true, true, true},
      {"4294967296", false, false, false, true, true},
      {"9223372036854775807", false, false, false, true, true},
      {"9223372036854775808", false, false, false, true, false},
      {"18446744073709551615", false, false, false, true, false},
      {"-1", false, false, false, false, true},
      {"-9223372036854775808", false, false, false, false, true},
      {"1.0", false, false, false, false, false},
      {"0.5", false, false, false, false, false},
      {"\"1\"", false, false, false, false, false},
      {"true", false, false, false, false, false},
      {"null", false, false, false, false, false},
  };
  for (const auto& c : cases) {
    Json v = parse(c.text).value();
    EXPECT_EQ(read_u8(v).has_value(), c.u8) << c.text;
    EXPECT_EQ(read_u16(v).has_value(), c.u16) << c.text;
    EXPECT_EQ(read_u32(v).has_value(), c.u32) << c.text;
    EXPECT_EQ(read_u64(v).has_value(), c.u64) << c.text;
    EXPECT_EQ(read_i64(v).has_value(), c.i64) << c.text;
  }
}

TEST(JsonWireReadTest, FloatsFromAnyNumber) {
  struct Case {
    std::string text;
    float expected;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<Case> cases = {
      {"0.5", 0.5f},
      {"2", 2.0f},
      {"-1", -1.0f},
      {"-3", -3.0f},
      {"0.1", 0.1f},
      {"18446744073709551615", 18446744073709551615.0f},
      {"3.4028235e38", std::numeric_limits<float>::max()},
      {"3.40282356e38", std::numeric_limits<float>::max()},  // rounds down to the largest float
      {"3.5e38", inf},
      {"-1e39", -inf},
      {"1e-50", 0.0f},
  };
  for (const auto& c : cases) {
    auto got = read_f32(parse(c.text).value());
    ASSERT_TRUE(got) << c.text;
    EXPECT_EQ(*got, c.expected) << c.text;
  }
  // A number beyond even a double's range is malformed JSON for the parser.
  auto huge = parse("1e400");
  ASSERT_FALSE(huge);
  EXPECT_EQ(huge.error().message(), "number overflow parsing '1e400' at line 1 column 5");
  for (std::string bad : {"\"1\"", "true", "null", "[]"}) {
    auto got = read_f32(parse(bad).value());
    ASSERT_FALSE(got) << bad;
    EXPECT_NE(got.error().message().find("expected f32"), std::string::npos);
  }
}

TEST(JsonWireReadTest, NamesAndArrays) {
  constexpr std::string_view kQuality[] = {"low", "medium", "high"};
  EXPECT_EQ(read_name(parse("\"high\"").value(), kQuality).value(), 2u);
  EXPECT_EQ(read_name(parse("\"High\"").value(), kQuality).error().message(),
            "unknown variant `High`, expected one of `low`, `medium`, `high`");
  EXPECT_EQ(read_name(parse("\"ultra\"").value(), kQuality, 7).value(), 7u);
  EXPECT_FALSE(read_name(parse("1").value(), kQuality, 7));

  EXPECT_EQ(read_strings(parse(R"(["a","b"])").value()).value(),
            (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(read_strings(parse(R"(["a",1])").value()).error().message(),
            "invalid type: integer `1`, expected a string");
  EXPECT_EQ(read_strings(parse(R"("a")").value()).error().message(),
            "invalid type: string \"a\", expected a sequence");
  EXPECT_EQ(read_byte_array(parse("[0,255]").value()).value(), (std::vector<std::uint8_t>{0, 255}));
  EXPECT_FALSE(read_byte_array(parse("[256]").value()));
}

// ---------------------------------------------------------------------------------------------
// Writing

TEST(JsonWireWriteTest, EscapesStringsByTheWireRules) {
  struct Case {
    std::string text;
    std::string json;
  };
  const std::vector<Case> cases = {
      {"", R"("")"},
      {"plain", R"("plain")"},
      {"say \"hi\"\n", R"("say \"hi\"\n")"},
      {"back\\slash/", R"("back\\slash/")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {std::string("\x00\x01\x1f\x7f", 4), "\"\\u0000\\u0001\\u001f\x7f\""},
      {"\x1b[0m", R"("\u001b[0m")"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
  };
  for (const auto& c : cases) {
    std::string out;
    write_string(out, c.text);
    EXPECT_EQ(out, c.json);
    // and the JSON library reads back the same text
    EXPECT_EQ(Json::parse(out).get<std::string>(), c.text);
  }
}

TEST(JsonWireWriteTest, FloatsAreShortestAndReadBackExactly) {
  struct Case {
    float value;
    std::string json;
  };
  const std::vector<Case> cases = {
      {0.5f, "0.5"}, {0.25f, "0.25"},  {1.0f, "1"},      {-1.0f, "-1"},
      {0.1f, "0.1"}, {1e20f, "1e+20"}, {1e-7f, "1e-07"}, {-0.0f, "-0"},
  };
  for (const auto& c : cases) {
    std::string out;
    write_f32(out, c.value);
    EXPECT_EQ(out, c.json);
  }
  const float samples[] = {0.5f,
                           1.0f / 3.0f,
                           0.99999994f,
                           1e20f,
                           1e-7f,
                           123456.79f,
                           std::numeric_limits<float>::max(),
                           std::numeric_limits<float>::min(),
                           std::numeric_limits<float>::denorm_min(),
                           -2.5e-39f,
                           16777217.0f};
  for (float v : samples) {
    std::string out;
    write_f32(out, v);
    Json back = Json::parse(out);
    ASSERT_TRUE(back.is_number()) << out;
    EXPECT_EQ(read_f32(back).value(), v) << out;
  }
  for (float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                  -std::numeric_limits<float>::infinity()}) {
    std::string out;
    write_f32(out, v);
    EXPECT_EQ(out, "null");
  }
}

TEST(JsonWireWriteTest, ObjectWriterKeepsFieldOrder) {
  std::string out;
  {
    ObjectWriter w(out);
    w.field("kind", "sample");
    w.field("pts_us", std::uint64_t{18446744073709551615u});
    w.field("delta", std::int64_t{-5});
    w.field("hotspot", std::uint16_t{4});
    w.field("ok", true);
    w.field("x", 0.25f);
    w.field("text", std::string("a\"b"));
    write_byte_array(w.key("png"), std::vector<std::uint8_t>{137, 80, 0, 255});
    write_strings(w.key("paths"), std::vector<std::string>{"/a", "/b"});
    write_byte_array(w.key("empty"), {});
    {
      ObjectWriter nested(w.key("list"));
      nested.field("monitors", std::string_view("none"));
    }
  }
  EXPECT_EQ(out,
            R"({"kind":"sample","pts_us":18446744073709551615,"delta":-5,"hotspot":4,"ok":true,)"
            R"("x":0.25,"text":"a\"b","png":[137,80,0,255],"paths":["/a","/b"],"empty":[],)"
            R"("list":{"monitors":"none"}})");
  std::string empty;
  { ObjectWriter w(empty); }
  EXPECT_EQ(empty, "{}");
}

}  // namespace
}  // namespace tarnvale_base::json_wire
