#include "platform/vhost.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

#include "platform/cg_display.h"
#include "platform/permissions.h"
#include "platform/sc.h"
#include "platform/session.h"

namespace tarnvale_platform::vhost {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

TEST(Scenario, DefaultIsOneFullHdDisplayWithModesAndDuplicates) {
  auto s = Scenario::default_scenario();
  EXPECT_TRUE(s.screen_recording);
  EXPECT_TRUE(s.accessibility);
  EXPECT_FALSE(s.locked);
  ASSERT_EQ(s.displays.size(), 1u);
  const auto& d = s.displays[0];
  EXPECT_EQ(d.id, 1u);
  EXPECT_EQ(d.modes[d.current_mode].width, 1920u);
  EXPECT_EQ(d.modes[d.current_mode].height, 1080u);
  EXPECT_EQ(d.content, Content::Moving);
}

TEST(Scenario, ParsesDisplaysModesAndPermissions) {
  auto s = Scenario::parse(R"({
    "permissions": {"screen_recording": false},
    "locked": true,
    "displays": [
      {"id": 4, "origin": [-1280, 0], "width": 1280, "height": 1024, "content": "static"},
      {"id": 9, "modes": [{"width": 2560, "height": 1440, "refresh": 30},
                          {"width": 1280, "height": 720, "scale": 2, "duplicate": true}],
       "current": 1}
    ]})");
  ASSERT_TRUE(s) << s.error().what();
  EXPECT_FALSE(s->screen_recording);
  EXPECT_TRUE(s->accessibility);
  EXPECT_TRUE(s->locked);
  ASSERT_EQ(s->displays.size(), 2u);
  EXPECT_EQ(s->displays[0].x, -1280);
  EXPECT_EQ(s->displays[0].content, Content::Static);
  ASSERT_EQ(s->displays[0].modes.size(), 1u);
  EXPECT_EQ(s->displays[0].modes[0].height, 1024u);
  const auto& m = s->displays[1].modes;
  EXPECT_EQ(m[0].refresh_rate, 30);
  EXPECT_EQ(m[1].pixel_width, 2560u);
  EXPECT_TRUE(m[1].low_resolution_duplicate);
  EXPECT_EQ(s->displays[1].current_mode, 1u);
}

TEST(Scenario, RejectsBadInputWithItsReason) {
  struct Case {
    const char* json;
    const char* error;
  };
  const Case cases[] = {
      {"{", "scenario is not valid JSON"},
      {"[]", "scenario must be a JSON object"},
      {R"({"displayz": []})", "unknown key `displayz` in scenario"},
      {R"({"locked": 1})", "`locked` must be true or false"},
      {R"({"displays": [{"width": 10, "height": 10}]})", "display: missing `id`"},
      {R"({"displays": [{"id": 0, "width": 10, "height": 10}]})", "display: `id` must not be 0"},
      {R"({"displays": [{"id": -1, "width": 10, "height": 10}]})",
       "display: `id` must be an unsigned 32-bit integer"},
      {R"({"displays": [{"id": 2}]})", "display 2: missing `width`"},
      {R"({"displays": [{"id": 2, "modes": []}]})", "display 2: `modes` must be a non-empty list"},
      {R"({"displays": [{"id": 2, "width": 0, "height": 5}]})",
       "display 2: mode: width and height must be between 1 and 16384"},
      {R"({"displays": [{"id": 2, "width": 99999, "height": 5}]})",
       "display 2: mode: width and height must be between 1 and 16384"},
      {R"({"displays": [{"id": 2, "width": 8, "height": 8, "current": 1}]})",
       "display 2: `current` is not a mode index"},
      {R"({"displays": [{"id": 2, "width": 8, "height": 8, "content": "wavy"}]})",
       "display 2: `content` must be \"moving\" or \"static\""},
      {R"({"displays": [{"id": 2, "width": 8, "height": 8}, {"id": 2, "width": 8, "height": 8}]})",
       "display 2 is listed twice"},
  };
  for (const auto& c : cases) {
    auto s = Scenario::parse(c.json);
    ASSERT_FALSE(s) << c.json;
    EXPECT_EQ(s.error().what(), c.error) << c.json;
  }
  auto missing = Scenario::load("/nonexistent/scenario.json");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().what(), "cannot open scenario /nonexistent/scenario.json");
}

