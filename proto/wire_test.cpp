#include "proto/wire.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "base/json_wire.h"

namespace tarnvale_proto {
namespace {

namespace jw = tarnvale_base::json_wire;

// Parses `body` and decodes it with `decode`, so that errors are the description alone.
template <class T>
Result<T> decode(std::string_view body, Result<T> (*decode)(const jw::Json&)) {
  auto doc = jw::parse(body);
  if (!doc) return std::unexpected(doc.error());
  return decode(*doc);
}

template <class T>
std::string encode(const T& value) {
  std::string out;
  encode_json(out, value);
  return out;
}

KeyModifiers meta_only() {
  return KeyModifiers{false, false, false, true};
}

// ---------------------------------------------------------------------------------------------
// InputEvent

struct EventCase {
  std::string_view body;
  InputEvent expected;
};

TEST(DecodeInputEvent, AcceptsEveryVariantAndTheWireLatitude) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const EventCase cases[] = {
      {R"({"kind":"MouseMove","x":0.5,"y":0.25})", InputEvent::MouseMove{0.5f, 0.25f}},
      {R"({"y":0.25,"x":0.5,"kind":"MouseMove"})", InputEvent::MouseMove{0.5f, 0.25f}},
      {R"({"kind":"MouseMove","x":2,"y":-1})", InputEvent::MouseMove{2.0f, -1.0f}},
      {R"({"kind":"MouseMove","x":0.1,"y":1e40})", InputEvent::MouseMove{0.1f, kInf}},
      {R"({"kind":"MouseMove","x":18446744073709551615,"y":-9223372036854775808})",
       InputEvent::MouseMove{1.8446744e19f, -9.223372e18f}},
      {R"({"kind":"MouseButton","button":"left","pressed":true,"x":0.5,"y":0.25})",
       InputEvent::MouseButton{MouseButton::Left, true, 0.5f, 0.25f}},
      {R"({"kind":"MouseButton","button":"Left","pressed":false,"x":0,"y":0})",
       InputEvent::MouseButton{MouseButton::Unknown, false, 0, 0}},
      {R"({"kind":"MouseButton","button":"forward","pressed":false,"x":0,"y":0})",
       InputEvent::MouseButton{MouseButton::Forward, false, 0, 0}},
      {R"({"kind":"MouseScroll","dx":0,"dy":-3,"x":0.5,"y":0.5})",
       InputEvent::MouseScroll{0, -3, 0.5f, 0.5f}},
      {R"({"kind":"Key","key":"KeyC","pressed":true,)"
       R"("mods":{"shift":false,"ctrl":false,"alt":false,"meta":true},"repeat":false})",
       InputEvent::Key{Key::KeyC, true, meta_only(), false}},
      {R"({"kind":"Key","key":"keya","pressed":true,)"
       R"("mods":{"shift":false,"ctrl":false,"alt":false,"meta":false},"repeat":false})",
       InputEvent::Key{Key::Unknown, true, KeyModifiers{}, false}},
      {R"({"kind":"Key","repeat":true,"key":"PrintScreen","pressed":false,)"
       R"("mods":{"meta":false,"alt":true,"ctrl":true,"shift":true,"hyper":1}})",
       InputEvent::Key{Key::PrintScreen, false, KeyModifiers{true, true, true, false}, true}},
      {R"({"kind":"ClipboardText","text":"a\"b\n","extra":[1,{"x":null}]})",
       InputEvent::ClipboardText{"a\"b\n"}},
      {R"({"kind":"TypeChar","text":"é"})", InputEvent::TypeChar{"é"}},
      {R"({"kind":"TypeChar","text":"\u00e9\ud83d\ude00"})", InputEvent::TypeChar{"é😀"}},
      {R"({"kind":"SwapMarker","extra":true})", InputEvent::SwapMarker{}},
      {R"({"kind":"HostControl","cmd":{"kind":"set_paused","paused":false}})",
       InputEvent::HostControl{HostControlCmd::SetPaused{false}}},
      {R"({"kind":"HostControl","cmd":{"kind":"hibernate"}})",
       InputEvent::HostControl{HostControlCmd::Unknown{}}},
      {R"({"kind":"FileOp","req":{"request_id":3,"op":{"kind":"GetHomeDir"}}})",
       InputEvent::FileOp{FileOpRequest{3, FileOp::GetHomeDir{}}}},
      {R"({"kind":"SetClipboardFiles","paths":["/a","/b c"]})",
       InputEvent::SetClipboardFiles{{"/a", "/b c"}}},
      {R"({"kind":"SetClipboardFiles","paths":[]})", InputEvent::SetClipboardFiles{}},
      {R"({"kind":"ClipboardImage","png":"iVBORw=="})",
       InputEvent::ClipboardImage{{0x89, 0x50, 0x4e, 0x47}}},
      {R"({"kind":"ClipboardImage","png":""})", InputEvent::ClipboardImage{}},
      // An unknown kind is a value, whatever else the object holds.
      {R"({"kind":"Teleport","x":1})", InputEvent::Unknown{}},
      {R"({"x":"not a number","kind":"mousemove"})", InputEvent::Unknown{}},
      {R"({"kind":"Unknown"})", InputEvent::Unknown{}},
      // The array form: tag first, then the fields in declared order.
      {R"(["MouseMove",0.5,0.25])", InputEvent::MouseMove{0.5f, 0.25f}},
      {R"(["Key","KeyA",true,[false,false,false,true],false])",
       InputEvent::Key{Key::KeyA, true, meta_only(), false}},
      {R"(["HostControl",["set_capture_scale",1280,720]])",
       InputEvent::HostControl{HostControlCmd::SetCaptureScale{1280, 720}}},
      {R"(["SwapMarker"])", InputEvent::SwapMarker{}},
      {R"(["Teleport",1,2])", InputEvent::Unknown{}},
  };
  for (const auto& c : cases) {
    auto r = decode(c.body, &decode_input_event);
    ASSERT_TRUE(r) << c.body << ": " << r.error().what();
    EXPECT_EQ(*r, c.expected) << c.body << " gave " << debug_form(*r);
  }
}

