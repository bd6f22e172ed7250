#include "capture/frame_channel.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace tarnvale_capture {
namespace channel_detail {

struct Shared {
  explicit Shared(std::size_t cap) : capacity(cap) {}
  std::mutex mu;
  std::condition_variable ready;
  std::deque<Frame> queue;
  const std::size_t capacity;
  std::size_t senders = 0;
  bool receiver_alive = true;
};

}  // namespace channel_detail

FrameSender::FrameSender(std::shared_ptr<channel_detail::Shared> shared)
    : shared_(std::move(shared)) {
  std::lock_guard lock(shared_->mu);
  ++shared_->senders;
}

FrameSender::FrameSender(const FrameSender& other) : FrameSender(other.shared_) {}

FrameSender::~FrameSender() {
  if (!shared_) return;  // moved from
  {
    std::lock_guard lock(shared_->mu);
    --shared_->senders;
  }
  shared_->ready.notify_all();
}

bool FrameSender::try_send(Frame&& frame) {
  {
    std::lock_guard lock(shared_->mu);
    if (!shared_->receiver_alive || shared_->queue.size() >= shared_->capacity) return false;
    shared_->queue.push_back(std::move(frame));
  }
  shared_->ready.notify_one();
  return true;
}

FrameReceiver::FrameReceiver(std::shared_ptr<channel_detail::Shared> shared)
    : shared_(std::move(shared)) {}

FrameReceiver& FrameReceiver::operator=(FrameReceiver&& other) noexcept {
  if (this != &other) {
    detach();
    shared_ = std::move(other.shared_);
  }
  return *this;
}

FrameReceiver::~FrameReceiver() {
  detach();
}

void FrameReceiver::detach() {
  if (!shared_) return;
  std::deque<Frame> dropped;
  {
    std::lock_guard lock(shared_->mu);
    shared_->receiver_alive = false;
    dropped.swap(shared_->queue);
  }
  shared_.reset();
}

FrameReceiver::Status FrameReceiver::receive(Frame& out, std::chrono::milliseconds timeout) {
  std::unique_lock lock(shared_->mu);
  shared_->ready.wait_for(lock, timeout,
                          [&] { return !shared_->queue.empty() || shared_->senders == 0; });
  if (!shared_->queue.empty()) {
    out = std::move(shared_->queue.front());
    shared_->queue.pop_front();
    return Status::Frame;
  }
  return shared_->senders == 0 ? Status::Closed : Status::Timeout;
}

std::pair<FrameSender, FrameReceiver> frame_channel(std::size_t capacity) {
  auto shared = std::make_shared<channel_detail::Shared>(capacity);
  return {FrameSender(shared), FrameReceiver(shared)};
}

}  // namespace tarnvale_capture
