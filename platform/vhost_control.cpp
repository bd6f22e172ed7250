// The control socket: tests outside the process drive the virtual host with one JSON command per
// line and read one JSON answer per line (commands in platform/README.md).
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "platform/vhost.h"
#include "platform/vhost_json.h"

namespace tarnvale_platform::vhost {
namespace {

using nlohmann::json;
constexpr std::string_view kTarget = "tarnvale_platform::vhost";
constexpr std::size_t kMaxLine = 64 * 1024;
constexpr std::size_t kMaxClients = 16;

json ok(json extra = json::object()) {
  extra["ok"] = true;
  return extra;
}
json refused(std::string error) {
  return {{"ok", false}, {"error", std::move(error)}};
}

std::optional<CGDirectDisplayID> display_arg(const json& cmd) {
  auto it = cmd.find("display");
  if (it == cmd.end()) return std::nullopt;
  auto n = as_unsigned(*it, 0xFFFFFFFFu);
  if (!n) return std::nullopt;
  return static_cast<CGDirectDisplayID>(*n);
}

json stats_json(const Stats& s) {
  return {{"content_queries", s.content_queries},
          {"streams_created", s.streams_created},
          {"streams_started", s.streams_started},
          {"streams_stopped", s.streams_stopped},
          {"streams_died", s.streams_died},
          {"streams_live", s.streams_live},
          {"image_deliveries", s.image_deliveries},
          {"idle_deliveries", s.idle_deliveries},
          {"mode_switches", s.mode_switches},
          {"screen_capture_requests", s.screen_capture_requests},
          {"accessibility_prompts", s.accessibility_prompts},
          {"appkit_loads", s.appkit_loads}};
}

json from_result(const tarnvale_base::Result<void>& r) {
  return r ? ok() : refused(r.error().what());
}

}  // namespace

json handle_control_command(const json& command) {
  if (!command.is_object()) return refused("a command must be a JSON object");
  auto cmd_it = command.find("cmd");
  if (cmd_it == command.end() || !cmd_it->is_string()) return refused("missing `cmd` (a string)");
  const std::string cmd = cmd_it->get<std::string>();
  auto host = VirtualHost::get();

  if (cmd == "ping") return ok();
  if (cmd == "state") {
    json displays = json::array();
    for (const auto& d : host->displays()) displays.push_back(display_to_json(d));
    return ok({{"state",
                {{"screen_recording", host->screen_recording()},
                 {"accessibility", host->accessibility()},
                 {"locked", host->locked()},
                 {"displays", displays}}}});
  }
  if (cmd == "stats") return ok({{"stats", stats_json(host->stats())}});
  if (cmd == "journal") {
    json entries = json::array();
    for (auto& e : host->journal()) entries.push_back(std::move(e));
    if (auto it = command.find("clear"); it != command.end() && *it == true) host->clear_journal();
    return ok({{"journal", entries}});
  }
  if (cmd == "lock") {
    auto it = command.find("locked");
    if (it == command.end() || !it->is_boolean()) return refused("`locked` must be true or false");
    host->set_locked(it->get<bool>());
    return ok();
  }
  if (cmd == "permissions") {
    bool any = false;
    for (const char* key : {"screen_recording", "accessibility"}) {
      auto it = command.find(key);
      if (it == command.end()) continue;
      if (!it->is_boolean()) return refused(std::string("`") + key + "` must be true or false");
      any = true;
    }
    if (!any) return refused("give `screen_recording` and/or `accessibility`");
    if (auto it = command.find("screen_recording"); it != command.end())
      host->set_screen_recording(it->get<bool>());
    if (auto it = command.find("accessibility"); it != command.end())
      host->set_accessibility(it->get<bool>());
    return ok();
  }
  if (cmd == "content") {
    auto id = display_arg(command);
    if (!id) return refused("`display` must be a display id");
    if (auto it = command.find("solid"); it != command.end()) {
      if (!it->is_array() || it->size() < 3 || it->size() > 4)
        return refused("`solid` must be [b, g, r] or [b, g, r, a]");
      std::uint8_t c[4] = {0, 0, 0, 255};
      for (std::size_t i = 0; i < it->size(); ++i) {
        const auto& v = (*it)[i];
        auto n = as_unsigned(v, 255);
        if (!n) return refused("`solid` values must be 0 to 255");
        c[i] = static_cast<std::uint8_t>(*n);
      }
      return from_result(host->set_solid(*id, c[0], c[1], c[2], c[3]));
    }
    auto it = command.find("content");
    if (it != command.end() && *it == "moving")
      return from_result(host->set_content(*id, Content::Moving));
    if (it != command.end() && *it == "static")
      return from_result(host->set_content(*id, Content::Static));
    return refused("`content` must be \"moving\" or \"static\", or give `solid`");
  }
  if (cmd == "add_display") {
    auto it = command.find("layout");
    if (it == command.end()) return refused("missing `layout` (a display as in the scenario file)");
    auto layout = display_from_json(*it);
    if (!layout) return refused(layout.error().what());
    return from_result(host->add_display(std::move(*layout)));
  }
  if (cmd == "remove_display") {
    auto id = display_arg(command);
    if (!id) return refused("`display` must be a display id");
    return from_result(host->remove_display(*id));
  }
  if (cmd == "fail_next") {
    auto call = command.find("call");
    if (call == command.end() || !call->is_string()) return refused("missing `call`");
    std::string description = "injected failure";
    if (auto it = command.find("error"); it != command.end() && it->is_string())
      description = it->get<std::string>();
    if (*call == "content_query") {
      std::size_t skip = 0;
      if (auto it = command.find("skip"); it != command.end()) {
        auto n = as_unsigned(*it, 1000);
        if (!n) return refused("`skip` must be a count of queries (0 to 1000)");
        skip = static_cast<std::size_t>(*n);
      }
      host->fail_next_content_query(description, skip);
      return ok();
    }
    if (*call == "stream_start") {
      host->fail_next_stream_start(description);
      return ok();
    }
    if (*call == "set_display_mode" || *call == "pixel_lock") {
      std::int64_t code = *call == "pixel_lock" ? kCVReturnError : kCGErrorFailure;
      if (auto it = command.find("code"); it != command.end()) {
        if (!it->is_number_integer() || it->get<std::int64_t>() < INT32_MIN ||
            it->get<std::int64_t>() > INT32_MAX || it->get<std::int64_t>() == 0)
          return refused("`code` must be a non-zero 32-bit integer");
        code = it->get<std::int64_t>();
      }
      if (*call == "pixel_lock") {
        host->fail_next_pixel_lock(static_cast<CVReturn>(code));
      } else {
        host->fail_next_set_display_mode(static_cast<CGError>(code));
      }
      return ok();
    }
    return refused(
        "unknown `call`; one of content_query, stream_start, set_display_mode, "
        "pixel_lock");
  }
  if (cmd == "kill_streams") return ok({{"killed", host->kill_streams()}});
  return refused("unknown command `" + cmd + "`");
}

namespace {

struct Client {
  int fd;
  std::string buffer;
};

void send_all(int fd, const std::string& text) {
  std::size_t off = 0;
  while (off < text.size()) {
    ssize_t n = ::send(fd, text.data() + off, text.size() - off, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // the peer went away; the read side notices
    off += static_cast<std::size_t>(n);
  }
}

// Answers every complete line in the client's buffer. False when the client must be dropped.
bool serve_lines(Client& c) {
  for (;;) {
    auto nl = c.buffer.find('\n');
    if (nl == std::string::npos) break;
    std::string line = c.buffer.substr(0, nl);
    c.buffer.erase(0, nl + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    json answer;
    json command = json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (command.is_discarded()) {
      answer = refused("not a JSON command");
    } else {
      answer = handle_control_command(command);
    }
    send_all(c.fd, answer.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
  }
  if (c.buffer.size() > kMaxLine) {
    send_all(c.fd, refused("command line longer than 65536 bytes").dump() + "\n");
    return false;
  }
  return true;
}

void serve(int listen_fd) {
  pthread_setname_np(pthread_self(), "kt-vhost-ctl");
  std::vector<Client> clients;
  for (;;) {
    std::vector<pollfd> fds;
    fds.push_back({listen_fd, POLLIN, 0});
    for (const auto& c : clients) fds.push_back({c.fd, POLLIN, 0});
    int n = ::poll(fds.data(), fds.size(), -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      tarnvale_base::log::error(kTarget, "virtual host control socket stopped",
                                {{"error", tarnvale_base::errno_error(errno)}});
      return;
    }
    std::vector<Client> keep;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      auto& c = clients[i];
      const auto revents = fds[i + 1].revents;
      bool alive = true;
      if (revents & (POLLIN | POLLHUP | POLLERR)) {
        char buf[4096];
        ssize_t got = ::recv(c.fd, buf, sizeof buf, 0);
        if (got > 0) {
          c.buffer.append(buf, static_cast<std::size_t>(got));
          alive = serve_lines(c);
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
          alive = false;
        }
      }
      if (alive) {
        keep.push_back(std::move(c));
      } else {
        ::close(c.fd);
      }
    }
    clients = std::move(keep);
    if (fds[0].revents & POLLIN) {
      int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        if (clients.size() >= kMaxClients) {
          ::close(fd);
        } else {
          clients.push_back({fd, {}});
        }
      }
    }
  }
}

std::atomic<bool> g_started{false};

}  // namespace

tarnvale_base::Result<void> start_control_server(const std::string& path) {
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path)
    return tarnvale_base::fail("control socket path is empty or too long: " + path);
  if (g_started.exchange(true)) return tarnvale_base::fail("the control socket is already running");
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    g_started = false;
    return tarnvale_base::fail(tarnvale_base::errno_error(errno).context("socket"));
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  ::unlink(path.c_str());
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
    auto err = tarnvale_base::errno_error(errno).context("bind " + path);
    ::close(fd);
    g_started = false;
    return tarnvale_base::fail(err);
  }
  std::thread([fd] { serve(fd); }).detach();
  tarnvale_base::log::info(kTarget, "virtual host control socket listening", {{"path", path}});
  return {};
}

}  // namespace tarnvale_platform::vhost
