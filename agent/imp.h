// The agent's session with the daemon: `run` reports the privacy permissions, connects, shakes
// hands, creates the state shared with the workers, announces the monitors, and then runs the
// outbound task (the only writer of the socket, with a 5-second heartbeat) and the inbound task
// (the only reader, which dispatches the daemon's commands) until the first of them ends.
//
// `run` is driven from the process entry on the multi-threaded runtime; the two tasks run on that
// runtime, each on its own strand. One process serves one session: there is no reconnection.
#pragma once

#include <asio.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/error.h"
#include "base/queue.h"
#include "host-ipc/messages_agent_bound.h"
#include "host-ipc/messages_agent_event.h"
#include "host-ipc/uds.h"
#include "host-session/capture_loop.h"
#include "host-session/input_loop.h"

namespace tarnvale_host_agent {

// Target of the start-up permission report alone.
inline constexpr std::string_view kTarget = "tarnvale_host_agent";

namespace imp {

using tarnvale_base::Result;
using tarnvale_host_ipc::AgentBound;
using tarnvale_host_ipc::AgentEvent;
using tarnvale_host_session::capture_loop::CaptureLoopHandles;
using tarnvale_host_session::input_loop::InputCmd;

inline constexpr std::string_view kTarget = "tarnvale_host_agent::imp";

using OutboundQueue = tarnvale_base::queue::BoundedQueue<AgentEvent>;
using InputQueue = tarnvale_base::queue::UnboundedQueue<InputCmd>;

inline constexpr std::size_t kOutboundCapacity = 8;
inline constexpr std::chrono::seconds kHeartbeatPeriod{5};
inline constexpr std::uint32_t kConnectAttempts = 120;
inline constexpr std::chrono::seconds kConnectDelay{1};

// The display-mode operation the inbound task calls (and, with no monitor and 0 x 0, the restore
// when the link ends). Replaceable so tests can see the calls.
using SetDisplayResolution = std::function<Result<std::pair<std::uint32_t, std::uint32_t>>(
    std::optional<std::string> monitor_id, std::uint32_t width, std::uint32_t height)>;

struct SessionOptions {
  std::string socket_path = tarnvale_host_ipc::uds::agent_socket_path();
  std::uint32_t connect_attempts = kConnectAttempts;
  std::chrono::steady_clock::duration connect_delay = kConnectDelay;
  std::chrono::steady_clock::duration heartbeat_period = kHeartbeatPeriod;
};

// Logs "agent TCC status at startup" with the Screen Recording state before any request and the
// Accessibility state (asking the system to prompt for both when they are missing).
void report_permissions();

// The session with the fixed socket path, 120 connect attempts 1 s apart and the 5 s heartbeat.
// Fails only before the session runs: connecting, the hello, the answer, a refused handshake, or a
// worker thread that cannot start. The end of the session itself is success.
asio::awaitable<Result<void>> run();
asio::awaitable<Result<void>> run(SessionOptions options);

// The only writer of the socket after the handshake. Writes a heartbeat at once and then every
// `heartbeat_period` (ticks missed during a slow write follow back to back), every queued event as
// a JSON frame and every `frame` event as a binary frame. Ends when the queue is closed and empty,
// or after the first failed write (logged at WARN); releases the queue and the write half.
asio::awaitable<void> outbound_task(tarnvale_host_ipc::uds::WriteHalf write,
                                    OutboundQueue::Receiver events,
                                    std::chrono::steady_clock::duration heartbeat_period);

// What the inbound task owns for the length of the session.
struct InboundContext {
  InputQueue::Sender input;
  CaptureLoopHandles handles;
  SetDisplayResolution set_display_resolution;
};

// Carries out one daemon command (see the table in imp.cpp). Never writes to the daemon.
void dispatch(const AgentBound& message, InboundContext& context);

// The only reader of the socket after the handshake: reads and dispatches one message at a time
// until a read or decode fails, then logs "daemon read loop ended", sets `stop`, restores the
// display mode and ends (releasing its input-queue sender).
asio::awaitable<void> inbound_task(tarnvale_host_ipc::uds::ReadHalf read, InboundContext context);

}  // namespace imp
}  // namespace tarnvale_host_agent
