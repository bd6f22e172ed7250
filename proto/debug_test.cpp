#include "proto/debug.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "proto/file_op.h"
#include "proto/host_control.h"
#include "proto/input.h"

namespace tarnvale_proto {
namespace {

TEST(DebugBuildingBlocks, TextsAreQuotedAndEscaped) {
  EXPECT_EQ(debug_text("busy"), "\"busy\"");
  EXPECT_EQ(debug_text("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(debug_text("l1\nl2\r\t"), "\"l1\\nl2\\r\\t\"");
  EXPECT_EQ(debug_text(std::string_view("\0\x1b\x7f", 3)), "\"\\0\\u{1b}\\u{7f}\"");
  EXPECT_EQ(debug_text("é"), "\"é\"");
}

TEST(DebugBuildingBlocks, FloatsReadBackAndShowWholeNumbersWithPoint) {
  EXPECT_EQ(debug_float(0.5f), "0.5");
  EXPECT_EQ(debug_float(0.1f), "0.1");
  EXPECT_EQ(debug_float(2.0f), "2.0");
  EXPECT_EQ(debug_float(-1.0f), "-1.0");
  EXPECT_EQ(debug_float(0.0f), "0.0");
  EXPECT_EQ(debug_float(std::numeric_limits<float>::quiet_NaN()), "NaN");
  EXPECT_EQ(debug_float(std::numeric_limits<float>::infinity()), "inf");
  EXPECT_EQ(debug_float(-std::numeric_limits<float>::infinity()), "-inf");
}

TEST(DebugBuildingBlocks, LongByteStringsAreCut) {
  EXPECT_EQ(debug_bytes(std::vector<std::uint8_t>{}), "[]");
  EXPECT_EQ(debug_bytes(std::vector<std::uint8_t>{137, 80, 78, 71}), "[137, 80, 78, 71]");
  std::vector<std::uint8_t> big(4096, 7);
  std::string form = debug_bytes(big);
  EXPECT_TRUE(form.starts_with("[7, 7, "));
  EXPECT_TRUE(form.ends_with(", 7, ..] (4096 bytes)")) << form;
  EXPECT_LT(form.size(), 200u);
}

TEST(DebugBuildingBlocks, RecordsAndOptionals) {
  EXPECT_EQ(DebugRecord("Ok").str(), "Ok");
  EXPECT_EQ(DebugRecord("VersionMismatch").field("service_version", debug_uint(4)).str(),
            "VersionMismatch { service_version: 4 }");
  EXPECT_EQ(DebugRecord("Rejected").field("reason", debug_text("busy")).str(),
            "Rejected { reason: \"busy\" }");
  auto uint_form = [](std::uint32_t v) { return debug_uint(v); };
  EXPECT_EQ(debug_optional(std::optional<std::uint32_t>(500), uint_form), "Some(500)");
  EXPECT_EQ(debug_optional(std::optional<std::uint32_t>(), uint_form), "None");
}

struct FormCase {
  InputEvent event;
  std::string form;
};

TEST(DebugForms, InputEvents) {
  const FormCase cases[] = {
      {InputEvent::MouseMove{0.5f, 0.25f}, "MouseMove { x: 0.5, y: 0.25 }"},
      {InputEvent::MouseButton{MouseButton::Left, true, 2.0f, -1.0f},
       "MouseButton { button: Left, pressed: true, x: 2.0, y: -1.0 }"},
      {InputEvent::MouseScroll{0, -3, 0.5f, 0.5f},
       "MouseScroll { dx: 0.0, dy: -3.0, x: 0.5, y: 0.5 }"},
      {InputEvent::Key{Key::KeyC, true, KeyModifiers{false, false, false, true}, false},
       "Key { key: KeyC, pressed: true, mods: KeyModifiers { shift: false, ctrl: false, alt: "
       "false, meta: true }, repeat: false }"},
      {InputEvent::TypeChar{"é"}, "TypeChar { text: \"é\" }"},
      {InputEvent::ClipboardText{"a\"b\n"}, "ClipboardText { text: \"a\\\"b\\n\" }"},
      {InputEvent::SwapMarker{}, "SwapMarker"},
      {InputEvent::HostControl{HostControlCmd::SetPaused{false}},
       "HostControl { cmd: SetPaused { paused: false } }"},
      {InputEvent::HostControl{HostControlCmd::Reboot{}}, "HostControl { cmd: Reboot }"},
      {InputEvent::FileOp{FileOpRequest{9, FileOp::ListDir{"/", true}}},
       "FileOp { req: FileOpRequest { request_id: 9, op: ListDir { path: \"/\", show_hidden: true "
       "} } }"},
      {InputEvent::SetClipboardFiles{{"/a", "/b"}},
       "SetClipboardFiles { paths: [\"/a\", \"/b\"] }"},
      {InputEvent::ClipboardImage{{137, 80}}, "ClipboardImage { png: [137, 80] }"},
      {InputEvent::Unknown{}, "Unknown"},
  };
  for (const auto& c : cases) EXPECT_EQ(debug_form(c.event), c.form);
}

TEST(DebugForms, HostControlCommands) {
  const std::pair<HostControlCmd, std::string_view> cases[] = {
      {HostControlCmd::SendCtrlAltDel{}, "SendCtrlAltDel"},
      {HostControlCmd::SetQuality{Quality::High}, "SetQuality { quality: High }"},
      {HostControlCmd::SetCaptureScale{1280, 720}, "SetCaptureScale { width: 1280, height: 720 }"},
      {HostControlCmd::SetMonitor{"2"}, "SetMonitor { id: \"2\" }"},
      {HostControlCmd::OpenSystemPanel{SystemPanel::TaskManager},
       "OpenSystemPanel { panel: TaskManager }"},
      {HostControlCmd::SetInputDisabled{true}, "SetInputDisabled { disabled: true }"},
      {HostControlCmd::Unknown{}, "Unknown"},
  };
  for (const auto& [cmd, form] : cases) EXPECT_EQ(debug_form(cmd), form);
  EXPECT_EQ(debug_form(SystemPanel::WifiSettings), "WifiSettings");
  EXPECT_EQ(debug_form(Quality::Low), "Low");
}

TEST(DebugForms, FileOperationsAndResults) {
  EXPECT_EQ(debug_form(FileOpRequest{
                9, FileOp::ListDirRecursive{"/Users/Shared", false, 500, std::nullopt}}),
            "FileOpRequest { request_id: 9, op: ListDirRecursive { path: \"/Users/Shared\", "
            "show_hidden: false, max_entries: Some(500), max_depth: None } }");
  EXPECT_EQ(debug_form(FileOp{FileOp::StartUpload{5, "/tmp/b", 10, -1, std::nullopt}}),
            "StartUpload { transfer_id: 5, dest_path: \"/tmp/b\", total_size: 10, "
            "mtime_unix_seconds: -1, resume_from_offset: None }");
  EXPECT_EQ(debug_form(FileOp{FileOp::Copy{{"/a"}, "/d"}}),
            "Copy { src_paths: [\"/a\"], dest_dir: \"/d\" }");
  EXPECT_EQ(debug_form(FileOp{FileOp::GetHomeDir{}}), "GetHomeDir");
  EXPECT_EQ(debug_form(FileOpResponse{
                9, FileOpResult::Error{FileErrorCode::PermissionDenied, "access denied"}}),
            "FileOpResponse { request_id: 9, result: Error { code: PermissionDenied, message: "
            "\"access denied\" } }");
  EXPECT_EQ(debug_form(FileOpResult{FileOpResult::ListDir{
                "/", {DirEntry{"notes.txt", EntryKind::File, 120, 1700000000, false, false}}}}),
            "ListDir { path: \"/\", entries: [DirEntry { name: \"notes.txt\", kind: File, size: "
            "120, modified_unix_seconds: 1700000000, is_hidden: false, is_readonly: false }] }");
}

}  // namespace
}  // namespace tarnvale_proto
