#include "host-ipc/messages_agent_bound.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnvale_host_ipc {
namespace {

namespace proto = tarnvale_proto;
using B = AgentBound;

std::string description(const tarnvale_base::Error& error) {
  const std::string& m = error.message();
  return m.substr(0, m.find(" at line "));
}

struct DecodeCase {
  std::string body;
  AgentBound expected;
};

TEST(AgentBoundTest, DecodesEveryKind) {
  const proto::FileOpRequest list_request{
      9, proto::FileOp::ListDirRecursive{"/Users/Shared", false, 500, std::nullopt}};
  const std::vector<DecodeCase> cases = {
      {R"({"kind":"heartbeat_ping"})", B::HeartbeatPing{}},
      {R"({"kind":"inject_input","event":{"kind":"MouseMove","x":0.5,"y":0.5}})",
       B::InjectInput{proto::InputEvent::MouseMove{0.5f, 0.5f}}},
      {R"({"kind":"inject_input","event":{"kind":"Teleport","x":1}})",
       B::InjectInput{proto::InputEvent::Unknown{}}},
      {R"({"kind":"force_keyframe"})", B::ForceKeyframe{}},
      {R"({"kind":"set_quality","quality":"high"})", B::SetQuality{proto::Quality::High}},
      {R"({"kind":"set_monitor","id":"2"})", B::SetMonitor{"2"}},
      {R"({"kind":"lock_workstation"})", B::LockWorkstation{}},
      {R"({"kind":"set_input_disabled","disabled":true})", B::SetInputDisabled{true}},
      {R"({"kind":"set_blackout","enabled":true})", B::SetBlackout{true}},
      {R"({"kind":"set_wallpaper_removed","removed":true})", B::SetWallpaperRemoved{true}},
      {R"({"kind":"set_show_host_cursor","shown":false})", B::SetShowHostCursor{false}},
      {R"({"kind":"set_file_transfer_unrestricted","unrestricted":true})",
       B::SetFileTransferUnrestricted{true}},
      {R"({"kind":"set_paused","paused":false})", B::SetPaused{false}},
      {R"({"kind":"set_display_resolution","width":1920,"height":1080})",
       B::SetDisplayResolution{1920, 1080}},
      {R"({"kind":"set_capture_scale","width":1280,"height":720})", B::SetCaptureScale{1280, 720}},
      {R"({"kind":"file_op","req":{"request_id":9,"op":{"kind":"ListDirRecursive","path":"/Users/Shared","show_hidden":false,"max_entries":500,"max_depth":null}}})",
       B::FileOp{list_request}},
      {R"({"kind":"file_transfer_chunk","transfer_id":7,"offset":0,"bytes":"AAEC"})",
       B::FileTransferChunk{7, 0, {0, 1, 2}}},
      {R"({"kind":"file_transfer_download_credit","transfer_id":3,"bytes":65536})",
       B::FileTransferDownloadCredit{3, 65536}},
      {R"({"kind":"set_blackout_lists","window_classes":"a","title_patterns":"b"})",
       B::SetBlackoutLists{"a", "b"}},
      {R"({"kind":"open_system_panel","panel":"task_manager"})",
       B::OpenSystemPanel{proto::SystemPanel::TaskManager}},
      {R"({"kind":"open_system_panel","panel":"control_panel"})",
       B::OpenSystemPanel{proto::SystemPanel::Unknown}},
      {R"({"kind":"set_clipboard_files","paths":["/a","/b c"]})",
       B::SetClipboardFiles{{"/a", "/b c"}}},
      {R"({"kind":"set_clipboard_files","paths":[]})", B::SetClipboardFiles{}},
      {R"({"kind":"set_audio_capture","enabled":true})", B::SetAudioCapture{true}},
      {R"({"kind":"shutdown"})", B::Shutdown{}},
  };
  for (const auto& c : cases) {
    auto got = AgentBound::decode_json(c.body);
    ASSERT_TRUE(got) << c.body << ": " << got.error().what();
    EXPECT_EQ(*got, c.expected) << c.body;
  }
}

TEST(AgentBoundTest, FollowsTheReadingRules) {
  const std::vector<DecodeCase> cases = {
      {R"({"paused":false,"kind":"set_paused"})", B::SetPaused{false}},
      {R"({"kind":"set_paused","paused":false,"note":"x"})", B::SetPaused{false}},
      {R"({"kind":"heartbeat_ping","paused":true})", B::HeartbeatPing{}},
      {R"({"kind":"shutdown","now":{"deep":[1,2,{"x":null}]}})", B::Shutdown{}},
      {R"({"kind":"set_blackout_lists"})", B::SetBlackoutLists{}},
      {R"({"kind":"set_blackout_lists","title_patterns":null})", B::SetBlackoutLists{}},
      {R"({"kind":"file_transfer_chunk","transfer_id":3,"offset":0,"bytes":"Zm9v\n"})",
       B::FileTransferChunk{3, 0, {'f', 'o', 'o'}}},
      {R"({"kind":"file_transfer_chunk","transfer_id":18446744073709551615,"offset":18446744073709551615,"bytes":""})",
       B::FileTransferChunk{UINT64_MAX, UINT64_MAX, {}}},
      {R"({"kind":"set_capture_scale","width":0,"height":0})", B::SetCaptureScale{0, 0}},
      {R"(["set_capture_scale",1280,720])", B::SetCaptureScale{1280, 720}},
      {R"(["set_paused",true])", B::SetPaused{true}},
      {R"(["heartbeat_ping"])", B::HeartbeatPing{}},
      {R"(["set_blackout_lists"])", B::SetBlackoutLists{}},
      {R"(["set_blackout_lists","a"])", B::SetBlackoutLists{"a", std::nullopt}},
      {R"(["inject_input",["MouseMove",0.25,1]])",
       B::InjectInput{proto::InputEvent::MouseMove{0.25f, 1.0f}}},
      {"\n\t {\"kind\":\"force_keyframe\"} \r\n", B::ForceKeyframe{}},
  };
  for (const auto& c : cases) {
    auto got = AgentBound::decode_json(c.body);
    ASSERT_TRUE(got) << c.body << ": " << got.error().what();
    EXPECT_EQ(*got, c.expected) << c.body;
  }
}

TEST(AgentBoundTest, RejectsWithExactDescriptions) {
  const std::string all_kinds =
      "`heartbeat_ping`, `inject_input`, `force_keyframe`, `set_quality`, `set_monitor`, "
      "`lock_workstation`, `set_input_disabled`, `set_blackout`, `set_wallpaper_removed`, "
      "`set_show_host_cursor`, `set_file_transfer_unrestricted`, `set_paused`, "
      "`set_display_resolution`, `set_capture_scale`, `file_op`, `file_transfer_chunk`, "
      "`file_transfer_download_credit`, `set_blackout_lists`, `open_system_panel`, "
      "`set_clipboard_files`, `set_audio_capture`, `shutdown`";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"({"paused":true})", "missing field `kind`"},
      {R"({"kind":"set_paused"})", "missing field `paused`"},
      {R"({"kind":"reconnect"})", "unknown variant `reconnect`, expected one of " + all_kinds},
      {R"({"kind":"Set_Paused","paused":true})",
       "unknown variant `Set_Paused`, expected one of " + all_kinds},
      {R"({"kind":"set_paused","paused":1})", "invalid type: integer `1`, expected a boolean"},
      {R"({"kind":"set_paused","paused":true,"paused":false})", "duplicate field `paused`"},
      {R"({"kind":"set_paused","kind":"set_paused","paused":true})", "duplicate field `kind`"},
      {R"({"kind":"file_transfer_chunk","transfer_id":1,"offset":0,"bytes":"Z"})",
       "base64: truncated input"},
      {R"({"kind":"file_transfer_chunk","transfer_id":1,"offset":0,"bytes":"Zm-9"})",
       "base64: invalid byte 0x2d"},
      {R"({"kind":"file_transfer_chunk","transfer_id":1,"offset":0,"bytes":[0,1]})",
       "invalid type: sequence, expected a string"},
      {R"({"kind":"file_transfer_chunk","transfer_id":-1,"offset":0,"bytes":""})",
       "invalid value: integer `-1`, expected u64"},
      {R"({"kind":"file_transfer_chunk","transfer_id":1,"bytes":""})", "missing field `offset`"},
      {R"({"kind":"set_display_resolution","width":1920,"height":1080.5})",
       "invalid type: floating point `1080.5`, expected u32"},
      {R"({"kind":"set_display_resolution","width":1920})", "missing field `height`"},
      {R"({"kind":"set_capture_scale","width":-1,"height":0})",
       "invalid value: integer `-1`, expected u32"},
      {R"({"kind":"set_capture_scale","width":4294967296,"height":0})",
       "invalid value: integer `4294967296`, expected u32"},
      {R"({"kind":"set_blackout_lists","window_classes":5})",
       "invalid type: integer `5`, expected a string"},
      {R"({"kind":"file_transfer_download_credit","transfer_id":3,"bytes":"AAEC"})",
       "invalid type: string \"AAEC\", expected u64"},
      {R"({"kind":"set_monitor","id":2})", "invalid type: integer `2`, expected a string"},
      {R"({"kind":"set_monitor","id":null})", "invalid type: null, expected a string"},
      {R"({"kind":"set_clipboard_files","paths":["a",1]})",
       "invalid type: integer `1`, expected a string"},
      {R"({"kind":"set_quality","quality":"ultra"})",
       "unknown variant `ultra`, expected one of `low`, `medium`, `high`"},
      {R"({"kind":"inject_input","event":{"kind":"MouseMove","x":1}})", "missing field `y`"},
      {R"({"kind":"inject_input"})", "missing field `event`"},
      {R"({"kind":"file_op","req":{"request_id":1,"op":{"kind":"Rename"}}})",
       "unknown variant `Rename`, expected one of `ListDir`, `GetHomeDir`, `MakeDir`, "
       "`StartUpload`, `FinalizeUpload`, `StartDownload`, `CancelTransfer`, "
       "`CreateClipboardPasteDir`, `ListDirRecursive`, `Delete`, `Copy`"},
      {R"("heartbeat_ping")",
       "invalid type: string \"heartbeat_ping\", expected internally tagged enum AgentBound"},
      {R"(null)", "invalid type: null, expected internally tagged enum AgentBound"},
      {R"(["set_paused"])",
       "invalid length 0, expected struct variant AgentBound::SetPaused with 1 element"},
      {R"(["set_capture_scale",1280])",
       "invalid length 1, expected struct variant AgentBound::SetCaptureScale with 2 elements"},
      {R"(["set_capture_scale",1280,720,1])", "invalid length 3, expected 2 elements in sequence"},
  };
  for (const auto& [body, expected] : cases) {
    auto got = AgentBound::decode_json(body);
    ASSERT_FALSE(got) << body;
    EXPECT_EQ(description(got.error()), expected) << body;
  }
  // Malformed JSON keeps the parser's own words and gets a position.
  auto trailing = AgentBound::decode_json(R"({"kind":"set_paused","paused":true}x)");
  ASSERT_FALSE(trailing);
  EXPECT_TRUE(trailing.error().message().ends_with("expected end of input at line 1 column 36"))
      << trailing.error().message();
}