TEST(Displays, ModesBoundsAndMainDisplay) {
  Scenario s;
  DisplayLayout side;
  side.id = 8;
  side.x = -1024;
  side.modes = {make_mode(1024, 768)};
  s.displays = {side, Scenario::default_scenario().displays[0]};
  VirtualHost::reset(s);

  EXPECT_EQ(CGMainDisplayID(), 1u);  // the one at the origin
  auto b = CGDisplayBounds(8);
  EXPECT_EQ(b, (CGRect{{-1024, 0}, {1024, 768}}));
  EXPECT_EQ(CGDisplayBounds(99), CGRect{});

  auto plain = CGDisplayCopyAllDisplayModes(1, nullptr);
  ASSERT_TRUE(plain);
  CGDisplayModeOptions with_dups{true};
  auto all = CGDisplayCopyAllDisplayModes(1, &with_dups);
  ASSERT_TRUE(all);
  EXPECT_EQ(plain->size(), 4u);
  EXPECT_EQ(all->size(), 6u);
  EXPECT_FALSE(CGDisplayCopyAllDisplayModes(99, nullptr));

  // A mode of another display, or none, is refused.
  auto other = CGDisplayCopyDisplayMode(8);
  EXPECT_EQ(CGDisplaySetDisplayMode(1, other), kCGErrorIllegalArgument);
  EXPECT_EQ(CGDisplaySetDisplayMode(1, nullptr), kCGErrorIllegalArgument);
  EXPECT_EQ(CGDisplaySetDisplayMode(99, other), kCGErrorIllegalArgument);
  CGDisplayModeRef small = (*all)[4];
  EXPECT_EQ(CGDisplaySetDisplayMode(1, small), kCGErrorSuccess);
  auto now = CGDisplayCopyDisplayMode(1);
  EXPECT_EQ(CGDisplayModeGetWidth(now), 1280u);
  EXPECT_EQ(CGDisplayBounds(1).size.width, 1280);
  CGDisplayModeRelease(now);
  EXPECT_FALSE(now);
  EXPECT_EQ(CGDisplayModeGetWidth(now), 0u);
}

TEST(Session, LockKeyPresentOnlyWhileLocked) {
  auto host = VirtualHost::reset();
  auto unlocked = CGSessionCopyCurrentDictionary();
  ASSERT_TRUE(unlocked);
  EXPECT_EQ(unlocked->get(kCGSSessionScreenIsLockedKey), nullptr);
  host->set_locked(true);
  auto locked = CGSessionCopyCurrentDictionary();
  ASSERT_TRUE(locked);
  ASSERT_NE(locked->get(kCGSSessionScreenIsLockedKey), nullptr);
  EXPECT_EQ(std::get<bool>(*locked->get(kCGSSessionScreenIsLockedKey)), true);
  host->set_in_session(false);
  EXPECT_EQ(CGSessionCopyCurrentDictionary(), nullptr);
}

TEST(Permissions, RefusedGrantsShowUpAsOnMacOS) {
  auto host = VirtualHost::reset();
  EXPECT_TRUE(CGPreflightScreenCaptureAccess());
  AXTrustedCheckOptions prompt{true};
  EXPECT_TRUE(AXIsProcessTrustedWithOptions(&prompt));
  EXPECT_EQ(host->stats().accessibility_prompts, 0u);

  host->set_screen_recording(false);
  host->set_accessibility(false);
  EXPECT_FALSE(CGPreflightScreenCaptureAccess());
  EXPECT_FALSE(CGRequestScreenCaptureAccess());
  EXPECT_FALSE(AXIsProcessTrustedWithOptions(nullptr));
  EXPECT_FALSE(AXIsProcessTrustedWithOptions(&prompt));
  EXPECT_EQ(host->stats().accessibility_prompts, 1u);
  auto journal = host->journal();
  ASSERT_EQ(journal.size(), 2u);
  EXPECT_EQ(journal[0]["kind"], "screen_capture_request");
  EXPECT_EQ(journal[1]["kind"], "accessibility_prompt");
}

