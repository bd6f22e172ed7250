#include "host-ipc/messages_agent_event.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace tarnvale_host_ipc {
namespace {

namespace proto = tarnvale_proto;
using E = AgentEvent;

std::string encode(const AgentEvent& event) {
  std::string out;
  event.encode_json(out);
  return out;
}

TEST(AgentEventTest, EncodesByteForByte) {
  proto::MonitorList one_monitor{
      {proto::MonitorInfo{"1", "Display 1", 1512, 982, true, true, {{1512, 982}}}}};
  proto::FileOpResponse denied{
      9, proto::FileOpResult::Error{proto::FileErrorCode::PermissionDenied, "access denied"}};
  const std::vector<std::pair<AgentEvent, std::string>> cases = {
      {E::Heartbeat{}, R"({"kind":"heartbeat"})"},
      {E::Exiting{}, R"({"kind":"exiting"})"},
      {E::CursorChanged{proto::CursorKind::NotAllowed},
       R"({"kind":"cursor_changed","cursor":"not_allowed"})"},
      {E::CursorChanged{proto::CursorKind::ResizeNWSE},
       R"({"kind":"cursor_changed","cursor":"resize_n_w_s_e"})"},
      {E::CursorPosition{0.25f, 0.5f}, R"({"kind":"cursor_position","x":0.25,"y":0.5})"},
      {E::CursorPosition{1.0f, std::numeric_limits<float>::quiet_NaN()},
       R"({"kind":"cursor_position","x":1,"y":null})"},
      {E::CursorPosition{-std::numeric_limits<float>::infinity(), 0.1f},
       R"({"kind":"cursor_position","x":null,"y":0.1})"},
      {E::HostLocked{true}, R"({"kind":"host_locked","locked":true})"},
      {E::EncoderInfo{"libx264", false},
       R"({"kind":"encoder_info","backend":"libx264","hardware":false})"},
      {E::Audio{20000, {0, 1, 2}}, R"({"kind":"audio","pts_us":20000,"encoded":"AAEC"})"},
      {E::Audio{0, {0xFF}}, R"({"kind":"audio","pts_us":0,"encoded":"/w=="})"},
      {E::Audio{5, {}}, R"({"kind":"audio","pts_us":5,"encoded":""})"},
      {E::CursorImage{{137, 80, 78, 71}, 4, 0},
       R"({"kind":"cursor_image","png":[137,80,78,71],"hotspot_x":4,"hotspot_y":0})"},
      {E::CursorImage{{}, 65535, 255},
       R"({"kind":"cursor_image","png":[],"hotspot_x":65535,"hotspot_y":255})"},
      {E::MonitorsChanged{one_monitor},
       R"({"kind":"monitors_changed","list":{"monitors":[{"id":"1","name":"Display 1","width":1512,"height":982,"is_primary":true,"is_selected":true,"available_modes":[{"width":1512,"height":982}]}]}})"},
      {E::MonitorsChanged{}, R"({"kind":"monitors_changed","list":{"monitors":[]}})"},
      {E::ClipboardChanged{"say \"hi\"\nbye\x01"},
       R"({"kind":"clipboard_changed","text":"say \"hi\"\nbye\u0001"})"},
      {E::ClipboardImageChanged{{'f', 'o'}}, R"({"kind":"clipboard_image_changed","png":"Zm8="})"},
      {E::ClipboardFileList{{{"a.txt", "/tmp/a.txt", 12}, {"b", "/b", 0}}},
       R"({"kind":"clipboard_file_list","files":[{"name":"a.txt","path":"/tmp/a.txt","size":12},{"name":"b","path":"/b","size":0}]})"},
      {E::ClipboardFileList{}, R"({"kind":"clipboard_file_list","files":[]})"},
      {E::FileOpResponse{denied},
       R"({"kind":"file_op_response","resp":{"request_id":9,"result":{"kind":"Error","code":"PermissionDenied","message":"access denied"}}})"},
      {E::FileTransferAck{3, 18446744073709551615u},
       R"({"kind":"file_transfer_ack","transfer_id":3,"written_through":18446744073709551615})"},
      {E::FileTransferChunk{3, 8, {'f', 'o', 'o'}, true},
       R"({"kind":"file_transfer_chunk","transfer_id":3,"offset":8,"bytes":"Zm9v","eof":true})"},
      {E::Frame{33333, true, {0, 0, 0, 1}},
       R"({"kind":"frame","pts_us":33333,"keyframe":true,"data":"AAAAAQ=="})"},
  };
  for (const auto& [event, json] : cases) {
    EXPECT_EQ(encode(event), json);
    EXPECT_TRUE(nlohmann::json::accept(encode(event))) << json;
  }
}

TEST(AgentEventTest, AppendsToTheBuffer) {
  std::string out = "head";
  AgentEvent(E::Heartbeat{}).encode_json(out);
  AgentEvent(E::HostLocked{false}).encode_json(out);
  EXPECT_EQ(out, R"(head{"kind":"heartbeat"}{"kind":"host_locked","locked":false})");
}

TEST(AgentEventTest, CursorPositionsReadBackExactly) {
  const float samples[] = {0.0f,
                           1.0f,
                           0.5f,
                           1.0f / 3.0f,
                           0.99999994f,
                           1e-8f,
                           0.123456789f,
                           -0.25f,
                           2.5f,
                           1e20f,
                           -0.0f,
                           std::numeric_limits<float>::denorm_min(),
                           std::numeric_limits<float>::max()};
  for (float x : samples) {
    auto doc = nlohmann::json::parse(encode(E::CursorPosition{x, 1.0f - x}));
    // the shortest text reads back, rounded to float, to the same float
    EXPECT_EQ(static_cast<float>(doc["x"].get<double>()), x) << encode(E::CursorPosition{x, 0});
    EXPECT_EQ(static_cast<float>(doc["y"].get<double>()), 1.0f - x);
  }
}

TEST(AgentEventTest, TagsFollowTheDeclaredOrder) {
  EXPECT_EQ(AgentEvent(E::Heartbeat{}).tag(), "heartbeat");
  EXPECT_EQ(AgentEvent(E::Frame{}).tag(), "frame");
  EXPECT_EQ(AgentEvent(E::Audio{}).tag(), "audio");
  EXPECT_EQ(AgentEvent(E::FileTransferChunk{}).tag(), "file_transfer_chunk");
  EXPECT_EQ(AgentEvent(E::Exiting{}).tag(), "exiting");
}

}  // namespace
}  // namespace tarnvale_host_ipc
