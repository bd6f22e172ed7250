// tarnvale-devd: the development daemon. Listens on the agent socket, answers the agent's hello as
// asked, sends the messages of a script, and records everything the agent sends to an output
// folder (events.jsonl, summary.json). Whatever the agent sends, it records and carries on.
//
//   tarnvale-devd [--socket PATH] [--out DIR] [--hello MODE] [--script FILE] [--duration SECONDS]
//                 [--once]
//
// --hello: ok (default), version_mismatch:N, rejected:REASON, never (no answer), or raw:TEXT
// (TEXT sent as the answer's frame body as it stands, for malformed answers).
// Script: one JSON value per line, run in order once the agent is accepted: a message object to
// send as a JSON frame, {"wait_ms":N}, {"close":true} (end the session), {"stop_reading":true} /
// {"resume_reading":true} (stop and resume reading what the agent sends). Blank lines and lines
// starting with # are skipped.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <fmt/format.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/devd/event_check.h"

namespace {

// Keys stay in the order they arrived, so events.jsonl shows what the agent wrote.
using json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kMaxFrameLen = 67'108'864;
constexpr std::uint32_t kBinaryBit = 0x80000000u;
constexpr const char* kDefaultSocket = "/Library/Application Support/Tarnvale/run/agent.sock";

struct Options {
  std::string socket = kDefaultSocket;
  std::string out = "out/devd";
  std::string hello = "ok";
  std::string script;
  double duration_s = 0;  // 0: until the agent or the script ends the session
  bool once = false;
};

std::atomic<int> g_listen_fd{-1};
std::atomic<int> g_conn_fd{-1};
std::atomic<bool> g_quit{false};

extern "C" void on_signal(int) {
  g_quit = true;
  // Both calls are async-signal-safe; they wake the blocked accept and reads.
  if (int fd = g_conn_fd.load(); fd >= 0) ::shutdown(fd, SHUT_RDWR);
  if (int fd = g_listen_fd.load(); fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

bool write_all(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool send_json_frame(int fd, std::mutex& write_mutex, const std::string& body) {
  std::uint32_t n = static_cast<std::uint32_t>(body.size());
  unsigned char head[4] = {static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
                           static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)};
  std::lock_guard lock(write_mutex);
  return write_all(fd, head, 4) && write_all(fd, body.data(), body.size());
}

// 0: complete, 1: clean end before the first byte, -1: end or error inside.
int read_exact(int fd, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::recv(fd, p + got, n - got, 0);
    if (r == 0) return got == 0 ? 1 : -1;
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    got += static_cast<size_t>(r);
  }
  return 0;
}

struct Frame {
  bool binary = false;
  std::string body;
};

// Reads one frame. Nullopt at the end of the stream; `error` says why when it was not a clean end.
std::optional<Frame> read_frame(int fd, std::string& error) {
  unsigned char head[4];
  int r = read_exact(fd, head, 4);
  if (r != 0) {
    if (r < 0) error = "stream ended inside a frame header";
    return std::nullopt;
  }
  std::uint32_t h = (std::uint32_t{head[0]} << 24) | (std::uint32_t{head[1]} << 16) |
                    (std::uint32_t{head[2]} << 8) | head[3];
  Frame f;
  f.binary = (h & kBinaryBit) != 0;
  std::uint32_t len = h & ~kBinaryBit;
  if (len > kMaxFrameLen) {
    error = fmt::format("frame too large: {}", len);
    return std::nullopt;
  }
  f.body.resize(len);
  if (len > 0 && read_exact(fd, f.body.data(), len) != 0) {
    error = "stream ended inside a frame body";
    return std::nullopt;
  }
  return f;
}

// What one session saw; the recorder thread alone writes it.
struct Session {
  Clock::time_point accepted = Clock::now();
  std::optional<Clock::time_point> answered;
  std::ofstream events;
  json hello;
  std::string answer;
  std::uint64_t frames = 0, key_frames = 0, video_bytes = 0, bytes_received = 0;
  std::uint64_t heartbeats = 0, malformed = 0, messages_sent = 0;
  std::map<std::string, std::uint64_t> by_kind, undecodable;
  json malformed_examples = json::array();
  json heartbeat_times_ms = json::array();
  std::optional<double> first_frame_ms, first_video_ms, last_video_ms;
  std::string end = "agent closed";

  double since_accept_ms() const {
    return std::chrono::duration<double, std::milli>(Clock::now() - accepted).count();
  }
  double since_answer_ms(double t) const {
    double answered_at =
        answered ? std::chrono::duration<double, std::milli>(*answered - accepted).count() : 0;
    return t - answered_at;
  }
  void line(json entry) {
    events << entry.dump(-1, ' ', false, json::error_handler_t::replace) << '\n';
  }
  void note_malformed(double t, const std::string& why) {
    ++malformed;
    if (malformed_examples.size() < 20) malformed_examples.push_back(why);
    line({{"t_ms", t}, {"malformed", why}});
  }

  void record(const Frame& f) {
    const double t = since_accept_ms();
    bytes_received += 4 + f.body.size();
    if (answered && !first_frame_ms) first_frame_ms = since_answer_ms(t);
    if (f.binary) {
      if (f.body.size() < 9) {
        note_malformed(t, fmt::format("binary frame body of {} bytes", f.body.size()));
        return;
      }
      std::uint64_t pts = 0;
      for (int i = 0; i < 8; ++i) pts = (pts << 8) | static_cast<unsigned char>(f.body[i]);
      const bool key = f.body[8] != 0;
      ++frames;
      key_frames += key ? 1 : 0;
      video_bytes += f.body.size() - 9;
      ++by_kind["frame"];
      if (!first_video_ms) first_video_ms = since_answer_ms(t);
      last_video_ms = since_answer_ms(t);
      line({{"t_ms", t},
            {"frame", {{"pts_us", pts}, {"keyframe", key}, {"size", f.body.size() - 9}}}});
      return;
    }
    json event = json::parse(f.body, nullptr, false);
    if (event.is_discarded()) {
      note_malformed(t, "not JSON: " + f.body.substr(0, 200));
      return;
    }
    if (auto bad = tarnvale_devd::check_event(nlohmann::json(event))) {
      std::string kind = event.is_object() && event.contains("kind") && event["kind"].is_string()
                             ? event["kind"].get<std::string>()
                             : "?";
      ++undecodable[kind];
      line({{"t_ms", t}, {"event", event}, {"undecodable", *bad}});
      return;
    }
    const std::string kind = event["kind"].get<std::string>();
    ++by_kind[kind];
    if (kind == "heartbeat") {
      ++heartbeats;
      heartbeat_times_ms.push_back(since_answer_ms(t));
    }
    line({{"t_ms", t}, {"event", std::move(event)}});
  }

  json summary() const {
    json s = {
        {"hello", hello},
        {"answer", answer},
        {"end", end},
        {"duration_ms", since_accept_ms()},
        {"frames", frames},
        {"key_frames", key_frames},
        {"video_bytes", video_bytes},
        {"bytes_received", bytes_received},
        {"heartbeats", heartbeats},
        {"heartbeat_times_ms", heartbeat_times_ms},
        {"events_by_kind", by_kind},
        {"first_frame_latency_ms", first_frame_ms ? json(*first_frame_ms) : json()},
        {"first_video_frame_latency_ms", first_video_ms ? json(*first_video_ms) : json()},
        {"malformed", malformed},
        {"malformed_examples", malformed_examples},
        {"undecodable_events", undecodable},
        {"messages_sent", messages_sent},
    };
    if (frames > 1 && last_video_ms && first_video_ms && *last_video_ms > *first_video_ms) {
      s["video_fps"] = (frames - 1) * 1000.0 / (*last_video_ms - *first_video_ms);
    } else {
      s["video_fps"] = nullptr;
    }
    return s;
  }
};

// The answer frame body for --hello, or nullopt for "never".
std::optional<std::string> answer_body(const std::string& mode) {
  if (mode == "ok") return R"({"kind":"ok"})";
  if (mode == "never") return std::nullopt;
  if (mode.starts_with("version_mismatch:")) {
    return json{{"kind", "version_mismatch"}, {"service_version", std::stoul(mode.substr(17))}}
        .dump();
  }
  if (mode.starts_with("rejected:")) {
    return json{{"kind", "rejected"}, {"reason", mode.substr(9)}}.dump();
  }
  if (mode.starts_with("raw:")) return mode.substr(4);
  throw std::invalid_argument("unknown --hello mode: " + mode);
}

// Shared between the reader, the script runner and the duration timer of one session.
struct Control {
  std::mutex mutex;
  std::condition_variable changed;
  bool ended = false;
  bool reading = true;
  std::string end_reason;

  // Ends the session once: no more reads or writes in either direction.
  void close(int fd, const std::string& why) {
    std::lock_guard lock(mutex);
    if (ended) return;
    ended = true;
    end_reason = why;
    ::shutdown(fd, SHUT_RDWR);
    changed.notify_all();
  }
  // Waits up to `d`; false when the session ended meanwhile.
  bool wait(Clock::duration d) {
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, d, [&] { return ended; });
  }
};

void run_script(const Options& opt, int fd, Control& control, std::mutex& write_mutex,
                std::atomic<std::uint64_t>& sent) {
  std::ifstream in(opt.script);
  std::string text;
  while (std::getline(in, text)) {
    if (text.empty() || text[0] == '#') continue;
    json step = json::parse(text, nullptr, false);
    if (step.is_discarded() || !step.is_object()) {
      std::fprintf(stderr, "devd: skipping script line that is not a JSON object: %s\n",
                   text.c_str());
      continue;
    }
    if (step.contains("wait_ms")) {
      if (!control.wait(std::chrono::milliseconds(step["wait_ms"].get<std::int64_t>()))) return;
    } else if (step.contains("close")) {
      control.close(fd, "script close");
      return;
    } else if (step.contains("stop_reading") || step.contains("resume_reading")) {
      std::lock_guard lock(control.mutex);
      control.reading = step.contains("resume_reading");
      control.changed.notify_all();
    } else {
      if (!send_json_frame(fd, write_mutex, step.dump())) return;
      ++sent;
    }
  }
}

void serve(const Options& opt, int fd) {
  std::filesystem::create_directories(opt.out);
  Session session;
  session.events.open(std::filesystem::path(opt.out) / "events.jsonl", std::ios::trunc);
  Control control;
  std::mutex write_mutex;
  std::atomic<std::uint64_t> sent{0};

  std::string error;
  auto hello = read_frame(fd, error);
  if (hello && !hello->binary) {
    session.hello = json::parse(hello->body, nullptr, false);
    if (session.hello.is_discarded()) session.hello = hello->body;
    session.line({{"t_ms", session.since_accept_ms()}, {"hello", session.hello}});
  } else if (hello) {
    session.note_malformed(session.since_accept_ms(), "binary frame in place of the hello");
  }

  std::thread timer, script;
  if (hello) {
    auto body = answer_body(opt.hello);
    session.answer = body ? *body : "never";
    if (body && send_json_frame(fd, write_mutex, *body)) session.answered = Clock::now();
    if (opt.duration_s > 0) {
      timer = std::thread([&] {
        auto d = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(opt.duration_s));
        if (control.wait(d)) control.close(fd, "duration");
      });
    }
    if (!opt.script.empty() && body && opt.hello == "ok") {
      script = std::thread([&] { run_script(opt, fd, control, write_mutex, sent); });
    }
    for (;;) {
      {
        std::unique_lock lock(control.mutex);
        control.changed.wait(lock, [&] { return control.reading || control.ended; });
        if (control.ended) break;
      }
      auto f = read_frame(fd, error);
      if (!f) break;
      session.record(*f);
    }
    if (!error.empty()) session.note_malformed(session.since_accept_ms(), error);
  } else if (!error.empty()) {
    session.note_malformed(session.since_accept_ms(), "hello: " + error);
  }
  {
    std::lock_guard lock(control.mutex);
    if (!control.end_reason.empty()) session.end = control.end_reason;
    if (g_quit) session.end = "devd stopped";
  }
  control.close(fd, session.end);
  if (script.joinable()) script.join();
  if (timer.joinable()) timer.join();
  session.messages_sent = sent;
  session.events.flush();
  std::ofstream(std::filesystem::path(opt.out) / "summary.json", std::ios::trunc)
      << session.summary().dump(2) << '\n';
}