// --- streams

std::shared_ptr<const SCShareableContent> content() {
  std::promise<std::shared_ptr<const SCShareableContent>> p;
  auto f = p.get_future();
  SCShareableContent::getShareableContentExcludingDesktopWindows(
      false, false, [&p](auto c, auto) { p.set_value(std::move(c)); });
  return f.get();
}

std::optional<NSError> wait_start(SCStream& s) {
  std::promise<std::optional<NSError>> p;
  auto f = p.get_future();
  s.startCapture([&p](auto e) { p.set_value(std::move(e)); });
  return f.get();
}
std::optional<NSError> wait_stop(SCStream& s) {
  std::promise<std::optional<NSError>> p;
  auto f = p.get_future();
  s.stopCapture([&p](auto e) { p.set_value(std::move(e)); });
  return f.get();
}

// Records what a stream delivers and on which thread.
struct Recorder : SCStreamOutput {
  void didOutputSampleBuffer(SCStream&, const CMSampleBuffer& sample, SCStreamOutputType) override {
    std::lock_guard lock(mu);
    threads.push_back(std::this_thread::get_id());
    if (auto* img = CMSampleBufferGetImageBuffer(sample)) {
      ++images;
      sizes.emplace_back(CVPixelBufferGetWidth(img), CVPixelBufferGetHeight(img));
    } else {
      ++idle;
    }
  }
  std::mutex mu;
  std::vector<std::thread::id> threads;
  std::vector<std::pair<std::size_t, std::size_t>> sizes;
  int images = 0;
  int idle = 0;
};

struct StopWatcher : SCStreamDelegate {
  void didStopWithError(SCStream&, const NSError& e) override {
    stopped.set_value(e.localizedDescription);
  }
  std::promise<std::string> stopped;
};

SCStreamConfiguration config_for(const SCDisplay& d, int fps = 30) {
  SCStreamConfiguration c;
  c.width = d.width;
  c.height = d.height;
  c.showsCursor = false;
  c.minimumFrameInterval = CMTimeMake(1, fps);
  return c;
}

// A stream of the whole first display of `c`, at 30 frames per second.
std::shared_ptr<SCStream> first_display_stream(const SCShareableContent& c,
                                               std::weak_ptr<SCStreamDelegate> delegate = {}) {
  return SCStream::create(SCContentFilter(c.displays[0], {}), config_for(c.displays[0]),
                          std::move(delegate));
}

Scenario one_small_display(Content content) {
  Scenario s;
  DisplayLayout d;
  d.id = 3;
  d.modes = {make_mode(96, 64, 60)};
  d.content = content;
  s.displays = {d};
  return s;
}

TEST(Streams, DeliverOnTheirOwnThreadAndStopForGood) {
  auto host = VirtualHost::reset(one_small_display(Content::Moving));
  auto c = content();
  ASSERT_EQ(c->displays.size(), 1u);
  auto stream = first_display_stream(*c);
  auto rec = std::make_shared<Recorder>();
  ASSERT_TRUE(stream->addStreamOutput(rec, SCStreamOutputType::Screen, nullptr));
  NSError refused;
  EXPECT_FALSE(stream->addStreamOutput(rec, SCStreamOutputType::Audio, &refused));
  EXPECT_EQ(refused.localizedDescription, "The stream does not capture audio");

  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_FALSE(wait_start(*stream));
  ASSERT_TRUE(host->wait_for([](const Stats& s) { return s.image_deliveries >= 6; }, 5s));
  // The display refreshes at 60 Hz; the stream asked for at most 30 frames a second.
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 5 * 33ms);
  ASSERT_FALSE(wait_stop(*stream));
  {
    std::lock_guard lock(rec->mu);
    ASSERT_FALSE(rec->threads.empty());
    for (auto id : rec->threads) {
      EXPECT_NE(id, std::this_thread::get_id());
      EXPECT_EQ(id, rec->threads.front());  // one serial queue
    }
    EXPECT_EQ(rec->sizes.front(), (std::pair<std::size_t, std::size_t>{96, 64}));
  }
  const int seen = rec->images + rec->idle;
  std::this_thread::sleep_for(100ms);  // nothing may arrive after the stop completed
  EXPECT_EQ(rec->images + rec->idle, seen);
  EXPECT_TRUE(wait_stop(*stream));  // stopping twice is an error
  EXPECT_EQ(host->stats().streams_live, 0u);
}

