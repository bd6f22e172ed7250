// The session driver and its two tasks, in process: the daemon is played by a socket pair or a
// listener on a temporary path, so nothing here touches the fixed socket path.
#include "agent/imp.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>
#include "tests/support/run_awaitable.h"

#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/log.h"

namespace tarnvale_host_agent::imp {
namespace {

namespace uds = tarnvale_host_ipc::uds;
namespace log = tarnvale_base::log;
using tarnvale_base::Error;

using tarnvale_testing::run_awaitable;

std::string frame(std::string_view body) {
  auto n = static_cast<std::uint32_t>(body.size());
  return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                     static_cast<char>(n >> 8), static_cast<char>(n)} +
         std::string(body);
}

// A plain descriptor for the daemon's side: reads frames (JSON and binary) and writes bytes.
struct Daemon {
  int fd = -1;
  explicit Daemon(int f) : fd(f) {}
  ~Daemon() {
    if (fd >= 0) ::close(fd);
  }
  void send(std::string_view bytes) {
    while (!bytes.empty()) {
      ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      ASSERT_GT(n, 0);
      bytes.remove_prefix(static_cast<size_t>(n));
    }
  }
  bool recv_exact(std::string& out, size_t n) {
    out.assign(n, '\0');
    size_t got = 0;
    while (got < n) {
      ssize_t r = ::recv(fd, out.data() + got, n - got, 0);
      if (r <= 0) return false;
      got += static_cast<size_t>(r);
    }
    return true;
  }
  // "json:<body>", "binary:<pts>:<key>:<size>", or "eof".
  std::string next_frame() {
    std::string head, body;
    if (!recv_exact(head, 4)) return "eof";
    std::uint32_t len = 0;
    for (char c : head) len = (len << 8) | static_cast<unsigned char>(c);
    const bool binary = (len & 0x80000000u) != 0;
    len &= 0x7FFFFFFFu;
    if (!recv_exact(body, len)) return "eof";
    if (!binary) return "json:" + body;
    std::uint64_t pts = 0;
    for (int i = 0; i < 8; ++i) pts = (pts << 8) | static_cast<unsigned char>(body[i]);
    return "binary:" + std::to_string(pts) + ":" + std::to_string(int(body[8])) + ":" +
           std::to_string(len - 9);
  }
};

// The agent's halves on one end of a socket pair, the daemon on the other.
struct Link {
  asio::io_context io;
  std::optional<uds::ReadHalf> read;
  std::optional<uds::WriteHalf> write;
  std::unique_ptr<Daemon> daemon;

  Link() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    daemon = std::make_unique<Daemon>(fds[1]);
    auto halves = uds::split(uds::Socket(io, asio::local::stream_protocol(), fds[0]));
    read.emplace(std::move(halves->read));
    write.emplace(std::move(halves->write));
  }
};

AgentBound decode(std::string_view json) {
  auto message = AgentBound::decode_json(json);
  EXPECT_TRUE(message.has_value()) << json << ": " << message.error().what();
  return message.value_or(AgentBound{});
}

struct Recorded {
  std::vector<std::tuple<std::optional<std::string>, std::uint32_t, std::uint32_t>> calls;
  Result<std::pair<std::uint32_t, std::uint32_t>> answer =
      std::pair<std::uint32_t, std::uint32_t>{1280, 800};
};

// A dispatch context over fresh handles, with the input queue's receiver kept for the test.
struct Dispatch {
  std::shared_ptr<Recorded> resolution = std::make_shared<Recorded>();
  std::optional<InputQueue::Receiver> input;
  InboundContext context;