TEST(AgentBoundTest, DebugFormsForTheLog) {
  const std::vector<std::pair<AgentBound, std::string>> cases = {
      {B::HeartbeatPing{}, "HeartbeatPing"},
      {B::Shutdown{}, "Shutdown"},
      {B::SetPaused{true}, "SetPaused { paused: true }"},
      {B::SetMonitor{"2"}, R"(SetMonitor { id: "2" })"},
      {B::SetQuality{proto::Quality::Medium}, "SetQuality { quality: Medium }"},
      {B::SetCaptureScale{1280, 720}, "SetCaptureScale { width: 1280, height: 720 }"},
      {B::InjectInput{proto::InputEvent::MouseMove{0.5f, 0.25f}},
       "InjectInput { event: MouseMove { x: 0.5, y: 0.25 } }"},
      {B::FileTransferChunk{7, 0, {0, 1, 2}},
       "FileTransferChunk { transfer_id: 7, offset: 0, bytes: [0, 1, 2] }"},
      {B::FileTransferDownloadCredit{3, 65536},
       "FileTransferDownloadCredit { transfer_id: 3, bytes: 65536 }"},
      {B::SetBlackoutLists{std::nullopt, "a\"b"},
       R"(SetBlackoutLists { window_classes: None, title_patterns: Some("a\"b") })"},
      {B::OpenSystemPanel{proto::SystemPanel::TaskManager},
       "OpenSystemPanel { panel: TaskManager }"},
      {B::SetClipboardFiles{{"/a", "/b"}}, R"(SetClipboardFiles { paths: ["/a", "/b"] })"},
      {B::SetFileTransferUnrestricted{false},
       "SetFileTransferUnrestricted { unrestricted: false }"},
      {B::FileOp{proto::FileOpRequest{9, proto::FileOp::GetHomeDir{}}},
       "FileOp { req: FileOpRequest { request_id: 9, op: GetHomeDir } }"},
  };
  for (const auto& [msg, expected] : cases) EXPECT_EQ(msg.debug_form(), expected);
}

TEST(AgentBoundTest, TagAndVariantName) {
  const AgentBound msg = B::SetFileTransferUnrestricted{true};
  EXPECT_EQ(msg.tag(), "set_file_transfer_unrestricted");
  EXPECT_EQ(msg.variant_name(), "SetFileTransferUnrestricted");
  EXPECT_EQ(AgentBound(B::Shutdown{}).tag(), "shutdown");
}

}  // namespace
}  // namespace tarnvale_host_ipc