struct ErrorCase {
  std::string_view body;
  std::string_view error;
  bool prefix = false;  // `error` is only the start of the description
};

void expect_errors(std::span<const ErrorCase> cases, auto decoder) {
  for (const auto& c : cases) {
    auto r = decode(c.body, decoder);
    ASSERT_FALSE(r) << c.body;
    if (c.prefix) {
      EXPECT_TRUE(r.error().what().starts_with(c.error)) << c.body << ": " << r.error().what();
    } else {
      EXPECT_EQ(r.error().what(), c.error) << c.body;
    }
  }
}

TEST(DecodeInputEvent, RejectsFieldErrors) {
  const ErrorCase cases[] = {
      {R"({"kind":"MouseMove","x":1})", "missing field `y`"},
      {R"({"x":1,"y":2})", "missing field `kind`"},
      {R"({"kind":"MouseMove","x":"1","y":0})", "invalid type: string \"1\", expected f32"},
      {R"({"kind":"MouseMove","x":null,"y":0})", "invalid type: null, expected f32"},
      {R"({"kind":"MouseMove","x":true,"y":0})", "invalid type: boolean `true`, expected f32"},
      {R"({"kind":5,"x":1,"y":0})", "invalid type: integer `5`, expected variant identifier"},
      {R"({"kind":"MouseButton","button":1,"pressed":true,"x":0,"y":0})",
       "invalid type: integer `1`, expected a string"},
      {R"({"kind":"MouseButton","button":"left","pressed":1,"x":0,"y":0})",
       "invalid type: integer `1`, expected a boolean"},
      {R"({"kind":"Key","key":"KeyA","pressed":true,)"
       R"("mods":{"shift":false,"ctrl":false,"alt":false,"meta":false}})",
       "missing field `repeat`"},
      {R"({"kind":"Key","key":"KeyA","pressed":true,)"
       R"("mods":{"shift":false,"ctrl":false,"alt":false},"repeat":false})",
       "missing field `meta`"},
      {R"({"kind":"Key","key":null,"pressed":true,)"
       R"("mods":{"shift":false,"ctrl":false,"alt":false,"meta":false},"repeat":false})",
       "invalid type: null, expected a string"},
      {R"({"kind":"Key","key":"KeyA","pressed":true,"mods":[false,false],"repeat":false})",
       "invalid length 2, expected struct KeyModifiers with 4 elements"},
      {R"({"kind":"Key","key":"KeyA","pressed":true,"mods":"none","repeat":false})",
       "invalid type: string \"none\", expected struct KeyModifiers"},
      {R"({"kind":"TypeChar"})", "missing field `text`"},
      {R"({"kind":"SetClipboardFiles","paths":["/a",1]})",
       "invalid type: integer `1`, expected a string"},
      {R"({"kind":"SetClipboardFiles","paths":"/a"})",
       "invalid type: string \"/a\", expected a sequence"},
      {R"({"kind":"ClipboardImage","png":"Zm8"})",
       "base64: invalid length 3, expected a multiple of 4"},
      {R"({"kind":"ClipboardImage","png":"Zh=="})", "base64: non-zero trailing bits at offset 1"},
      {R"({"kind":"ClipboardImage","png":"Zm9v\n"})",
       "base64: invalid length 5, expected a multiple of 4"},
      {R"({"kind":"ClipboardImage","png":[137,80]})",
       "invalid type: sequence, expected a base64 string"},
      {R"({"kind":"HostControl","cmd":{"kind":"set_quality","quality":"ultra"}})",
       "unknown variant `ultra`, expected one of `low`, `medium`, `high`"},
      {R"({"kind":"HostControl","cmd":{"paused":true}})", "missing field `kind`"},
      {R"({"kind":"FileOp","req":{"request_id":1,"op":{"kind":"Rename"}}})",
       "unknown variant `Rename`", true},
      {R"(["MouseMove",0.5])",
       "invalid length 1, expected struct variant InputEvent::MouseMove with 2 elements"},
      {R"(["Key","KeyA"])",
       "invalid length 1, expected struct variant InputEvent::Key with 4 elements"},
      {R"("MouseMove")",
       "invalid type: string \"MouseMove\", expected internally tagged enum InputEvent"},
      {R"(42)", "invalid type: integer `42`, expected internally tagged enum InputEvent"},
  };
  expect_errors(cases, &decode_input_event);
}