  Dispatch() : context(make()) {}
  InboundContext make() {
    auto [tx, rx] = InputQueue::create();
    input.emplace(std::move(rx));
    return InboundContext{
        std::move(tx), CaptureLoopHandles::create(),
        [r = resolution](std::optional<std::string> id, std::uint32_t w,
                         std::uint32_t h) -> Result<std::pair<std::uint32_t, std::uint32_t>> {
          r->calls.emplace_back(id, w, h);
          return r->answer;
        }};
  }
  // Everything queued for the input thread so far.
  std::vector<InputCmd> sent_input() {
    context.input.release();
    std::vector<InputCmd> out;
    while (auto cmd = input->receive()) out.push_back(*cmd);
    return out;
  }
};

TEST(Dispatch, SettingsGoToTheirCells) {
  Dispatch d;
  auto& h = d.context.handles;
  dispatch(decode(R"({"kind":"set_quality","quality":"low"})"), d.context);
  EXPECT_EQ(h.quality->load(), 0);
  dispatch(decode(R"({"kind":"set_capture_scale","width":1280,"height":720})"), d.context);
  EXPECT_EQ(h.capture_scale->get(), std::optional(std::pair(1280u, 720u)));
  dispatch(decode(R"({"kind":"set_capture_scale","width":1280,"height":0})"), d.context);
  EXPECT_EQ(h.capture_scale->get(), std::nullopt);
  dispatch(decode(R"({"kind":"set_capture_scale","width":1280,"height":720})"), d.context);
  dispatch(decode(R"({"kind":"set_capture_scale","width":0,"height":0})"), d.context);
  EXPECT_EQ(h.capture_scale->get(), std::nullopt);
  dispatch(decode(R"({"kind":"force_keyframe"})"), d.context);
  EXPECT_TRUE(h.force_keyframe->load());
}

TEST(Dispatch, PauseOnlySetsTheFlagResumeAlsoAsksForAKeyFrame) {
  Dispatch d;
  auto& h = d.context.handles;
  dispatch(decode(R"({"kind":"set_paused","paused":true})"), d.context);
  EXPECT_TRUE(h.paused->load());
  EXPECT_FALSE(h.force_keyframe->load());
  dispatch(decode(R"({"kind":"set_paused","paused":false})"), d.context);
  EXPECT_FALSE(h.paused->load());
  EXPECT_TRUE(h.force_keyframe->load());
}

TEST(Dispatch, InputAndMonitorChoiceReachTheInputQueueInOrder) {
  Dispatch d;
  dispatch(decode(R"({"kind":"inject_input","event":{"kind":"MouseMove","x":0.5,"y":0.25}})"),
           d.context);
  dispatch(decode(R"({"kind":"set_monitor","id":"2"})"), d.context);
  dispatch(decode(R"({"kind":"inject_input","event":{"kind":"Teleport","x":1}})"), d.context);
  EXPECT_EQ(d.context.handles.selected_monitor->get(), std::optional<std::string>("2"));
  auto sent = d.sent_input();
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[0], (InputCmd{InputCmd::Input{tarnvale_proto::InputEvent{
                         tarnvale_proto::InputEvent::MouseMove{0.5f, 0.25f}}}}));
  EXPECT_EQ(sent[1], (InputCmd{InputCmd::SetActiveMonitor{"2"}}));
  // An event kind the agent does not know still travels (as the catch-all value).
  EXPECT_TRUE(std::holds_alternative<InputCmd::Input>(sent[2].value));
}

TEST(Dispatch, InputIsDroppedQuietlyOnceTheInputThreadIsGone) {
  Dispatch d;
  d.input.reset();
  log::ScopedCapture logs;
  dispatch(decode(R"({"kind":"set_monitor","id":"1"})"), d.context);
  EXPECT_EQ(d.context.handles.selected_monitor->get(), std::optional<std::string>("1"));
  EXPECT_TRUE(logs.records().empty());
}

