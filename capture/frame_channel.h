// The hand-off of frames from the capture service's delivery queue to the capture thread: a
// bounded channel with one receiving end and any number of sending ends. Sending never waits: a
// frame that finds the channel full, or the receiving end gone, is dropped. The receiver waits
// with a time limit and learns when every sender is gone.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <utility>

#include "capture/screen_capture.h"

namespace tarnvale_capture {

namespace channel_detail {
struct Shared;
}

// A sending end. Copies are further senders; the channel counts as closed for the receiver once
// the last sender is destroyed. Any thread; one thread per object at a time.
class FrameSender {
 public:
  explicit FrameSender(std::shared_ptr<channel_detail::Shared> shared);
  FrameSender(const FrameSender& other);
  FrameSender& operator=(const FrameSender&) = delete;
  FrameSender(FrameSender&& other) noexcept = default;
  FrameSender& operator=(FrameSender&&) = delete;
  ~FrameSender();

  // Offers the frame without waiting. False (and the frame is dropped) when the channel is full or
  // the receiver is gone.
  bool try_send(Frame&& frame);

 private:
  std::shared_ptr<channel_detail::Shared> shared_;
};

// The receiving end. One thread.
class FrameReceiver {
 public:
  enum class Status { Frame, Timeout, Closed };

  explicit FrameReceiver(std::shared_ptr<channel_detail::Shared> shared);
  FrameReceiver(const FrameReceiver&) = delete;
  FrameReceiver& operator=(const FrameReceiver&) = delete;
  FrameReceiver(FrameReceiver&& other) noexcept = default;
  FrameReceiver& operator=(FrameReceiver&& other) noexcept;
  ~FrameReceiver();

  // Waits up to `timeout` for a frame. Frames still queued are handed out even after the last
  // sender is gone; `Closed` only comes when the queue is empty and no sender is left.
  Status receive(Frame& out, std::chrono::milliseconds timeout);

 private:
  void detach();
  std::shared_ptr<channel_detail::Shared> shared_;
};

// A channel holding at most `capacity` frames.
std::pair<FrameSender, FrameReceiver> frame_channel(std::size_t capacity);

}  // namespace tarnvale_capture