TEST(Streams, StaticPictureSendsOneImageThenIdleDeliveries) {
  auto host = VirtualHost::reset(one_small_display(Content::Static));
  auto c = content();
  auto stream = first_display_stream(*c);
  auto rec = std::make_shared<Recorder>();
  stream->addStreamOutput(rec, SCStreamOutputType::Screen, nullptr);
  ASSERT_FALSE(wait_start(*stream));
  ASSERT_TRUE(host->wait_for([](const Stats& s) { return s.idle_deliveries >= 5; }, 5s));
  EXPECT_EQ(host->stats().image_deliveries, 1u);
}

TEST(Streams, DeathReleasesOutputsAndTellsTheDelegate) {
  auto host = VirtualHost::reset(one_small_display(Content::Moving));
  auto c = content();
  auto watcher = std::make_shared<StopWatcher>();
  auto stream = first_display_stream(*c, watcher);
  auto rec = std::make_shared<Recorder>();
  std::weak_ptr<Recorder> weak = rec;
  stream->addStreamOutput(std::move(rec), SCStreamOutputType::Screen, nullptr);
  ASSERT_FALSE(wait_start(*stream));
  ASSERT_TRUE(host->wait_for([](const Stats& s) { return s.image_deliveries >= 1; }, 5s));
  EXPECT_EQ(host->kill_streams(), 1u);
  auto stopped = watcher->stopped.get_future();
  ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(stopped.get(), "the stream was stopped by the system");
  // The output is let go once any delivery in flight has returned.
  ASSERT_TRUE(host->wait_for([&](const Stats&) { return weak.expired(); }, 5s) || weak.expired());
  EXPECT_EQ(host->stats().streams_died, 1u);
  EXPECT_EQ(host->kill_streams(), 0u);
}

TEST(Streams, RemovedDisplayKillsItsStreams) {
  auto host = VirtualHost::reset(one_small_display(Content::Moving));
  auto c = content();
  auto stream = first_display_stream(*c);
  stream->addStreamOutput(std::make_shared<Recorder>(), SCStreamOutputType::Screen, nullptr);
  ASSERT_FALSE(wait_start(*stream));
  ASSERT_TRUE(host->remove_display(3));
  EXPECT_TRUE(host->wait_for([](const Stats& s) { return s.streams_died == 1; }, 5s));
}

TEST(Streams, StartRefusedWithoutPermissionOrWithABadConfiguration) {
  auto host = VirtualHost::reset(one_small_display(Content::Static));
  auto c = content();
  auto cfg = config_for(c->displays[0]);
  cfg.width = 0;
  auto bad = SCStream::create(SCContentFilter(c->displays[0], {}), cfg, {});
  auto e = wait_start(*bad);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->localizedDescription, "The stream configuration is invalid");

  host->set_screen_recording(false);
  auto refused = first_display_stream(*c);
  e = wait_start(*refused);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->code, SCStreamErrorUserDeclined);
  EXPECT_TRUE(content()->displays.empty());
}