TEST(Dispatch, DisplayResolutionAppliedOnTheChosenMonitor) {
  Dispatch d;
  dispatch(decode(R"({"kind":"set_monitor","id":"7"})"), d.context);
  log::ScopedCapture logs;
  dispatch(decode(R"({"kind":"set_display_resolution","width":1280,"height":800})"), d.context);
  ASSERT_EQ(d.resolution->calls.size(), 1u);
  EXPECT_EQ(d.resolution->calls[0], std::tuple(std::optional<std::string>("7"), 1280u, 800u));
  auto lines = logs.find("set display resolution");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, log::Level::Info);
  EXPECT_EQ(lines[0].field("w"), "1280");
  EXPECT_EQ(lines[0].field("h"), "800");
  EXPECT_TRUE(d.context.handles.force_keyframe->load());
}

TEST(Dispatch, DisplayResolutionRefusedLeavesTheKeyFrameFlag) {
  Dispatch d;
  d.resolution->answer = tarnvale_base::fail("no mode 123x45 on display 1");
  log::ScopedCapture logs;
  dispatch(decode(R"({"kind":"set_display_resolution","width":123,"height":45})"), d.context);
  auto lines = logs.find("set_display_resolution failed");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, log::Level::Warn);
  EXPECT_EQ(lines[0].field("error"), "no mode 123x45 on display 1");
  EXPECT_EQ(lines[0].field("width"), "123");
  EXPECT_EQ(lines[0].field("height"), "45");
  EXPECT_FALSE(d.context.handles.force_keyframe->load());
}

struct LoggedCase {
  const char* message;
  log::Level level;
  const char* text;
  const char* field;
  const char* value;
};

TEST(Dispatch, LoggedKinds) {
  const LoggedCase cases[] = {
      {R"({"kind":"set_wallpaper_removed","removed":true})", log::Level::Warn,
       "set_wallpaper_removed failed", "error",
       "set-wallpaper-removed not supported on this platform"},
      {R"({"kind":"set_wallpaper_removed","removed":false})", log::Level::Warn,
       "set_wallpaper_removed failed", "error",
       "set-wallpaper-removed not supported on this platform"},
      {R"({"kind":"shutdown"})", log::Level::Debug, "AgentBound not handled in v1", "other",
       "Shutdown"},
      {R"({"kind":"set_audio_capture","enabled":true})", log::Level::Debug,
       "AgentBound not handled in v1", "other", "SetAudioCapture { enabled: true }"},
      {R"({"kind":"set_blackout","enabled":true})", log::Level::Debug,
       "AgentBound not handled in v1", "other", "SetBlackout { enabled: true }"},
  };
  for (const auto& c : cases) {
    Dispatch d;
    log::ScopedCapture logs;
    dispatch(decode(c.message), d.context);
    auto records = logs.records();
    ASSERT_EQ(records.size(), 1u) << c.message;
    EXPECT_EQ(records[0].level, c.level) << c.message;
    EXPECT_EQ(records[0].target, kTarget);
    EXPECT_EQ(records[0].message, c.text);
    EXPECT_EQ(records[0].field(c.field), c.value) << c.message;
  }
}

TEST(Dispatch, HeartbeatPingChangesNothingAndLogsNothing) {
  Dispatch d;
  log::ScopedCapture logs;
  dispatch(decode(R"({"kind":"heartbeat_ping"})"), d.context);
  EXPECT_TRUE(logs.records().empty());
  EXPECT_TRUE(d.context.handles.paused->load());
  EXPECT_TRUE(d.sent_input().empty());
}

// Feeds `bytes` to a running inbound task and returns the error it ended with.
struct InboundRun {
  std::string ended_with;
  bool stop = false;
  std::vector<std::tuple<std::optional<std::string>, std::uint32_t, std::uint32_t>> resolution;
  std::vector<InputCmd> input;
};

