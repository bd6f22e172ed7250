// The agent process end to end against the development daemon on the fixed socket path: exit
// statuses, standard error, log lines, and what crosses the socket.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "tests/session/process.h"

namespace tarnvale_tests {
namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

const std::string kSocket = "/Library/Application Support/Tarnvale/run/agent.sock";

class AgentSession : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::TempDir() + "tarnvale-session-" +
           testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }

  // Starts the daemon with `args` (plus --once and its output folder) and waits until it listens.
  std::unique_ptr<Process> start_devd(std::vector<std::string> args,
                                      const std::vector<std::string>& script = {}) {
    std::vector<std::string> argv = {TARNVALE_DEVD_BINARY, "--once", "--out", dir_};
    if (!script.empty()) {
      std::ofstream(dir_ + "/script.jsonl") << [&] {
        std::string all;
        for (const auto& line : script) all += line + "\n";
        return all;
      }();
      argv.insert(argv.end(), {"--script", dir_ + "/script.jsonl"});
    }
    argv.insert(argv.end(), args.begin(), args.end());
    auto devd = std::make_unique<Process>(argv, std::map<std::string, std::string>{},
                                          dir_ + "/devd.out", dir_ + "/devd.err");
    EXPECT_TRUE(devd->wait_for_output("listening", 10s)) << devd->err();
    return devd;
  }

  std::unique_ptr<Process> start_agent(std::map<std::string, std::string> env = {
                                           {"NO_COLOR", "1"}}) {
    return std::make_unique<Process>(std::vector<std::string>{TARNVALE_AGENT_BINARY}, env,
                                     dir_ + "/agent.out", dir_ + "/agent.err");
  }

  json summary() { return json::parse(read_file(dir_ + "/summary.json"), nullptr, false); }

  std::string dir_;
};

TEST_F(AgentSession, AcceptedSessionHeartbeatsAndEndsCleanlyWhenTheDaemonCloses) {
  auto devd = start_devd({"--duration", "11"});
  auto agent = start_agent();
  ASSERT_EQ(agent->wait(60s), 0) << agent->err();
  ASSERT_EQ(devd->wait(10s), 0);
  EXPECT_EQ(agent->err(), "");
  const std::string log = agent->out();
  EXPECT_NE(
      log.find("INFO tarnvale_host_agent::imp: connected to daemon; starting capture + input uid="),
      std::string::npos)
      << log;
  EXPECT_NE(log.find("INFO tarnvale_host_agent::imp: daemon read loop ended error=\"early eof\""),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("INFO tarnvale_host_agent::imp: inbound task ended"), std::string::npos)
      << log;

  auto s = summary();
  ASSERT_FALSE(s.is_discarded());
  EXPECT_EQ(s["hello"], json::parse(R"({"kind":"agent","protocol_version":5,"session_id":)" +
                                    std::to_string(::getuid()) + "}"));
  // The immediate heartbeat (or the monitor list) follows the answer at once.
  ASSERT_TRUE(s["first_frame_latency_ms"].is_number());
  EXPECT_LT(s["first_frame_latency_ms"].get<double>(), 250.0);
  // Heartbeats at 0, 5 and 10 s.
  const auto& beats = s["heartbeat_times_ms"];
  ASSERT_EQ(beats.size(), 3u) << s.dump();
  for (size_t i = 1; i < beats.size(); ++i) {
    const double gap = beats[i].get<double>() - beats[i - 1].get<double>();
    EXPECT_NEAR(gap, 5000.0, 250.0);
  }
  EXPECT_EQ(s["events_by_kind"]["monitors_changed"], 1);
  EXPECT_EQ(s["malformed"], 0);
  EXPECT_TRUE(s["undecodable_events"].empty());
}

struct Refusal {
  const char* name;
  std::string hello;
  std::string error;  // ending in a space: a prefix
};

class RefusedHandshake : public AgentSession, public testing::WithParamInterface<Refusal> {};