TEST(Streams, ResetWhileRunningKeepsTheOldHostUntilReleased) {
  auto host = VirtualHost::reset(one_small_display(Content::Moving));
  auto c = content();
  auto stream = first_display_stream(*c);
  auto rec = std::make_shared<Recorder>();
  stream->addStreamOutput(rec, SCStreamOutputType::Screen, nullptr);
  ASSERT_FALSE(wait_start(*stream));
  std::weak_ptr<VirtualHost> old = host;
  host.reset();
  VirtualHost::reset();
  EXPECT_FALSE(old.expired());
  old.lock()->wait_for([](const Stats& s) { return s.image_deliveries >= 2; }, 5s);
  stream.reset();  // release without stop: joins the delivery thread
  EXPECT_TRUE(old.expired());
}

TEST(Streams, ReleasedFromItsOwnHandler) {
  auto host = VirtualHost::reset(one_small_display(Content::Moving));
  auto c = content();
  struct SelfRelease : SCStreamOutput {
    void didOutputSampleBuffer(SCStream&, const CMSampleBuffer&, SCStreamOutputType) override {
      std::shared_ptr<SCStream> s;
      {
        std::lock_guard lock(mu);
        s = std::move(stream);
      }
      if (s) done.set_value();
      // `s` is released here, on the stream's own thread.
    }
    std::mutex mu;
    std::shared_ptr<SCStream> stream;
    std::promise<void> done;
  };
  auto out = std::make_shared<SelfRelease>();
  auto done = out->done.get_future();
  {
    auto stream = first_display_stream(*c);
    stream->addStreamOutput(out, SCStreamOutputType::Screen, nullptr);
    ASSERT_FALSE(wait_start(*stream));
    std::lock_guard lock(out->mu);
    out->stream = stream;
  }
  ASSERT_EQ(done.wait_for(5s), std::future_status::ready);
  EXPECT_TRUE(host->wait_for([](const Stats& s) { return s.streams_live == 0; }, 5s));
}

// --- control

TEST(Control, CommandsChangeTheHostAndReportIt) {
  auto host = VirtualHost::reset();
  EXPECT_EQ(handle_control_command({{"cmd", "ping"}}), json({{"ok", true}}));
  EXPECT_EQ(handle_control_command({{"cmd", "lock"}, {"locked", true}})["ok"], true);
  EXPECT_TRUE(host->locked());
  EXPECT_EQ(handle_control_command({{"cmd", "permissions"}, {"screen_recording", false}})["ok"],
            true);
  EXPECT_FALSE(host->screen_recording());
  auto added = handle_control_command(
      {{"cmd", "add_display"}, {"layout", {{"id", 2}, {"width", 800}, {"height", 600}}}});
  EXPECT_EQ(added["ok"], true) << added.dump();
  ASSERT_TRUE(host->display(2));
  EXPECT_EQ(
      handle_control_command({{"cmd", "content"}, {"display", 2}, {"solid", {1, 2, 3}}})["ok"],
      true);
  EXPECT_EQ(host->display(2)->content, Content::Pixels);
  EXPECT_EQ(handle_control_command(
                {{"cmd", "fail_next"}, {"call", "set_display_mode"}, {"code", 1004}})["ok"],
            true);
  EXPECT_EQ(CGDisplaySetDisplayMode(1, CGDisplayCopyDisplayMode(1)), kCGErrorCannotComplete);
  auto state = handle_control_command({{"cmd", "state"}});
  EXPECT_EQ(state["state"]["locked"], true);
  EXPECT_EQ(state["state"]["displays"].size(), 2u);
  EXPECT_EQ(handle_control_command({{"cmd", "remove_display"}, {"display", 2}})["ok"], true);

  struct Case {
    json command;
    const char* error;
  };
  const std::vector<Case> bad = {
      {json::array(), "a command must be a JSON object"},
      {{{"cmd", 5}}, "missing `cmd` (a string)"},
      {{{"cmd", "dance"}}, "unknown command `dance`"},
      {{{"cmd", "lock"}}, "`locked` must be true or false"},
      {{{"cmd", "content"}, {"display", 77}, {"content", "static"}}, "no display 77"},
      {{{"cmd", "content"}, {"display", 1}, {"solid", {1, 2, 300}}},
       "`solid` values must be 0 to 255"},
      {{{"cmd", "add_display"}, {"layout", {{"id", 1}, {"width", 8}, {"height", 8}}}},
       "display 1 already exists"},
      {{{"cmd", "fail_next"}, {"call", "everything"}},
       "unknown `call`; one of content_query, stream_start, set_display_mode, pixel_lock"},
  };
  for (const auto& c : bad) {
    auto answer = handle_control_command(c.command);
    EXPECT_EQ(answer["ok"], false) << c.command.dump();
    EXPECT_EQ(answer["error"], c.error) << c.command.dump();
  }
}