InboundRun run_inbound(std::string_view bytes) {
  Link link;
  Dispatch d;
  link.daemon->send(bytes);
  ::shutdown(link.daemon->fd, SHUT_WR);
  log::ScopedCapture logs;
  auto handles = d.context.handles;
  run_awaitable(link.io, inbound_task(std::move(*link.read), std::move(d.context)));
  InboundRun out;
  auto ended = logs.find("daemon read loop ended");
  EXPECT_EQ(ended.size(), 1u);
  if (!ended.empty()) out.ended_with = ended[0].field("error").value_or("");
  out.stop = handles.stop->load();
  out.resolution = d.resolution->calls;
  while (auto cmd = d.input->receive()) out.input.push_back(*cmd);  // the task let go of its end
  return out;
}

TEST(InboundTask, DaemonCloseEndsWithEarlyEofStopAndRestore) {
  auto run = run_inbound(frame(R"({"kind":"heartbeat_ping"})"));
  EXPECT_EQ(run.ended_with, "early eof");
  EXPECT_TRUE(run.stop);
  ASSERT_EQ(run.resolution.size(), 1u);
  EXPECT_EQ(run.resolution[0], std::tuple(std::optional<std::string>(), 0u, 0u));
}

TEST(InboundTask, UnknownNestedNamesKeepTheSessionUnknownQualityEndsIt) {
  auto run = run_inbound(
      frame(R"({"kind":"inject_input","event":{"kind":"Hover","x":1}})") +
      frame(
          R"({"kind":"inject_input","event":{"kind":"Key","key":"KeyZZ","pressed":true,"mods":{"shift":false,"ctrl":false,"alt":false,"meta":false},"repeat":false}})") +
      frame(R"({"kind":"open_system_panel","panel":"warp_drive"})") +
      frame(R"({"kind":"set_quality","quality":"ultra"})") +
      frame(R"({"kind":"set_monitor","id":"never read"})"));
  EXPECT_TRUE(run.ended_with.starts_with("json decode: ")) << run.ended_with;
  EXPECT_NE(run.ended_with.find("ultra"), std::string::npos) << run.ended_with;
  EXPECT_TRUE(run.stop);
  EXPECT_EQ(run.input.size(), 2u);  // the unknown event kind and the unknown key got through
}

TEST(InboundTask, UnknownKindEndsTheSessionWithADecodeError) {
  auto run = run_inbound(frame(R"({"kind":"reconnect"})") + frame(R"({"kind":"force_keyframe"})"));
  EXPECT_TRUE(
      run.ended_with.starts_with("json decode: unknown variant `reconnect`, expected one of "))
      << run.ended_with;
  EXPECT_TRUE(run.stop);
  EXPECT_EQ(run.resolution.size(), 1u);
}

TEST(OutboundTask, HeartbeatAtOnceThenEventsAsJsonAndFramesAsBinary) {
  Link link;
  auto [tx, rx] = OutboundQueue::create(kOutboundCapacity);
  ASSERT_FALSE(tx.try_send(AgentEvent::HostLocked{true}));
  ASSERT_FALSE(tx.try_send(AgentEvent::Frame{33333, true, std::vector<std::uint8_t>(1000, 7)}));
  tx.release();
  run_awaitable(link.io,
                outbound_task(std::move(*link.write), std::move(rx), std::chrono::hours(1)));
  std::vector<std::string> frames;
  for (std::string f; (f = link.daemon->next_frame()) != "eof";) frames.push_back(f);
  EXPECT_EQ(frames, (std::vector<std::string>{R"(json:{"kind":"heartbeat"})",
                                              R"(json:{"kind":"host_locked","locked":true})",
                                              "binary:33333:1:1000"}));
}

