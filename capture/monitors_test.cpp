#include "capture/monitors.h"

#include <gtest/gtest.h>

#include "platform/vhost.h"

namespace tarnvale_capture {
namespace {

namespace vh = tarnvale_platform::vhost;
using tarnvale_proto::MonitorMode;
using Size = std::pair<std::uint32_t, std::uint32_t>;

vh::DisplayLayout display(std::uint32_t id, std::int32_t x,
                          std::vector<tarnvale_platform::CGDisplayMode> modes) {
  vh::DisplayLayout d;
  d.id = id;
  d.x = x;
  d.modes = std::move(modes);
  return d;
}

// Each test starts from a fresh host and an empty saved mode.
class DisplayModes : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = vh::VirtualHost::reset();
    std::lock_guard lock(display_mode::ORIGINAL.mutex);
    display_mode::ORIGINAL.cell.reset();
  }
  std::shared_ptr<vh::VirtualHost> host_;
};

TEST_F(DisplayModes, DefaultHostListsOneMonitorWithDistinctModesLargestFirst) {
  auto monitors = enumerate_monitors();
  ASSERT_TRUE(monitors) << monitors.error().what();
  ASSERT_EQ(monitors->size(), 1u);
  const auto& m = monitors->front();
  EXPECT_EQ(m.id, "1");
  EXPECT_EQ(m.name, "Display 1");
  EXPECT_EQ(m.width, 1920u);
  EXPECT_EQ(m.height, 1080u);
  EXPECT_TRUE(m.is_primary);
  EXPECT_FALSE(m.is_selected);
  EXPECT_EQ(m.available_modes,
            (std::vector<MonitorMode>{{2560, 1440}, {1920, 1080}, {1280, 720}, {1024, 768}}));
}

TEST_F(DisplayModes, ThreeDisplaysInServiceOrderOnlyFirstPrimary) {
  vh::Scenario s;
  s.displays = {
      display(
          7, 0,
          {vh::make_mode(2560, 1440, 60), vh::make_mode(2560, 1440, 30), vh::make_mode(1280, 720)}),
      display(12, 2560,
              {vh::make_mode(1600, 900), vh::make_mode(1440, 1000), vh::make_mode(0 + 800, 600)}),
      display(3, -1024, {vh::make_mode(1024, 768)})};
  vh::VirtualHost::reset(s);
  auto monitors = enumerate_monitors();
  ASSERT_TRUE(monitors);
  ASSERT_EQ(monitors->size(), 3u);
  EXPECT_EQ((*monitors)[0].id, "7");
  EXPECT_EQ((*monitors)[1].id, "12");
  EXPECT_EQ((*monitors)[2].id, "3");
  EXPECT_EQ((*monitors)[2].name, "Display 3");
  EXPECT_TRUE((*monitors)[0].is_primary);
  EXPECT_FALSE((*monitors)[1].is_primary);
  EXPECT_FALSE((*monitors)[2].is_primary);
  EXPECT_EQ((*monitors)[0].available_modes, (std::vector<MonitorMode>{{2560, 1440}, {1280, 720}}));
  EXPECT_EQ((*monitors)[1].available_modes,
            (std::vector<MonitorMode>{{1600, 900}, {1440, 1000}, {800, 600}}));
}

TEST_F(DisplayModes, ScreenRecordingRefusedGivesAnEmptyList) {
  host_->set_screen_recording(false);
  auto monitors = enumerate_monitors();
  ASSERT_TRUE(monitors);
  EXPECT_TRUE(monitors->empty());
}

TEST_F(DisplayModes, ContentQueryFailureIsReported) {
  host_->fail_next_content_query("The operation couldn't be completed");
  auto monitors = enumerate_monitors();
  ASSERT_FALSE(monitors);
  EXPECT_EQ(monitors.error().what(),
            "SCShareableContent::get failed: The operation couldn't be completed");
}