TEST_P(RefusedHandshake, ExitsWithStatusOneAndTheExactError) {
  const auto& c = GetParam();
  auto devd = start_devd({"--hello", c.hello});
  auto agent = start_agent();
  ASSERT_EQ(agent->wait(60s), 1);
  const std::string err = agent->err();
  if (c.error.ends_with(" ")) {
    EXPECT_TRUE(err.starts_with("Error: " + c.error)) << err;
    EXPECT_TRUE(err.ends_with("\n"));
  } else {
    EXPECT_EQ(err, "Error: " + c.error + "\n");
  }
  EXPECT_EQ(agent->out().find("connected to daemon"), std::string::npos);
  EXPECT_EQ(devd->wait(10s), 0);
  EXPECT_EQ(summary()["heartbeats"], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RefusedHandshake,
    testing::Values(
        Refusal{"VersionMismatch", "version_mismatch:4",
                "daemon rejected agent handshake: VersionMismatch { service_version: 4 }"},
        Refusal{"Rejected", "rejected:busy",
                R"(daemon rejected agent handshake: Rejected { reason: "busy" })"},
        Refusal{"MissingReason", R"(raw:{"kind":"rejected"})",
                "json decode: missing field `reason` "},
        Refusal{"UnknownVariant", R"(raw:{"kind":"OK"})",
                "json decode: unknown variant `OK`, expected one of `ok`, `version_mismatch`, "
                "`rejected` "},
        Refusal{"EmptyBody", "raw:", "json decode: "},
        Refusal{"TwoDocuments", R"(raw:{"kind":"ok"}{"kind":"ok"})", "json decode: "}),
    [](const auto& info) { return info.param.name; });

TEST_F(AgentSession, ModuleFilterShowsTheSessionEventsAndHidesThePermissionReport) {
  auto devd = start_devd({}, {R"({"kind":"shutdown"})", R"({"wait_ms":200})", R"({"close":true})"});
  auto agent = start_agent({{"NO_COLOR", "1"}, {"TARNVALE_LOG", "tarnvale_host_agent::imp=debug"}});
  ASSERT_EQ(agent->wait(60s), 0) << agent->err();
  const std::string log = agent->out();
  EXPECT_NE(log.find("DEBUG tarnvale_host_agent::imp: AgentBound not handled in v1 other=Shutdown"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("connected to daemon; starting capture + input"), std::string::npos);
  EXPECT_EQ(log.find("agent TCC status at startup"), std::string::npos) << log;
  EXPECT_EQ(log.find("tarnvale_capture"), std::string::npos) << log;
}

TEST_F(AgentSession, UnparsableFilterFallsBackToInfo) {
  auto devd = start_devd({}, {R"({"kind":"shutdown"})", R"({"wait_ms":200})", R"({"close":true})"});
  auto agent = start_agent({{"TARNVALE_LOG", "info,bogus==x"}});
  ASSERT_EQ(agent->wait(60s), 0) << agent->err();
  const std::string log = agent->out();
  EXPECT_NE(log.find("agent TCC status at startup"), std::string::npos) << log;
  EXPECT_EQ(log.find("AgentBound not handled in v1"), std::string::npos) << log;
  EXPECT_NE(log.find("\x1b["), std::string::npos);  // NO_COLOR unset: coloured
}

struct EndingMessage {
  const char* name;
  std::string message;
  std::string in_error;  // part of the decode error naming the offending value
};

class SessionEndingMessage : public AgentSession,
                             public testing::WithParamInterface<EndingMessage> {};

// Unknown input kinds, keys, buttons, host-control commands and panels decode to their catch-all
// and the session goes on; an unknown quality or file operation is a decode error that ends it
// (status 0).
TEST_P(SessionEndingMessage, OnlyTheStrictKindsEndTheSession) {
  auto devd = start_devd(
      {"--duration", "30"},
      {R"({"kind":"inject_input","event":{"kind":"Levitate","height":3}})",
       R"({"kind":"inject_input","event":{"kind":"Key","key":"KeyÆ","pressed":true,"mods":{"shift":false,"ctrl":false,"alt":false,"meta":false},"repeat":false}})",
       R"({"kind":"inject_input","event":{"kind":"MouseButton","button":"sixth","pressed":true,"x":0.5,"y":0.5}})",
       R"({"kind":"inject_input","event":{"kind":"HostControl","cmd":{"kind":"self_destruct"}}})",
       R"({"kind":"open_system_panel","panel":"warp_drive"})", R"({"wait_ms":100})",
       GetParam().message});
  auto agent = start_agent();
  ASSERT_EQ(agent->wait(60s), 0) << agent->err();
  EXPECT_EQ(agent->err(), "");
  const std::string log = agent->out();
  auto at = log.find("daemon read loop ended error=\"json decode: ");
  ASSERT_NE(at, std::string::npos) << log;
  const std::string line = log.substr(at, log.find('\n', at) - at);
  EXPECT_NE(line.find(GetParam().in_error), std::string::npos) << line;
  EXPECT_EQ(devd->wait(10s), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SessionEndingMessage,
    testing::Values(
        EndingMessage{"UnknownQuality", R"({"kind":"set_quality","quality":"ultra"})", "ultra"},
        EndingMessage{"UnknownFileOp",
                      R"({"kind":"file_op","req":{"request_id":1,"op":{"kind":"Teleport"}}})",
                      "Teleport"},
        EndingMessage{"UnknownKind", R"({"kind":"reconnect"})", "reconnect"}),
    [](const auto& info) { return info.param.name; });

TEST_F(AgentSession, DaemonThatNeverAnswersKeepsTheAgentWaiting) {
  auto devd = start_devd({"--hello", "never", "--duration", "2"});
  auto agent = start_agent();
  // Still waiting for the answer well after connecting; nothing sent but the hello.
  EXPECT_EQ(agent->wait(1500ms), std::nullopt);
  ASSERT_EQ(devd->wait(10s), 0);
  EXPECT_EQ(summary()["bytes_received"], 0);
  EXPECT_EQ(summary()["hello"]["kind"], "agent");
  // The daemon's close is the end of the wait: the answer never came.
  ASSERT_EQ(agent->wait(10s), 1);
  EXPECT_EQ(agent->err(), "Error: early eof\n");
}

// Runs through all 120 connect attempts, one second apart: about two minutes.
TEST_F(AgentSession, NoDaemonExitsWithTheConnectError) {
  std::filesystem::remove(kSocket);
  auto agent = start_agent();
  ASSERT_EQ(agent->wait(200s), 1);
  EXPECT_EQ(agent->err(), "Error: connect daemon agent socket: connect " + kSocket +
                              ": No such file or directory\n");
}

}  // namespace
}  // namespace tarnvale_tests