TEST(DecodeInputEvent, WholeDocumentsCarryTheirPosition) {
  auto ok = decode_input_event_json(R"( {"kind":"MouseMove","x":0.5,"y":0.5} )");
  ASSERT_TRUE(ok) << ok.error().what();
  EXPECT_EQ(*ok, (InputEvent{InputEvent::MouseMove{0.5f, 0.5f}}));

  auto missing = decode_input_event_json(R"({"kind":"MouseMove","x":1})");
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.error().what().starts_with("missing field `y` at line 1 column "))
      << missing.error().what();

  auto twice = decode_input_event_json(R"({"kind":"MouseMove","x":1,"x":2,"y":0})");
  ASSERT_FALSE(twice);
  EXPECT_TRUE(twice.error().what().starts_with("duplicate field `x`")) << twice.error().what();

  auto kind_twice = decode_input_event_json(R"({"kind":"SwapMarker","kind":"SwapMarker"})");
  ASSERT_FALSE(kind_twice);
  EXPECT_TRUE(kind_twice.error().what().starts_with("duplicate field `kind`"));

  auto broken = decode_input_event_json(R"({"kind":"MouseMove","x":1,)");
  EXPECT_FALSE(broken);
}

TEST(DecodeKey, EveryNameAndTheCatchAll) {
  for (std::size_t i = 0; i < kKeyCount; ++i) {
    auto key = static_cast<Key>(i);
    std::string body = "\"" + std::string(value_name(key)) + "\"";
    auto r = decode(body, &decode_key);
    ASSERT_TRUE(r) << body;
    EXPECT_EQ(*r, key) << body;
  }
  for (std::string_view body : {R"("keya")", R"("F13")", R"("")", R"("KeyA\u0000")"}) {
    auto r = decode(body, &decode_key);
    ASSERT_TRUE(r) << body;
    EXPECT_EQ(*r, Key::Unknown) << body;
  }
  EXPECT_FALSE(decode("65", &decode_key));
}

