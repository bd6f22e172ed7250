// The agent's monitor list and display-mode changes, seen from the daemon's side of the socket
// and from the virtual host's journal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

extern char** environ;

namespace {

using nlohmann::json;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kSocketDir = "/Library/Application Support/Tarnvale/run";
const std::string kSocketPath = kSocketDir + "/agent.sock";

struct Frame {
  bool binary = false;
  std::string body;
};

// Reads exactly `n` bytes, waiting at most until `deadline`. False on end of stream or timeout.
bool read_exact(int fd, char* out, std::size_t n, std::chrono::steady_clock::time_point deadline) {
  std::size_t got = 0;
  while (got < n) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    ssize_t r = ::recv(fd, out + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

std::optional<Frame> read_frame(int fd, std::chrono::milliseconds limit = 20s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  unsigned char h[4];
  if (!read_exact(fd, reinterpret_cast<char*>(h), 4, deadline)) return std::nullopt;
  const std::uint32_t header =
      std::uint32_t{h[0]} << 24 | std::uint32_t{h[1]} << 16 | std::uint32_t{h[2]} << 8 | h[3];
  Frame f;
  f.binary = header & 0x80000000u;
  const std::uint32_t len = header & 0x7FFFFFFFu;
  if (len > 64u * 1024 * 1024) return std::nullopt;
  f.body.resize(len);
  if (len && !read_exact(fd, f.body.data(), len, deadline)) return std::nullopt;
  return f;
}

void write_frame(int fd, const json& message) {
  const std::string body = message.dump();
  const std::uint32_t n = static_cast<std::uint32_t>(body.size());
  std::string out = {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
  out += body;
  ASSERT_EQ(::send(fd, out.data(), out.size(), MSG_NOSIGNAL), ssize_t(out.size()));
}

// Asks the virtual host's control socket one command.
json control(const std::string& path, const json& command) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return json{{"ok", false}, {"error", "connect failed"}};
  }
  const std::string line = command.dump() + "\n";
  ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
  std::string answer;
  char c;
  while (::recv(fd, &c, 1, 0) == 1 && c != '\n') answer.push_back(c);
  ::close(fd);
  return json::parse(answer, nullptr, false);
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<json> journal_file_entries(const fs::path& p) {
  std::vector<json> out;
  std::istringstream lines(read_file(p));
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) out.push_back(json::parse(line, nullptr, false));
  return out;
}

// Polls `pred` every 20 ms until it holds or `limit` passes.
template <class Pred>
bool eventually(Pred pred, std::chrono::milliseconds limit = 15s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(20ms);
  }
  return pred();
}

// Plays the daemon for one agent process on the virtual host.
class AgentSession : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarnvale-display-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    fs::create_directories(kSocketDir);
    ::unlink(kSocketPath.c_str());
    listen_fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", kSocketPath.c_str());
    ASSERT_EQ(::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0)
        << std::strerror(errno);
    ASSERT_EQ(::listen(listen_fd_, 1), 0);
  }

  void TearDown() override {
    if (conn_ >= 0) ::close(conn_);
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (listen_fd_ >= 0) ::close(listen_fd_);
    ::unlink(kSocketPath.c_str());
    if (HasFailure()) std::printf("agent output:\n%s\n", read_file(log_path()).c_str());
    fs::remove_all(dir_);
  }

  fs::path log_path() const { return dir_ / "agent.log"; }
  fs::path journal_path() const { return dir_ / "journal.jsonl"; }
  std::string control_path() const { return (dir_ / "control.sock").string(); }

  // Starts the agent on `scenario` (none: the default scenario), accepts it and answers its hello.
  void start_agent(std::optional<json> scenario) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string_view v(*e);
      if (!v.starts_with("TARNVALE_VHOST")) env.emplace_back(v);
    }
    if (scenario) {
      std::ofstream(dir_ / "scenario.json") << scenario->dump(2);
      env.push_back("TARNVALE_VHOST=" + (dir_ / "scenario.json").string());
    }
    env.push_back("TARNVALE_VHOST_CONTROL=" + control_path());
    env.push_back("TARNVALE_VHOST_JOURNAL=" + journal_path().string());
    env.push_back("NO_COLOR=1");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log_path().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    char bin[] = TARNVALE_AGENT_BIN;
    char* argv[] = {bin, nullptr};
    ASSERT_EQ(::posix_spawn(&pid_, bin, &actions, nullptr, argv, envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);

    pollfd p{listen_fd_, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 20000), 1) << "the agent did not connect";
    conn_ = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(conn_, 0);
    auto hello = read_frame(conn_);
    ASSERT_TRUE(hello);
    EXPECT_EQ(json::parse(hello->body)["kind"], "agent");
    write_frame(conn_, {{"kind", "ok"}});
  }

  // The next JSON event of `kind`, skipping video frames and other events.
  std::optional<json> next_event(const std::string& kind) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline) {
      auto f = read_frame(conn_, 20s);
      if (!f) return std::nullopt;
      if (f->binary) continue;
      auto event = json::parse(f->body, nullptr, false);
      if (event.is_object() && event.value("kind", "") == kind) return event;
    }
    return std::nullopt;
  }

  // Waits for the agent to end after the link closed. False when it is still running.
  bool wait_exit(std::chrono::milliseconds limit = 15s) {
    int status = 0;
    const bool done = eventually([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (done) pid_ = -1;
    return done;
  }

  fs::path dir_;
  int listen_fd_ = -1;
  int conn_ = -1;
  pid_t pid_ = -1;
};

json mode(int w, int h, double refresh = 60) {
  return {{"width", w}, {"height", h}, {"refresh", refresh}};
}

TEST_F(AgentSession, ThreeDisplaysGiveThreeMonitorsInOrder) {
  json scenario = {
      {"displays",
       {{{"id", 5},
         {"modes",
          {mode(2560, 1440),
           mode(2560, 1440, 30),
           mode(1280, 720),
           {{"width", 1280}, {"height", 720}, {"scale", 2}, {"duplicate", true}}}}},
        {{"id", 17}, {"origin", {2560, 0}}, {"modes", {mode(1440, 1000), mode(1600, 900)}}},
        {{"id", 3}, {"origin", {-1024, 0}}, {"width", 1024}, {"height", 768}}}}};
  start_agent(scenario);
  auto event = next_event("monitors_changed");
  ASSERT_TRUE(event);
  const json expected = {
      {"monitors",
       {{{"id", "5"},
         {"name", "Display 1"},
         {"width", 2560},
         {"height", 1440},
         {"is_primary", true},
         {"is_selected", true},
         {"available_modes",
          {{{"width", 2560}, {"height", 1440}}, {{"width", 1280}, {"height", 720}}}}},
        {{"id", "17"},
         {"name", "Display 2"},
         {"width", 1440},
         {"height", 1000},
         {"is_primary", false},
         {"is_selected", false},
         {"available_modes",
          {{{"width", 1600}, {"height", 900}}, {{"width", 1440}, {"height", 1000}}}}},
        {{"id", "3"},
         {"name", "Display 3"},
         {"width", 1024},
         {"height", 768},
         {"is_primary", false},
         {"is_selected", false},
         {"available_modes", {{{"width", 1024}, {"height", 768}}}}}}}};
  EXPECT_EQ((*event)["list"], expected);
}

TEST_F(AgentSession, DefaultScenarioListsOneDisplay) {
  start_agent(std::nullopt);
  auto event = next_event("monitors_changed");
  ASSERT_TRUE(event);
  const auto& monitors = (*event)["list"]["monitors"];
  ASSERT_EQ(monitors.size(), 1u);
  EXPECT_EQ(monitors[0]["id"], "1");
  EXPECT_EQ(monitors[0]["width"], 1920);
  EXPECT_EQ(monitors[0]["available_modes"].size(), 4u);
  EXPECT_EQ(monitors[0]["available_modes"][0], json({{"width", 2560}, {"height", 1440}}));
}

TEST_F(AgentSession, ScreenRecordingRefusedGivesAnEmptyList) {
  start_agent(json{{"permissions", {{"screen_recording", false}}}});
  auto event = next_event("monitors_changed");
  ASSERT_TRUE(event);
  EXPECT_EQ(event->dump(), R"({"kind":"monitors_changed","list":{"monitors":[]}})");
  // The permission report asked for the grant once.
  auto journal = control(control_path(), {{"cmd", "journal"}});
  ASSERT_EQ(journal["journal"].size(), 1u) << journal.dump();
  EXPECT_EQ(journal["journal"][0], json({{"kind", "screen_capture_request"}, {"granted", false}}));
}

TEST_F(AgentSession, SetDisplayResolutionSwitchesAndTheEndRestores) {
  start_agent(std::nullopt);
  ASSERT_TRUE(next_event("monitors_changed"));

  write_frame(conn_, {{"kind", "set_display_resolution"}, {"width", 1280}, {"height", 720}});
  const json switched = {{"kind", "set_display_mode"},
                         {"display", 1},
                         {"width", 1280},
                         {"height", 720},
                         {"refresh", 60.0}};
  json journal;
  ASSERT_TRUE(eventually([&] {
    journal = control(control_path(), {{"cmd", "journal"}});
    return journal.value("journal", json::array()).size() >= 1;
  })) << journal.dump();
  EXPECT_EQ(journal["journal"][0], switched);
  auto state = control(control_path(), {{"cmd", "state"}});
  const auto& d = state["state"]["displays"][0];
  EXPECT_EQ(d["modes"][d["current"].get<int>()]["width"], 1280);

  write_frame(conn_, {{"kind", "set_display_resolution"}, {"width", 1111}, {"height", 777}});
  ASSERT_TRUE(eventually([&] {
    std::istringstream lines(read_file(log_path()));
    for (std::string line; std::getline(lines, line);) {
      if (line.find("WARN") != std::string::npos &&
          line.find("set_display_resolution failed") != std::string::npos &&
          line.find("width=1111") != std::string::npos &&
          line.find("height=777") != std::string::npos &&
          line.find("no 1111x777 display mode available on this monitor") != std::string::npos)
        return true;
    }
    return false;
  }));

  // Closing the link ends the session; on its way out the agent puts the original mode back.
  ::close(conn_);
  conn_ = -1;
  ASSERT_TRUE(wait_exit());
  auto entries = journal_file_entries(journal_path());
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], switched);
  EXPECT_EQ(entries[1], json({{"kind", "set_display_mode"},
                              {"display", 1},
                              {"width", 1920},
                              {"height", 1080},
                              {"refresh", 60.0}}));
}

}  // namespace