// A line-oriented client of the control socket.
class ControlClient {
 public:
  explicit ControlClient(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~ControlClient() { ::close(fd_); }
  bool connected() const { return connected_; }
  void send_raw(const std::string& bytes) {
    ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
  }
  // The next answer line, or "" when the server closed the connection.
  std::string line() {
    for (;;) {
      if (auto nl = buf_.find('\n'); nl != std::string::npos) {
        auto l = buf_.substr(0, nl);
        buf_.erase(0, nl + 1);
        return l;
      }
      char tmp[4096];
      ssize_t n = ::recv(fd_, tmp, sizeof tmp, 0);
      if (n <= 0) return "";
      buf_.append(tmp, std::size_t(n));
    }
  }
  json ask(const json& command) {
    send_raw(command.dump() + "\n");
    return json::parse(line());
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string buf_;
};

TEST(Control, SocketAnswersOneLinePerCommandAndShowsTheJournal) {
  auto host = VirtualHost::reset();
  const std::string path = "/tmp/tarnvale-vhost-test-" + std::to_string(::getpid()) + ".sock";
  ASSERT_TRUE(start_control_server(path));
  EXPECT_FALSE(start_control_server(path));  // one per process

  ControlClient client(path);
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.ask({{"cmd", "ping"}})["ok"], true);
  CGDisplayModeOptions dups{true};
  auto modes = CGDisplayCopyAllDisplayModes(1, &dups);
  ASSERT_EQ(CGDisplaySetDisplayMode(1, modes->at(4)), kCGErrorSuccess);
  auto journal = client.ask({{"cmd", "journal"}, {"clear", true}});
  ASSERT_EQ(journal["journal"].size(), 1u);
  EXPECT_EQ(journal["journal"][0], json({{"kind", "set_display_mode"},
                                         {"display", 1},
                                         {"width", 1280},
                                         {"height", 720},
                                         {"refresh", 60.0}}));
  EXPECT_TRUE(client.ask({{"cmd", "journal"}})["journal"].empty());

  // Two commands in one write, then bad input: each gets its answer, the connection stays.
  client.send_raw("{\"cmd\":\"lock\",\"locked\":true}\n{\"cmd\":\"ping\"}\n");
  EXPECT_EQ(json::parse(client.line())["ok"], true);
  EXPECT_EQ(json::parse(client.line())["ok"], true);
  EXPECT_TRUE(host->locked());
  client.send_raw("not json\n");
  EXPECT_EQ(json::parse(client.line()), json({{"ok", false}, {"error", "not a JSON command"}}));

  // A second client is served alongside the first.
  ControlClient other(path);
  EXPECT_EQ(other.ask({{"cmd", "stats"}})["stats"]["mode_switches"], 1);

  // A line that never ends is cut off with an answer and the connection is closed.
  client.send_raw(std::string(70 * 1024, 'x'));
  EXPECT_EQ(json::parse(client.line())["ok"], false);
  EXPECT_EQ(client.line(), "");
  EXPECT_EQ(other.ask({{"cmd", "ping"}})["ok"], true);
  ::unlink(path.c_str());
}

}  // namespace
}  // namespace tarnvale_platform::vhost