// ---------------------------------------------------------------------------------------------
// HostControlCmd, SystemPanel, Quality

struct CmdCase {
  std::string_view body;
  HostControlCmd expected;
};

TEST(DecodeHostControlCmd, EveryVariantAndTheCatchAll) {
  using C = HostControlCmd;
  const CmdCase cases[] = {
      {R"({"kind":"send_ctrl_alt_del"})", C::SendCtrlAltDel{}},
      {R"({"kind":"force_keyframe","extra":1})", C::ForceKeyframe{}},
      {R"({"kind":"lock_workstation"})", C::LockWorkstation{}},
      {R"({"kind":"reboot"})", C::Reboot{}},
      {R"({"kind":"set_input_disabled","disabled":true})", C::SetInputDisabled{true}},
      {R"({"kind":"set_blackout","enabled":false})", C::SetBlackout{false}},
      {R"({"kind":"set_wallpaper_removed","removed":true})", C::SetWallpaperRemoved{true}},
      {R"({"kind":"set_show_host_cursor","shown":true})", C::SetShowHostCursor{true}},
      {R"({"kind":"set_quality","quality":"medium"})", C::SetQuality{Quality::Medium}},
      {R"({"kind":"set_quality","quality":"low"})", C::SetQuality{Quality::Low}},
      {R"({"kind":"set_paused","paused":false})", C::SetPaused{false}},
      {R"({"kind":"set_display_resolution","width":1920,"height":1080})",
       C::SetDisplayResolution{1920, 1080}},
      {R"({"kind":"set_capture_scale","width":4294967295,"height":0})",
       C::SetCaptureScale{4294967295u, 0}},
      {R"({"kind":"set_monitor","id":"2"})", C::SetMonitor{"2"}},
      {R"({"kind":"logoff_active_session"})", C::LogoffActiveSession{}},
      {R"({"kind":"shutdown"})", C::Shutdown{}},
      {R"({"kind":"open_system_panel","panel":"task_manager"})",
       C::OpenSystemPanel{SystemPanel::TaskManager}},
      {R"({"kind":"open_system_panel","panel":"control_panel"})",
       C::OpenSystemPanel{SystemPanel::Unknown}},
      {R"({"kind":"open_system_panel","panel":"Task_Manager"})",
       C::OpenSystemPanel{SystemPanel::Unknown}},
      {R"({"kind":"hibernate"})", C::Unknown{}},
      {R"({"kind":"hibernate","paused":"x","width":-1})", C::Unknown{}},
      {R"({"kind":"Set_Paused","paused":true})", C::Unknown{}},
      {R"(["set_capture_scale",1280,720])", C::SetCaptureScale{1280, 720}},
      {R"(["reboot"])", C::Reboot{}},
  };
  for (const auto& c : cases) {
    auto r = decode(c.body, &decode_host_control_cmd);
    ASSERT_TRUE(r) << c.body << ": " << r.error().what();
    EXPECT_EQ(*r, c.expected) << c.body << " gave " << debug_form(*r);
  }
}

