// The virtual host: a simulated Mac inside the process that serves every call of the platform
// seam on Linux. It holds the permissions, the displays (id, origin, modes, framebuffer content),
// the screen-lock state and a journal of what the program asked the system to do, and it runs the
// capture streams. Tests drive it through this control API; from outside the process it is set up
// by the scenario file named by TARNVALE_VHOST and driven through the control socket named by
// TARNVALE_VHOST_CONTROL (platform/README.md describes both).
//
// There is one process-wide host, made on first use (`get`). Any thread may call any method; the
// host serialises its state behind one mutex and never calls out while holding it. `reset`
// replaces the host: streams made on the old one keep it alive until they are released, so a
// reset never pulls state from under a running stream.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/error.h"
#include "platform/cg_display.h"
#include "platform/media.h"
#include "platform/sc.h"

namespace tarnvale_platform::vhost {

// What a display shows.
enum class Content {
  Moving,  // a test picture that changes every refresh and shows a frame counter (the default)
  Static,  // the same test picture, frozen: after the first frame a stream has nothing new
  Pixels,  // an image set by a test (`set_pixels`)
};

struct DisplayLayout {
  CGDirectDisplayID id = 1;
  std::int32_t x = 0;  // origin in desktop coordinates (points)
  std::int32_t y = 0;
  // The display's modes in the system's order. `display` and `io_mode_id` are filled by the host.
  std::vector<CGDisplayMode> modes;
  std::size_t current_mode = 0;  // index into `modes`
  Content content = Content::Moving;
};

// A mode of `width` x `height` points at `refresh` Hz, one pixel per point.
CGDisplayMode make_mode(std::uint32_t width, std::uint32_t height, double refresh = 60);
// A scaled duplicate: `width` x `height` points drawn at `scale` pixels per point.
CGDisplayMode make_scaled_mode(std::uint32_t width, std::uint32_t height, std::uint32_t scale,
                               double refresh = 60);

struct Scenario {
  bool screen_recording = true;
  bool accessibility = true;
  bool locked = false;
  bool in_session = true;  // false: there is no login session dictionary
  std::vector<DisplayLayout> displays;

  // One 1920x1080 display with id 1 at the origin, modes 1920x1080 at 60 and 30 Hz, 2560x1440 and
  // 1920x1080 as scaled duplicates, 1280x720, 1024x768; moving content; unlocked; every
  // permission granted.
  static Scenario default_scenario();
  // The JSON scenario format (platform/README.md). Errors name the offending key.
  static tarnvale_base::Result<Scenario> parse(std::string_view json_text);
  static tarnvale_base::Result<Scenario> load(const std::string& path);
};

// Counters tests wait on. Every change wakes `wait_for`.
struct Stats {
  std::uint64_t content_queries = 0;
  std::uint64_t streams_created = 0;
  std::uint64_t streams_started = 0;
  std::uint64_t streams_stopped = 0;  // by stopCapture
  std::uint64_t streams_died = 0;     // by `kill_streams`, or because their display went away
  std::uint64_t streams_live = 0;     // started and neither stopped, dead nor released
  std::uint64_t image_deliveries = 0;
  std::uint64_t idle_deliveries = 0;
  std::uint64_t mode_switches = 0;
  std::uint64_t screen_capture_requests = 0;
  std::uint64_t accessibility_prompts = 0;
  std::uint64_t appkit_loads = 0;
};

namespace detail {
struct State;
}

class VirtualHost : public std::enable_shared_from_this<VirtualHost> {
 public:
  // The process-wide host. The first call reads TARNVALE_VHOST (a scenario file; an unreadable or
  // invalid one is logged and the default scenario used) and starts the control socket when
  // TARNVALE_VHOST_CONTROL names one.
  static std::shared_ptr<VirtualHost> get();
  // Replaces the process-wide host with a fresh one in `scenario`, and returns it.
  static std::shared_ptr<VirtualHost> reset(Scenario scenario = Scenario::default_scenario());

  explicit VirtualHost(Scenario scenario);
  ~VirtualHost();
  VirtualHost(const VirtualHost&) = delete;
  VirtualHost& operator=(const VirtualHost&) = delete;

  // --- permissions and session
  void set_screen_recording(bool granted);
  void set_accessibility(bool granted);
  bool screen_recording() const;
  bool accessibility() const;
  void set_locked(bool locked);
  bool locked() const;
  void set_in_session(bool in_session);

  // --- displays
  tarnvale_base::Result<void> add_display(DisplayLayout display);
  // Removes the display; its running streams die.
  tarnvale_base::Result<void> remove_display(CGDirectDisplayID id);
  std::vector<DisplayLayout> displays() const;
  std::optional<DisplayLayout> display(CGDirectDisplayID id) const;
  tarnvale_base::Result<void> set_content(CGDirectDisplayID id, Content content);
  // Shows a `width` x `height` BGRA image (rows of exactly width * 4 bytes); scaled to the mode.
  tarnvale_base::Result<void> set_pixels(CGDirectDisplayID id, std::uint32_t width,
                                         std::uint32_t height, std::vector<std::uint8_t> bgra);
  // Shows one colour (B, G, R, A bytes in the order of the pixels).
  tarnvale_base::Result<void> set_solid(CGDirectDisplayID id, std::uint8_t b, std::uint8_t g,
                                        std::uint8_t r, std::uint8_t a = 255);

  // --- failures for the next call of a kind; each is used up by the call it fails
  // The content query after `skip` successful ones fails with `description`.
  void fail_next_content_query(std::string description, std::size_t skip = 0);
  void fail_next_stream_start(std::string description);
  void fail_next_set_display_mode(CGError error);
  void fail_next_pixel_lock(CVReturn status = kCVReturnError);

  // --- streams
  // Every running stream dies: it lets go of its outputs (so their owners see the stream closed)
  // and tells its delegate. Returns how many died.
  std::size_t kill_streams();

  // --- observation
  Stats stats() const;
  // Waits until `pred(stats())` holds or `timeout` passes; returns whether it held.
  bool wait_for(const std::function<bool(const Stats&)>& pred,
                std::chrono::milliseconds timeout) const;
  // What the program asked the system to do, oldest first: mode switches, permission requests.
  std::vector<nlohmann::json> journal() const;
  void record(nlohmann::json entry);
  void clear_journal();

  // --- serving the platform calls (used by the seam's own implementation)
  detail::State& state() { return *state_; }

 private:
  std::unique_ptr<detail::State> state_;
};

// Starts the control socket at `path` (one JSON command per line, one answer per line) on its
// own thread, acting on whatever host `VirtualHost::get` returns at each command. An existing
// socket file at `path` is replaced. At most one server per process; a second call fails.
tarnvale_base::Result<void> start_control_server(const std::string& path);

// Carries out one control command and returns its answer (what the socket writes back).
nlohmann::json handle_control_command(const nlohmann::json& command);

}  // namespace tarnvale_platform::vhost
