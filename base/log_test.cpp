#include "base/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

namespace tarnvale_base::log {
namespace {

struct FilterCase {
  const char* name;
  std::optional<std::string_view> directives;
  std::string_view target;
  Level level;
  bool shown;
};

std::ostream& operator<<(std::ostream& os, const FilterCase& c) {
  return os << c.name;
}

class FilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FilterTest, Decides) {
  const auto& c = GetParam();
  EXPECT_EQ(Filter::parse(c.directives).enabled(c.target, c.level), c.shown);
}

constexpr std::string_view kImp = "tarnvale_host_agent::imp";
constexpr std::string_view kAgent = "tarnvale_host_agent";

INSTANTIATE_TEST_SUITE_P(
    Cases, FilterTest,
    ::testing::Values(
        FilterCase{"unset_shows_info", std::nullopt, kImp, Level::Info, true},
        FilterCase{"unset_hides_debug", std::nullopt, kImp, Level::Debug, false},
        FilterCase{"unset_shows_error", std::nullopt, "tarnvale_codec", Level::Error, true},
        FilterCase{"module_debug_shows_debug", "tarnvale_host_agent::imp=debug", kImp, Level::Debug,
                   true},
        FilterCase{"module_debug_hides_parent", "tarnvale_host_agent::imp=debug", kAgent,
                   Level::Info, false},
        FilterCase{"module_debug_hides_other", "tarnvale_host_agent::imp=debug", "tarnvale_codec",
                   Level::Error, false},
        FilterCase{"module_matches_child", "tarnvale_capture=trace", "tarnvale_capture::mac",
                   Level::Trace, true},
        FilterCase{"module_needs_boundary", "tarnvale_capture=trace", "tarnvale_capture_x",
                   Level::Error, false},
        FilterCase{"most_specific_wins_down", "debug,tarnvale_host_agent::imp=warn", kImp,
                   Level::Info, false},
        FilterCase{"most_specific_wins_up", "warn,tarnvale_host_agent::imp=trace", kImp,
                   Level::Trace, true},
        FilterCase{"bare_level_everywhere", "warn", "anything", Level::Warn, true},
        FilterCase{"bad_directive_falls_back", "info,bogus==x", kImp, Level::Debug, false},
        FilterCase{"bad_directive_falls_back_info", "trace,bogus==x", kImp, Level::Info, true},
        FilterCase{"unknown_level_falls_back", "loud", kImp, Level::Info, true},
        FilterCase{"empty_falls_back", "", kImp, Level::Info, true},
        FilterCase{"non_utf8_falls_back", "debug\xff", kImp, Level::Debug, false},
        FilterCase{"case_insensitive_level", "DEBUG", kImp, Level::Debug, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LogCapture, RecordsFieldsEvenWhenFiltered) {
  ScopedCapture capture;
  debug("tarnvale_test", "something happened", {{"n", 5}, {"ok", true}, {"error", Error("boom")}});
  auto found = capture.find("something happened");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].level, Level::Debug);
  EXPECT_EQ(found[0].target, "tarnvale_test");
  EXPECT_EQ(found[0].field("n"), "5");
  EXPECT_EQ(found[0].field("ok"), "true");
  EXPECT_EQ(found[0].field("error"), "boom");
  EXPECT_EQ(found[0].field("missing"), std::nullopt);
}

TEST(LogLine, QuotesValuesThatAreNotPlainTokens) {
  EXPECT_EQ(quote_value("1920"), "1920");
  EXPECT_EQ(quote_value("early eof"), "\"early eof\"");
  EXPECT_EQ(quote_value(""), "\"\"");
  EXPECT_EQ(quote_value("Rejected { reason: \"busy\" }"), "\"Rejected { reason: \\\"busy\\\" }\"");
  EXPECT_EQ(quote_value("a\nb"), "\"a\\nb\"");
}

TEST(LogLine, NoColorRule) {
  struct Case {
    const char* value;
    bool colour;
  };
  for (auto c : {Case{nullptr, true}, Case{"", true}, Case{"1", false}}) {
    if (c.value) {
      setenv("NO_COLOR", c.value, 1);
    } else {
      unsetenv("NO_COLOR");
    }
    EXPECT_EQ(colour_from_environment(), c.colour) << (c.value ? c.value : "(unset)");
  }
  unsetenv("NO_COLOR");
}

}  // namespace
}  // namespace tarnvale_base::log