TEST(DecodeHostControlCmd, RejectsFieldErrors) {
  const ErrorCase cases[] = {
      {R"({"kind":"set_quality","quality":"ultra"})",
       "unknown variant `ultra`, expected one of `low`, `medium`, `high`"},
      {R"({"kind":"set_quality","quality":"High"})",
       "unknown variant `High`, expected one of `low`, `medium`, `high`"},
      {R"({"kind":"set_quality","quality":2})", "invalid type: integer `2`, expected a string"},
      {R"({"kind":"set_quality"})", "missing field `quality`"},
      {R"({"kind":"set_display_resolution","width":1920})", "missing field `height`"},
      {R"({"kind":"set_display_resolution","height":1080})", "missing field `width`"},
      {R"({"kind":"set_display_resolution","width":1920,"height":1080.5})",
       "invalid type: floating point `1080.5`, expected u32"},
      {R"({"kind":"set_capture_scale","width":-1,"height":0})",
       "invalid value: integer `-1`, expected u32"},
      {R"({"kind":"set_capture_scale","width":4294967296,"height":0})",
       "invalid value: integer `4294967296`, expected u32"},
      {R"({"kind":"set_monitor","id":2})", "invalid type: integer `2`, expected a string"},
      {R"({"kind":"set_paused","paused":"false"})",
       "invalid type: string \"false\", expected a boolean"},
      {R"({"kind":"set_paused","paused":null})", "invalid type: null, expected a boolean"},
      {R"({"kind":"open_system_panel","panel":7})", "invalid type: integer `7`, expected a string"},
      {R"({"kind":"open_system_panel"})", "missing field `panel`"},
      {R"(["set_capture_scale",1280])",
       "invalid length 1, expected struct variant HostControlCmd::SetCaptureScale with 2 "
       "elements"},
      {R"(["set_paused"])",
       "invalid length 0, expected struct variant HostControlCmd::SetPaused with 1 element"},
  };
  expect_errors(cases, &decode_host_control_cmd);
}

TEST(DecodePanelAndQuality, ByExactName) {
  for (std::size_t i = 0; i < static_cast<std::size_t>(SystemPanel::Unknown); ++i) {
    auto panel = static_cast<SystemPanel>(i);
    auto r = decode("\"" + std::string(wire_name(panel)) + "\"", &decode_system_panel);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, panel);
  }
  EXPECT_EQ(decode(R"("unknown")", &decode_system_panel), SystemPanel::Unknown);
  EXPECT_FALSE(decode("null", &decode_system_panel));

  EXPECT_EQ(decode(R"("low")", &decode_quality), Quality::Low);
  EXPECT_EQ(decode(R"("medium")", &decode_quality), Quality::Medium);
  EXPECT_EQ(decode(R"("high")", &decode_quality), Quality::High);
  EXPECT_FALSE(decode(R"("")", &decode_quality));
  EXPECT_FALSE(decode("1", &decode_quality));
}

// ---------------------------------------------------------------------------------------------
// FileOpRequest, FileOp

struct OpCase {
  std::string_view body;
  FileOp expected;
};