TEST(OutboundTask, HeartbeatsKeepComingWhileProducersAreQuiet) {
  Link link;
  auto [tx, rx] = OutboundQueue::create(kOutboundCapacity);
  std::thread daemon([&, tx = std::move(tx)]() mutable {
    EXPECT_EQ(link.daemon->next_frame(), R"(json:{"kind":"heartbeat"})");
    EXPECT_EQ(link.daemon->next_frame(), R"(json:{"kind":"heartbeat"})");
    EXPECT_EQ(link.daemon->next_frame(), R"(json:{"kind":"heartbeat"})");
    tx.release();  // the last producer goes: the task ends (a tick due meanwhile may still go)
    std::string f;
    while ((f = link.daemon->next_frame()) == R"(json:{"kind":"heartbeat"})") {
    }
    EXPECT_EQ(f, "eof");
  });
  run_awaitable(
      link.io, outbound_task(std::move(*link.write), std::move(rx), std::chrono::milliseconds(20)));
  daemon.join();
}

TEST(OutboundTask, WriteFailureLogsEndsAndClosesTheQueueForProducers) {
  Link link;
  link.daemon.reset();  // the daemon is gone
  auto [tx, rx] = OutboundQueue::create(kOutboundCapacity);
  log::ScopedCapture logs;
  run_awaitable(link.io,
                outbound_task(std::move(*link.write), std::move(rx), std::chrono::hours(1)));
  auto warned = logs.find("agent outbound: UDS write failed; daemon gone?");
  ASSERT_EQ(warned.size(), 1u);
  EXPECT_EQ(warned[0].level, log::Level::Warn);
  EXPECT_TRUE(warned[0].fields.empty());
  auto refused = tx.send(AgentEvent::HostLocked{false});
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->reason, tarnvale_base::queue::SendError::Closed);
}

TEST(OutboundTask, OversizedVideoPacketIsAWriteFailure) {
  Link link;
  auto [tx, rx] = OutboundQueue::create(kOutboundCapacity);
  ASSERT_FALSE(
      tx.try_send(AgentEvent::Frame{0, true, std::vector<std::uint8_t>(uds::kMaxFrameLen)}));
  log::ScopedCapture logs;
  std::thread daemon([&] {
    EXPECT_EQ(link.daemon->next_frame(), R"(json:{"kind":"heartbeat"})");
    EXPECT_EQ(link.daemon->next_frame(), "eof");
  });
  run_awaitable(link.io,
                outbound_task(std::move(*link.write), std::move(rx), std::chrono::hours(1)));
  daemon.join();
  EXPECT_EQ(logs.find("agent outbound: UDS write failed; daemon gone?").size(), 1u);
}

// The session driver against a daemon played in the test on a temporary socket path.
class Session : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarnvale-session-XXXXXX";
    dir_ = ::mkdtemp(tmpl);
    options_.socket_path = dir_ + "/agent.sock";
    options_.connect_attempts = 1;
    acceptor_.emplace(io_, asio::local::stream_protocol::endpoint(options_.socket_path));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Accepts the agent, reads its hello, answers with `answer` (raw frame bytes) and then runs
  // `after` with the daemon's descriptor.
  std::thread daemon(std::string answer, std::function<void(Daemon&)> after = {}) {
    return std::thread([this, answer = std::move(answer), after = std::move(after)] {
      auto peer = acceptor_->accept();
      Daemon d(peer.release());
      hello_ = d.next_frame();
      d.send(answer);
      if (after) after(d);
    });
  }

  std::string dir_;
  asio::io_context io_;
  std::optional<asio::local::stream_protocol::acceptor> acceptor_;
  SessionOptions options_;
  std::string hello_;
};

struct RefusedCase {
  const char* name;
  std::string answer_body;
  std::string error;  // ending in a space: a prefix (the decoder appends the position)
};

class SessionRefused : public Session, public testing::WithParamInterface<RefusedCase> {};