int listen_on(const std::string& path) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    std::fprintf(stderr, "devd: socket path too long: %s\n", path.c_str());
    return -1;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  ::unlink(path.c_str());  // a stale socket from an earlier run
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(fd, 4) != 0) {
    std::fprintf(stderr, "devd: listen %s: %s\n", path.c_str(), std::strerror(errno));
    return -1;
  }
  return fd;
}

int usage() {
  std::fprintf(stderr,
               "usage: tarnvale-devd [--socket PATH] [--out DIR] [--hello ok|version_mismatch:N|"
               "rejected:REASON|never|raw:TEXT] [--script FILE] [--duration SECONDS] [--once]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (a == "--once") {
      opt.once = true;
    } else if ((a == "--socket" || a == "--out" || a == "--hello" || a == "--script" ||
                a == "--duration") &&
               (v = value()) != nullptr) {
      if (a == "--socket") opt.socket = v;
      if (a == "--out") opt.out = v;
      if (a == "--hello") opt.hello = v;
      if (a == "--script") opt.script = v;
      if (a == "--duration") opt.duration_s = std::atof(v);
    } else {
      return usage();
    }
  }
  try {
    (void)answer_body(opt.hello);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "devd: %s\n", e.what());
    return usage();
  }
  if (!opt.script.empty() && !std::ifstream(opt.script)) {
    std::fprintf(stderr, "devd: cannot read script %s\n", opt.script.c_str());
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  int listen_fd = listen_on(opt.socket);
  if (listen_fd < 0) return 1;
  g_listen_fd = listen_fd;
  std::printf("devd: listening on %s\n", opt.socket.c_str());
  std::fflush(stdout);

  while (!g_quit) {
    int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EINTR && !g_quit) continue;
      break;
    }
    g_conn_fd = fd;
    if (g_quit) ::shutdown(fd, SHUT_RDWR);
    serve(opt, fd);
    g_conn_fd = -1;
    ::close(fd);
    std::printf("devd: session ended; summary in %s/summary.json\n", opt.out.c_str());
    std::fflush(stdout);
    if (opt.once) break;
  }
  g_listen_fd = -1;
  ::close(listen_fd);
  ::unlink(opt.socket.c_str());
  return 0;
}