TEST(DecodeFileOp, EveryVariantWithItsOptionalFields) {
  using O = FileOp;
  const OpCase cases[] = {
      {R"({"kind":"ListDir","path":"/","show_hidden":true})", O::ListDir{"/", true}},
      {R"({"kind":"GetHomeDir","path":"/ignored"})", O::GetHomeDir{}},
      {R"({"kind":"MakeDir","path":"/tmp/new"})", O::MakeDir{"/tmp/new"}},
      {R"({"kind":"StartUpload","transfer_id":5,"dest_path":"/tmp/b","total_size":10,)"
       R"("mtime_unix_seconds":-1})",
       O::StartUpload{5, "/tmp/b", 10, -1, std::nullopt}},
      {R"({"kind":"StartUpload","transfer_id":18446744073709551615,"dest_path":"/tmp/b",)"
       R"("total_size":0,"mtime_unix_seconds":-9223372036854775808,"resume_from_offset":4})",
       O::StartUpload{18446744073709551615u, "/tmp/b", 0, std::numeric_limits<std::int64_t>::min(),
                      4}},
      {R"({"kind":"FinalizeUpload","transfer_id":5})", O::FinalizeUpload{5}},
      {R"({"kind":"StartDownload","transfer_id":5,"src_path":"/tmp/a"})",
       O::StartDownload{5, "/tmp/a", std::nullopt}},
      {R"({"kind":"StartDownload","transfer_id":5,"src_path":"/tmp/a","resume_from_offset":null})",
       O::StartDownload{5, "/tmp/a", std::nullopt}},
      {R"({"kind":"StartDownload","transfer_id":5,"src_path":"/tmp/a","resume_from_offset":7})",
       O::StartDownload{5, "/tmp/a", 7}},
      {R"({"kind":"CancelTransfer","transfer_id":0})", O::CancelTransfer{0}},
      {R"({"kind":"CreateClipboardPasteDir"})", O::CreateClipboardPasteDir{}},
      {R"({"kind":"ListDirRecursive","path":"/Users/Shared","show_hidden":false,)"
       R"("max_entries":500,"max_depth":null})",
       O::ListDirRecursive{"/Users/Shared", false, 500, std::nullopt}},
      {R"({"kind":"ListDirRecursive","path":"/","show_hidden":true,"max_depth":4294967295})",
       O::ListDirRecursive{"/", true, std::nullopt, 4294967295u}},
      {R"({"kind":"Delete","paths":["/a","/b"]})", O::Delete{{"/a", "/b"}}},
      {R"({"kind":"Copy","src_paths":["/a"],"dest_dir":"/d"})", O::Copy{{"/a"}, "/d"}},
      // Array form: optional fields may be left off the end.
      {R"(["StartDownload",5,"/tmp/a"])", O::StartDownload{5, "/tmp/a", std::nullopt}},
      {R"(["ListDirRecursive","/",false,10])", O::ListDirRecursive{"/", false, 10, std::nullopt}},
  };
  for (const auto& c : cases) {
    auto r = decode(c.body, &decode_file_op);
    ASSERT_TRUE(r) << c.body << ": " << r.error().what();
    EXPECT_EQ(*r, c.expected) << c.body << " gave " << debug_form(*r);
  }
}

TEST(DecodeFileOp, RejectsUnknownKindsAndFieldErrors) {
  const ErrorCase cases[] = {
      {R"({"kind":"ListDir","path":"/"})", "missing field `show_hidden`"},
      {R"({"kind":"Rename","from":"a","to":"b"})",
       "unknown variant `Rename`, expected one of `ListDir`, `GetHomeDir`, `MakeDir`, "
       "`StartUpload`, `FinalizeUpload`, `StartDownload`, `CancelTransfer`, "
       "`CreateClipboardPasteDir`, `ListDirRecursive`, `Delete`, `Copy`"},
      {R"({"kind":"listdir","path":"/","show_hidden":true})", "unknown variant `listdir`", true},
      {R"({"kind":"StartUpload","transfer_id":5,"dest_path":"/tmp/b","total_size":-1,)"
       R"("mtime_unix_seconds":0})",
       "invalid value: integer `-1`, expected u64"},
      {R"({"kind":"StartUpload","transfer_id":5,"dest_path":"/tmp/b","total_size":1})",
       "missing field `mtime_unix_seconds`"},
      {R"({"kind":"StartUpload","transfer_id":5,"dest_path":"/tmp/b","total_size":1,)"
       R"("mtime_unix_seconds":9223372036854775808})",
       "invalid value: integer `9223372036854775808`, expected i64"},
      {R"({"kind":"ListDirRecursive","path":"/","show_hidden":true,"max_depth":4294967296})",
       "invalid value: integer `4294967296`, expected u32"},
      {R"({"kind":"ListDirRecursive","path":"/","show_hidden":true,"max_entries":"5"})",
       "invalid type: string \"5\", expected u32"},
      {R"({"kind":"StartDownload","transfer_id":5,"src_path":null})",
       "invalid type: null, expected a string"},
      {R"({"kind":"Delete"})", "missing field `paths`"},
      {R"({"kind":"Copy","src_paths":["/a"]})", "missing field `dest_dir`"},
      {R"({"path":"/"})", "missing field `kind`"},
      {R"(["ListDir","/"])",
       "invalid length 1, expected struct variant FileOp::ListDir with 2 elements"},
  };
  expect_errors(cases, &decode_file_op);
}