TEST_P(SessionRefused, EndsWithTheExactError) {
  const auto& c = GetParam();
  auto d = daemon(frame(c.answer_body));
  log::ScopedCapture logs;
  auto result = run_awaitable(io_, run(options_));
  d.join();
  EXPECT_EQ(hello_, "json:{\"kind\":\"agent\",\"protocol_version\":5,\"session_id\":" +
                        std::to_string(::getuid()) + "}");
  ASSERT_FALSE(result.has_value());
  if (c.error.ends_with(" ")) {
    EXPECT_TRUE(result.error().what().starts_with(c.error)) << result.error().what();
  } else {
    EXPECT_EQ(result.error().what(), c.error);
  }
  EXPECT_TRUE(logs.find("connected to daemon; starting capture + input").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, SessionRefused,
    testing::Values(
        RefusedCase{"VersionMismatch", R"({"kind":"version_mismatch","service_version":4})",
                    "daemon rejected agent handshake: VersionMismatch { service_version: 4 }"},
        RefusedCase{"Rejected", R"({"kind":"rejected","reason":"busy"})",
                    R"(daemon rejected agent handshake: Rejected { reason: "busy" })"},
        RefusedCase{"MissingReason", R"({"kind":"rejected"})",
                    "json decode: missing field `reason` at "},
        RefusedCase{"UnknownVariant", R"({"kind":"OK"})",
                    "json decode: unknown variant `OK`, expected one of `ok`, `version_mismatch`, "
                    "`rejected` at "},
        RefusedCase{"Empty", "", "json decode: "}, RefusedCase{"NotJson", "ok", "json decode: "}),
    [](const auto& info) { return info.param.name; });

TEST_F(Session, DaemonGoneBeforeAnswering) {
  auto d = std::thread([this] {
    auto peer = acceptor_->accept();
    Daemon dd(peer.release());
    hello_ = dd.next_frame();
  });
  auto result = run_awaitable(io_, run(options_));
  d.join();
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().what(), "early eof");
}

TEST_F(Session, NoDaemonIsAConnectError) {
  acceptor_.reset();
  std::filesystem::remove(options_.socket_path);
  auto result = run_awaitable(io_, run(options_));
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().what(), "connect daemon agent socket: connect " + options_.socket_path +
                                       ": No such file or directory");
}

TEST_F(Session, AcceptedSessionRunsUntilTheDaemonCloses) {
  std::vector<std::string> seen;
  auto d = daemon(frame(R"({"kind":"ok"})"), [&](Daemon& dd) {
    seen.push_back(dd.next_frame());
    seen.push_back(dd.next_frame());
    ::shutdown(dd.fd, SHUT_RDWR);
  });
  log::ScopedCapture logs;
  // The tasks run on their own strands over two runtime threads, as in the process.
  std::optional<Result<void>> result;
  asio::co_spawn(
      io_, [&]() -> asio::awaitable<void> { result = co_await run(options_); }, asio::detached);
  std::thread second([&] { io_.run(); });
  while (!result) {
    io_.run_one_for(std::chrono::milliseconds(10));
  }
  d.join();
  io_.stop();
  second.join();
  ASSERT_TRUE(result->has_value()) << result->error().what();
  auto connected = logs.find("connected to daemon; starting capture + input");
  ASSERT_EQ(connected.size(), 1u);
  EXPECT_EQ(connected[0].field("uid"), std::to_string(::getuid()));
  // The heartbeat and the initial monitor list come first, in either order.
  std::sort(seen.begin(), seen.end());
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], R"(json:{"kind":"heartbeat"})");
  EXPECT_TRUE(seen[1].starts_with(R"(json:{"kind":"monitors_changed","list":{"monitors":[)"))
      << seen[1];
  EXPECT_NE(seen[1].find(R"("is_primary":true,"is_selected":true)"), std::string::npos) << seen[1];
  const bool inbound_first = logs.find("inbound task ended").size() == 1;
  const bool outbound_first = logs.find("outbound task ended").size() == 1;
  EXPECT_NE(inbound_first, outbound_first);
  if (inbound_first) {
    auto ended = logs.find("daemon read loop ended");
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].field("error"), "early eof");
  }
}

}  // namespace
}  // namespace tarnvale_host_agent::imp
