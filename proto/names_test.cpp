#include <gtest/gtest.h>

#include <set>
#include <string>

#include "proto/cursor.h"
#include "proto/file_op.h"
#include "proto/host_control.h"
#include "proto/input.h"

namespace tarnvale_proto {
namespace {

TEST(KeyNames, AllEightyFiveInDeclaredOrder) {
  std::vector<std::string> expected;
  for (char c = 'A'; c <= 'Z'; ++c) expected.push_back(std::string("Key") + c);
  for (char d = '0'; d <= '9'; ++d) expected.push_back(std::string("Digit") + d);
  for (const char* n :
       {"Space",        "Enter",     "Tab",        "Backspace", "Escape",     "ArrowUp",
        "ArrowDown",    "ArrowLeft", "ArrowRight", "Home",      "End",        "PageUp",
        "PageDown",     "Delete",    "Insert",     "ShiftLeft", "ShiftRight", "ControlLeft",
        "ControlRight", "AltLeft",   "AltRight",   "MetaLeft",  "MetaRight",  "CapsLock"}) {
    expected.push_back(n);
  }
  for (int f = 1; f <= 12; ++f) expected.push_back("F" + std::to_string(f));
  for (const char* n :
       {"Minus", "Equal", "BracketLeft", "BracketRight", "Semicolon", "Quote", "Backquote",
        "Backslash", "Slash", "Comma", "Period", "PrintScreen", "Unknown"}) {
    expected.push_back(n);
  }
  ASSERT_EQ(expected.size(), kKeyCount);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    auto key = static_cast<Key>(i);
    EXPECT_EQ(value_name(key), expected[i]) << "position " << i;
    EXPECT_EQ(parse_key(expected[i]), key) << expected[i];
  }
}

TEST(KeyNames, AnyOtherTextIsUnknown) {
  for (std::string_view text : {"keya", "KEYA", "Keya", "KeyA ", " KeyA", "", "F13", "Digit10",
                                "NumpadEnter", "ArrowUpArrowUp", "Unknown"}) {
    EXPECT_EQ(parse_key(text), Key::Unknown) << text;
  }
}

TEST(MouseButtonNames, LowerCaseOnlyAndUnknownOtherwise) {
  const std::pair<std::string_view, MouseButton> cases[] = {
      {"left", MouseButton::Left},       {"right", MouseButton::Right},
      {"middle", MouseButton::Middle},   {"back", MouseButton::Back},
      {"forward", MouseButton::Forward}, {"Left", MouseButton::Unknown},
      {"unknown", MouseButton::Unknown}, {"", MouseButton::Unknown},
      {"button4", MouseButton::Unknown},
  };
  for (auto [text, button] : cases) EXPECT_EQ(parse_mouse_button(text), button) << text;
  EXPECT_EQ(wire_name(MouseButton::Forward), "forward");
  EXPECT_EQ(value_name(MouseButton::Forward), "Forward");
}

TEST(SystemPanelNames, WireStringsAndValueNamesInDeclaredOrder) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"display_settings", "DisplaySettings"},
      {"taskbar_settings", "TaskbarSettings"},
      {"network_adapters", "NetworkAdapters"},
      {"network_advanced", "NetworkAdvanced"},
      {"wifi_settings", "WifiSettings"},
      {"system_properties", "SystemProperties"},
      {"device_manager", "DeviceManager"},
      {"about_system", "AboutSystem"},
      {"computer_management", "ComputerManagement"},
      {"services", "Services"},
      {"event_viewer", "EventViewer"},
      {"task_manager", "TaskManager"},
      {"disk_management", "DiskManagement"},
      {"programs_and_features", "ProgramsAndFeatures"},
      {"windows_update", "WindowsUpdate"},
      {"work_or_school", "WorkOrSchool"},
      {"group_policy", "GroupPolicy"},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    auto panel = static_cast<SystemPanel>(i);
    EXPECT_EQ(parse_system_panel(rows[i].first), panel) << rows[i].first;
    EXPECT_EQ(wire_name(panel), rows[i].first);
    EXPECT_EQ(value_name(panel), rows[i].second);
  }
  for (std::string_view text : {"control_panel", "Task_Manager", "unknown", "", "TaskManager"}) {
    EXPECT_EQ(parse_system_panel(text), SystemPanel::Unknown) << text;
  }
  EXPECT_EQ(value_name(SystemPanel::Unknown), "Unknown");
}

TEST(QualityNames, ExactNamesAndIndices) {
  EXPECT_EQ(parse_quality("low"), Quality::Low);
  EXPECT_EQ(parse_quality("medium"), Quality::Medium);
  EXPECT_EQ(parse_quality("high"), Quality::High);
  for (std::string_view text : {"High", "ultra", "", "LOW"}) {
    EXPECT_EQ(parse_quality(text), std::nullopt) << text;
  }
  EXPECT_EQ(quality_index(Quality::Low), 0);
  EXPECT_EQ(quality_index(Quality::Medium), 1);
  EXPECT_EQ(quality_index(Quality::High), 2);
  EXPECT_EQ(quality_from_index(2), Quality::High);
  EXPECT_EQ(quality_from_index(3), std::nullopt);
  EXPECT_EQ(value_name(Quality::Medium), "Medium");
  EXPECT_EQ(wire_name(Quality::Medium), "medium");
}

TEST(CursorKindNames, StringsFollowTheValueNames) {
  const std::pair<std::string_view, std::string_view> rows[] = {
      {"Default", "default"},
      {"Pointer", "pointer"},
      {"Text", "text"},
      {"Wait", "wait"},
      {"Crosshair", "crosshair"},
      {"Move", "move"},
      {"NotAllowed", "not_allowed"},
      {"Help", "help"},
      {"ResizeNS", "resize_n_s"},
      {"ResizeEW", "resize_e_w"},
      {"ResizeNESW", "resize_n_e_s_w"},
      {"ResizeNWSE", "resize_n_w_s_e"},
      {"Progress", "progress"},
      {"Hidden", "hidden"},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    auto kind = static_cast<CursorKind>(i);
    EXPECT_EQ(value_name(kind), rows[i].first);
    EXPECT_EQ(debug_form(kind), rows[i].first);
    EXPECT_EQ(wire_name(kind), rows[i].second);
  }
}

TEST(VariantNames, FollowDeclaredOrder) {
  EXPECT_EQ(variant_name(InputEvent{}), "Unknown");
  EXPECT_EQ(variant_name(InputEvent{InputEvent::ClipboardImage{}}), "ClipboardImage");
  EXPECT_EQ(variant_name(HostControlCmd{HostControlCmd::OpenSystemPanel{}}), "OpenSystemPanel");
  EXPECT_EQ(variant_name(FileOp{FileOp::CreateClipboardPasteDir{}}), "CreateClipboardPasteDir");
  EXPECT_EQ(variant_name(FileOpResult{FileOpResult::Copied{}}), "Copied");
  EXPECT_EQ(value_name(EntryKind::Symlink), "Symlink");
  EXPECT_EQ(value_name(FileErrorCode::NotADirectory), "NotADirectory");
}

}  // namespace
}  // namespace tarnvale_proto