TEST(DecodeFileOpRequest, PlainRecordInBothForms) {
  auto obj = decode(R"({"op":{"kind":"MakeDir","path":"/x"},"note":1,"request_id":9})",
                    &decode_file_op_request);
  ASSERT_TRUE(obj) << obj.error().what();
  EXPECT_EQ(*obj, (FileOpRequest{9, FileOp::MakeDir{"/x"}}));

  auto arr = decode(R"([9,{"kind":"GetHomeDir"}])", &decode_file_op_request);
  ASSERT_TRUE(arr) << arr.error().what();
  EXPECT_EQ(*arr, (FileOpRequest{9, FileOp::GetHomeDir{}}));

  const ErrorCase cases[] = {
      {R"({"op":{"kind":"GetHomeDir"}})", "missing field `request_id`"},
      {R"({"request_id":9})", "missing field `op`"},
      {R"({"request_id":-9,"op":{"kind":"GetHomeDir"}})",
       "invalid value: integer `-9`, expected u64"},
      {R"({"request_id":9,"op":{"kind":"Move"}})", "unknown variant `Move`", true},
      {R"([9])", "invalid length 1, expected struct FileOpRequest with 2 elements"},
      {R"("x")", "invalid type: string \"x\", expected struct FileOpRequest"},
  };
  expect_errors(cases, &decode_file_op_request);
}

// ---------------------------------------------------------------------------------------------
// Encoding: file-operation results, monitors, cursor kinds

TEST(EncodeFileOpResults, EveryVariantInDeclaredFieldOrder) {
  using R = FileOpResult;
  const DirEntry notes{"notes.txt", EntryKind::File, 120, 1700000000, false, false};
  const TreeEntry link{"a/b", EntryKind::Symlink, 0, -5, true, true};
  const std::pair<FileOpResult, std::string_view> cases[] = {
      {R::ListDir{"/", {notes}},
       R"({"kind":"ListDir","path":"/","entries":[{"name":"notes.txt","kind":"File","size":120,)"
       R"("modified_unix_seconds":1700000000,"is_hidden":false,"is_readonly":false}]})"},
      {R::ListDir{"/empty", {}}, R"({"kind":"ListDir","path":"/empty","entries":[]})"},
      {R::GetHomeDir{"/Users/a"}, R"({"kind":"GetHomeDir","path":"/Users/a"})"},
      {R::MakeDir{"/x"}, R"({"kind":"MakeDir","path":"/x"})"},
      {R::UploadStarted{5, 1024},
       R"({"kind":"UploadStarted","transfer_id":5,"resume_offset":1024})"},
      {R::UploadFinalized{5}, R"({"kind":"UploadFinalized","transfer_id":5})"},
      {R::DownloadStarted{5, 18446744073709551615u, -1},
       R"({"kind":"DownloadStarted","transfer_id":5,"total_size":18446744073709551615,)"
       R"("mtime_unix_seconds":-1})"},
      {R::Cancelled{5}, R"({"kind":"Cancelled","transfer_id":5})"},
      {R::ClipboardPasteDir{"/tmp/p"}, R"({"kind":"ClipboardPasteDir","dir":"/tmp/p"})"},
      {R::ListDirRecursive{"/", {link, link}, true},
       R"({"kind":"ListDirRecursive","path":"/","entries":[{"rel_path":"a/b","kind":"Symlink",)"
       R"("size":0,"modified_unix_seconds":-5,"is_hidden":true,"is_readonly":true},)"
       R"({"rel_path":"a/b","kind":"Symlink","size":0,"modified_unix_seconds":-5,)"
       R"("is_hidden":true,"is_readonly":true}],"truncated":true})"},
      {R::Deleted{3}, R"({"kind":"Deleted","count":3})"},
      {R::Copied{0}, R"({"kind":"Copied","count":0})"},
      {R::Error{FileErrorCode::NotADirectory, "not a dir"},
       R"({"kind":"Error","code":"NotADirectory","message":"not a dir"})"},
  };
  for (const auto& [result, json] : cases) EXPECT_EQ(encode(result), json);
}