TEST_F(DisplayModes, ChangeSavesOriginalAndRestoreSwitchesBack) {
  auto first = display_mode::set_display_resolution(std::nullopt, 1280, 720);
  ASSERT_TRUE(first) << first.error().what();
  EXPECT_EQ(*first, (Size{1280, 720}));
  EXPECT_EQ(host_->display(1)->modes[host_->display(1)->current_mode].width, 1280u);

  // A second change keeps the first saved mode.
  ASSERT_TRUE(display_mode::set_display_resolution("1", 1024, 768));
  auto restored = display_mode::set_display_resolution(std::nullopt, 0, 0);
  ASSERT_TRUE(restored);
  EXPECT_EQ(*restored, (Size{1920, 1080}));
  auto d = host_->display(1);
  EXPECT_EQ(d->modes[d->current_mode].width, 1920u);
  EXPECT_EQ(d->modes[d->current_mode].refresh_rate, 60);

  // Nothing saved: the current size, no switch.
  const auto switches = host_->stats().mode_switches;
  auto again = display_mode::set_display_resolution(std::nullopt, 0, 0);
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, (Size{1920, 1080}));
  EXPECT_EQ(host_->stats().mode_switches, switches);

  auto journal = host_->journal();
  ASSERT_EQ(journal.size(), 3u);
  EXPECT_EQ(journal[0]["width"], 1280);
  EXPECT_EQ(journal[1]["width"], 1024);
  EXPECT_EQ(journal[2]["width"], 1920);
}

TEST_F(DisplayModes, ErrorTexts) {
  auto missing = display_mode::set_display_resolution(std::nullopt, 0, 1080);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().what(), "no 0x1080 display mode available on this monitor");

  host_->fail_next_set_display_mode(tarnvale_platform::kCGErrorIllegalArgument);
  auto refused = display_mode::set_display_resolution(std::nullopt, 1280, 720);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().what(), "CGDisplaySetDisplayMode failed: CGError 1001");

  // A failed change leaves the saved mode; a failed restore still empties it.
  host_->fail_next_set_display_mode(-5);
  auto restore = display_mode::set_display_resolution(std::nullopt, 0, 0);
  ASSERT_FALSE(restore);
  EXPECT_EQ(restore.error().what(), "restore CGDisplaySetDisplayMode failed: CGError -5");
  std::lock_guard lock(display_mode::ORIGINAL.mutex);
  EXPECT_FALSE(display_mode::ORIGINAL.cell);
}

TEST_F(DisplayModes, MonitorIdSelectsTheTarget) {
  vh::Scenario s;
  s.displays = {display(1, 0, {vh::make_mode(1920, 1080), vh::make_mode(1280, 720)}),
                display(2, 1920, {vh::make_mode(1600, 900), vh::make_mode(1280, 720)})};
  auto host = vh::VirtualHost::reset(s);
  struct Case {
    std::optional<std::string> id;
    std::uint32_t expect_switched;
  };
  for (const Case& c : {Case{" 2 ", 2}, Case{"+2", 2}, Case{"abc", 1}, Case{"0", 1},
                        Case{std::nullopt, 1}, Case{"-2", 1}}) {
    host->clear_journal();
    ASSERT_TRUE(display_mode::set_display_resolution(c.id, 1280, 720)) << c.id.value_or("none");
    auto j = host->journal();
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["display"], c.expect_switched) << c.id.value_or("none");
  }
  // The restore goes to the display saved first (2), whatever id it is given.
  host->clear_journal();
  auto restored = display_mode::set_display_resolution("1", 0, 0);
  ASSERT_TRUE(restored);
  EXPECT_EQ(*restored, (Size{1600, 900}));
  EXPECT_EQ(host->journal().at(0)["display"], 2);
}

TEST(DistinctSortedModes, EqualAreasWiderFirstAndZeroSizesSkipped) {
  auto m = [](std::uint32_t w, std::uint32_t h) {
    return std::make_shared<const tarnvale_platform::CGDisplayMode>(vh::make_mode(w, h));
  };
  std::vector<tarnvale_platform::CGDisplayModeRef> modes = {
      m(1440, 1000), m(0, 900), m(1600, 900), m(800, 0), m(1600, 900), nullptr};
  EXPECT_EQ(distinct_sorted_modes(modes), (std::vector<MonitorMode>{{1600, 900}, {1440, 1000}}));
}

}  // namespace
}  // namespace tarnvale_capture
