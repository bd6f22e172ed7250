// The development daemon reads every event kind the agent's encoder writes.
#include "tools/devd/event_check.h"

#include <gtest/gtest.h>

#include "host-ipc/messages_agent_event.h"

namespace tarnvale_devd {
namespace {

using tarnvale_host_ipc::AgentEvent;

nlohmann::json encoded(const AgentEvent& event) {
  std::string body;
  event.encode_json(body);
  return nlohmann::json::parse(body);
}

TEST(EventCheck, EveryKindTheAgentEncodesIsRead) {
  tarnvale_proto::MonitorInfo monitor{"1", "Display 1", 1920, 1080, true, true, {{1920, 1080}}};
  const AgentEvent events[] = {
      AgentEvent::Heartbeat{},
      AgentEvent::Frame{33333, true, {1, 2, 3}},
      AgentEvent::CursorChanged{},
      AgentEvent::CursorPosition{0.25f, std::numeric_limits<float>::quiet_NaN()},
      AgentEvent::MonitorsChanged{{{monitor}}},
      AgentEvent::EncoderInfo{"libx264", false},
      AgentEvent::HostLocked{true},
      AgentEvent::CursorImage{{137, 80, 78, 71, 255}, 4, 65535},
      AgentEvent::ClipboardChanged{"a \"quoted\"\nline"},
      AgentEvent::ClipboardImageChanged{{1, 2}},
      AgentEvent::ClipboardFileList{{{"a.txt", "/tmp/a.txt", 12}}},
      AgentEvent::Audio{20000, {0xFF}},
      AgentEvent::FileOpResponse{},
      AgentEvent::FileTransferAck{7, 100},
      AgentEvent::FileTransferChunk{7, 0, {1}, true},
      AgentEvent::Exiting{},
  };
  ASSERT_EQ(std::size(events), std::variant_size_v<AgentEvent::Variant>);
  for (const auto& event : events) {
    auto json = encoded(event);
    EXPECT_EQ(check_event(json), std::nullopt) << json.dump();
  }
}

TEST(EventCheck, DescribesWhatIsWrong) {
  struct Case {
    const char* json;
    const char* problem;
  };
  const Case cases[] = {
      {R"([1,2])", "expected an object"},
      {R"({"locked":true})", "missing field `kind`"},
      {R"({"kind":"teleported"})", "unknown kind `teleported`"},
      {R"({"kind":"host_locked"})", "missing field `locked`"},
      {R"({"kind":"host_locked","locked":1})", "field `locked`: expected a boolean"},
      {R"({"kind":"cursor_image","png":[256],"hotspot_x":0,"hotspot_y":0})",
       "field `png`: element: expected a byte value"},
      {R"({"kind":"audio","pts_us":-1,"encoded":""})",
       "field `pts_us`: expected an unsigned integer"},
      {R"({"kind":"monitors_changed","list":{"monitors":[{"id":1}]}})",
       "field `list`: field `monitors`: element: field `id`: expected a string"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(check_event(nlohmann::json::parse(c.json)), std::optional<std::string>(c.problem))
        << c.json;
  }
}

}  // namespace
}  // namespace tarnvale_devd