TEST(EncodeFileOpResults, ResponseEntriesAndCodes) {
  EXPECT_EQ(encode(FileOpResponse{
                9, FileOpResult::Error{FileErrorCode::PermissionDenied, "access denied"}}),
            R"({"request_id":9,"result":{"kind":"Error","code":"PermissionDenied",)"
            R"("message":"access denied"}})");
  EXPECT_EQ(encode(DirEntry{"a\"b", EntryKind::Directory, 0, 0, true, false}),
            R"({"name":"a\"b","kind":"Directory","size":0,"modified_unix_seconds":0,)"
            R"("is_hidden":true,"is_readonly":false})");
  const std::pair<FileErrorCode, std::string_view> codes[] = {
      {FileErrorCode::NotFound, R"("NotFound")"},
      {FileErrorCode::PermissionDenied, R"("PermissionDenied")"},
      {FileErrorCode::AlreadyExists, R"("AlreadyExists")"},
      {FileErrorCode::NotADirectory, R"("NotADirectory")"},
      {FileErrorCode::Other, R"("Other")"},
  };
  for (auto [code, json] : codes) EXPECT_EQ(encode(code), json);
  EXPECT_EQ(encode(EntryKind::Other), R"("Other")");
}

TEST(EncodeMonitors, ListsInEnumerationOrderWithEveryField) {
  MonitorInfo builtin{"1", "Display 1", 1512, 982, true, true, {{1512, 982}}};
  MonitorInfo external{"69733382", "Display \"2\"\n",           3840, 2160, false,
                       false,      {{3840, 2160}, {2560, 1440}}};
  MonitorInfo bare{"7", "Display 7", 800, 600, false, false, {}};

  EXPECT_EQ(encode(MonitorList{}), R"({"monitors":[]})");
  EXPECT_EQ(
      encode(MonitorList{{builtin}}),
      R"({"monitors":[{"id":"1","name":"Display 1","width":1512,"height":982,)"
      R"("is_primary":true,"is_selected":true,"available_modes":[{"width":1512,"height":982}]}]})");
  EXPECT_EQ(encode(MonitorList{{external, bare}}),
            R"({"monitors":[{"id":"69733382","name":"Display \"2\"\n","width":3840,"height":2160,)"
            R"("is_primary":false,"is_selected":false,"available_modes":[{"width":3840,)"
            R"("height":2160},{"width":2560,"height":1440}]},{"id":"7","name":"Display 7",)"
            R"("width":800,"height":600,"is_primary":false,"is_selected":false,)"
            R"("available_modes":[]}]})");
  EXPECT_EQ(encode(MonitorMode{1920, 1080}), R"({"width":1920,"height":1080})");
}

TEST(EncodeCursorKind, AsItsWireString) {
  EXPECT_EQ(encode(CursorKind::NotAllowed), R"("not_allowed")");
  EXPECT_EQ(encode(CursorKind::ResizeNWSE), R"("resize_n_w_s_e")");
  EXPECT_EQ(encode(CursorKind::Default), R"("default")");
  EXPECT_EQ(encode(CursorKind::Hidden), R"("hidden")");
}

}  // namespace
}  // namespace tarnvale_proto
