#include "agent/imp.h"

#include <unistd.h>

#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/concurrent_channel.hpp>
#include <atomic>
#include <memory>
#include <mutex>
#include <variant>
#include <vector>

#include "base/log.h"
#include "capture/monitors.h"
#include "host-ipc/messages_handshake.h"
#include "platform/permissions.h"
#include "proto/host_control.h"

namespace tarnvale_host_agent {

namespace log = tarnvale_base::log;

void imp::report_permissions() {
  const bool screen_recording = tarnvale_platform::CGPreflightScreenCaptureAccess();
  if (!screen_recording) (void)tarnvale_platform::CGRequestScreenCaptureAccess();
  const tarnvale_platform::AXTrustedCheckOptions prompt{.prompt = true};
  const bool accessibility = tarnvale_platform::AXIsProcessTrustedWithOptions(&prompt);
  log::info(tarnvale_host_agent::kTarget, "agent TCC status at startup",
            {{"screen_recording", screen_recording}, {"accessibility", accessibility}});
}

namespace imp {
namespace {

namespace uds = tarnvale_host_ipc::uds;
using tarnvale_host_ipc::Hello;
using tarnvale_host_ipc::HelloAck;
using Clock = std::chrono::steady_clock;

constexpr auto kRelaxed = std::memory_order_relaxed;

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

// Which task ended first: 0 outbound, 1 inbound.
using TaskEnded = asio::experimental::concurrent_channel<void(std::error_code, int)>;

// The worker threads, started in this order once the handshake has succeeded:
//   "kt-capture-encode"  capture_encode_loop(handles, events, input)  (ERROR "capture loop exited")
//   "kt-cursor-probe"    cursor_probe_loop(events, stop, active_monitor_rect)
//   "kt-input-apply"     input_apply_loop(input receiver)
//   "kt-audio"           audio pump(stop, events)
//   "kt-lock-probe"      lock probe(stop, events)
// Each is a named, detached std::thread; a thread that cannot be created fails the session with
// the operating system's error, leaving the ones already started running.
Result<void> start_workers(const CaptureLoopHandles& handles, const OutboundQueue::Sender& events,
                           const InputQueue::Sender& input, InputQueue::Receiver input_receiver) {
  (void)handles;
  (void)input;
  // Until the producing workers run here, one producer's end is kept open for the life of the
  // process, as a running worker keeps its own: otherwise the queue would close as soon as the
  // driver lets go of its end, and the writer (with its heartbeat) would end with it.
  {
    static std::mutex mutex;
    static auto* held = new std::vector<OutboundQueue::Sender>();
    std::lock_guard lock(mutex);
    held->push_back(events);
  }
  // Until the input-apply thread exists its receiver goes here, so input commands are dropped
  // exactly as when that thread has ended.
  { InputQueue::Receiver dropped = std::move(input_receiver); }
  return {};
}

}  // namespace

// Not a coroutine itself: it hands back the session's own awaitable.
asio::awaitable<Result<void>> run() {
  return run(SessionOptions{});
}

asio::awaitable<Result<void>> run(SessionOptions options) {
  report_permissions();

  auto stream = co_await uds::connect_with_retry(options.socket_path, options.connect_attempts,
                                                 options.connect_delay);
  if (!stream) co_return std::unexpected(stream.error().context("connect daemon agent socket"));
  auto halves = uds::split(std::move(*stream));
  if (!halves) co_return std::unexpected(halves.error());

  const auto uid = ::getuid();
  const Hello hello = Hello::agent(uid);
  if (auto sent = co_await uds::write_framed(halves->write, hello); !sent) {
    co_return std::unexpected(sent.error());
  }
  // No time limit: a daemon that never answers keeps the agent waiting here.
  auto answer = co_await uds::read_framed<HelloAck>(halves->read);
  if (!answer) co_return std::unexpected(answer.error());
  if (!answer->is_ok()) {
    co_return tarnvale_base::fail("daemon rejected agent handshake: " + answer->debug_form());
  }
  log::info(kTarget, "connected to daemon; starting capture + input", {{"uid", uid}});

  auto handles = CaptureLoopHandles::create();
  auto [events, event_receiver] = OutboundQueue::create(kOutboundCapacity);
  auto [input, input_receiver] = InputQueue::create();

  if (auto started = start_workers(handles, events, input, std::move(input_receiver)); !started) {
    co_return std::unexpected(started.error());
  }

  if (auto monitors = tarnvale_capture::enumerate_monitors()) {
    for (auto& monitor : *monitors) monitor.is_selected = monitor.is_primary;
    // Non-waiting: when the queue is already full the one-off list is dropped.
    (void)events.try_send(
        AgentEvent::MonitorsChanged{tarnvale_proto::MonitorList{std::move(*monitors)}});
  }
  // From here the queue closes for the outbound task once every worker has let go of its end.
  events.release();

  auto executor = co_await asio::this_coro::executor;
  auto ended = std::make_shared<TaskEnded>(executor, 2);
  // A task that ends by an exception counts as ended too.
  asio::co_spawn(
      asio::make_strand(executor),
      outbound_task(std::move(halves->write), std::move(event_receiver), options.heartbeat_period),
      [ended](std::exception_ptr) { ended->try_send(std::error_code{}, 0); });
  asio::co_spawn(
      asio::make_strand(executor),
      inbound_task(std::move(halves->read),
                   InboundContext{std::move(input), handles,
                                  &tarnvale_capture::display_mode::set_display_resolution}),
      [ended](std::exception_ptr) { ended->try_send(std::error_code{}, 1); });

  auto [ec, which] =
      co_await ended->async_receive(asio::experimental::as_tuple(asio::use_awaitable));
  log::info(kTarget, which == 0 ? "outbound task ended" : "inbound task ended");
  // The other task is neither cancelled nor awaited: it goes with the runtime.
  co_return Result<void>{};
}

asio::awaitable<void> outbound_task(uds::WriteHalf write, OutboundQueue::Receiver events,
                                    Clock::duration heartbeat_period) {
  const AgentEvent heartbeat{AgentEvent::Heartbeat{}};
  auto next_tick = Clock::now();  // the first heartbeat is due at once
  for (;;) {
    auto next = co_await events.next(next_tick);
    Result<void> written;
    if (std::holds_alternative<tarnvale_base::queue::Closed>(next)) break;
    if (std::holds_alternative<tarnvale_base::queue::DeadlineReached>(next)) {
      // Ticks missed during a slow write are not skipped: they follow back to back.
      next_tick += heartbeat_period;
      written = co_await uds::write_framed(write, heartbeat);
    } else {
      const AgentEvent& event = std::get<AgentEvent>(next);
      if (const auto* frame = std::get_if<AgentEvent::Frame>(&event.value)) {
        written =
            co_await uds::write_video_frame(write, frame->pts_us, frame->keyframe, frame->data);
      } else {
        written = co_await uds::write_framed(write, event);
      }
    }
    if (!written) {
      log::warn(kTarget, "agent outbound: UDS write failed; daemon gone?");
      break;
    }
  }
  // Leaving releases the queue (closing it for the producers) and the write half (shutting down
  // the sending direction).
  events.release();
}

void dispatch(const AgentBound& message, InboundContext& context) {
  auto& h = context.handles;
  auto not_handled = [&] {
    log::debug(kTarget, "AgentBound not handled in v1", {{"other", message.debug_form()}});
  };
  std::visit(
      Overloaded{
          [](const AgentBound::HeartbeatPing&) {},  // no reply: the heartbeat is our own
          [&](const AgentBound::InjectInput& m) {
            (void)context.input.try_send(InputCmd{InputCmd::Input{m.event}});
          },
          [&](const AgentBound::ForceKeyframe&) { h.force_keyframe->store(true, kRelaxed); },
          [&](const AgentBound::SetQuality& m) {
            h.quality->store(tarnvale_proto::quality_index(m.quality), kRelaxed);
          },
          [&](const AgentBound::SetMonitor& m) {
            h.selected_monitor->set(m.id);
            (void)context.input.try_send(InputCmd{InputCmd::SetActiveMonitor{m.id}});
          },
          [&](const AgentBound::SetWallpaperRemoved&) {
            log::warn(kTarget, "set_wallpaper_removed failed",
                      {{"error", "set-wallpaper-removed not supported on this platform"}});
          },
          [&](const AgentBound::SetPaused& m) {
            h.paused->store(m.paused, kRelaxed);
            if (!m.paused) h.force_keyframe->store(true, kRelaxed);
          },
          [&](const AgentBound::SetDisplayResolution& m) {
            auto applied =
                context.set_display_resolution(h.selected_monitor->get(), m.width, m.height);
            if (applied) {
              log::info(kTarget, "set display resolution",
                        {{"w", applied->first}, {"h", applied->second}});
              h.force_keyframe->store(true, kRelaxed);
            } else {
              log::warn(kTarget, "set_display_resolution failed",
                        {{"error", applied.error()}, {"width", m.width}, {"height", m.height}});
            }
          },
          [&](const AgentBound::SetCaptureScale& m) {
            h.capture_scale->set(m.width == 0 || m.height == 0
                                     ? std::nullopt
                                     : std::optional(std::pair(m.width, m.height)));
          },
          // Locking the workstation, blocking local input and opening system panels arrive with
          // the host-control actions; until then they are logged like the other unhandled kinds.
          [&](const auto&) { not_handled(); },
      },
      message.value);
}

asio::awaitable<void> inbound_task(uds::ReadHalf read, InboundContext context) {
  for (;;) {
    auto message = co_await uds::read_framed<AgentBound>(read);
    if (!message) {
      log::info(kTarget, "daemon read loop ended", {{"error", message.error()}});
      context.handles.stop->store(true, kRelaxed);
      // Puts back the display mode an earlier change replaced; nothing to do about a failure.
      (void)context.set_display_resolution(std::nullopt, 0, 0);
      co_return;
    }
    dispatch(*message, context);
  }
}

}  // namespace imp
}  // namespace tarnvale_host_agent
