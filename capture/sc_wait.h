// Blocking waits for the capture framework's asynchronous requests: the caller's thread waits
// until the completion handler has run on the framework's thread.
#pragma once

#include <future>
#include <memory>
#include <optional>
#include <utility>

#include "platform/sc.h"

namespace tarnvale_capture::sc_wait {

struct ContentAnswer {
  std::shared_ptr<const tarnvale_platform::SCShareableContent> content;
  std::optional<tarnvale_platform::NSError> error;
};

// The shareable content (desktop windows and off-screen windows included), or the framework's
// error.
inline ContentAnswer shareable_content() {
  auto promise = std::make_shared<std::promise<ContentAnswer>>();
  auto answer = promise->get_future();
  tarnvale_platform::SCShareableContent::getShareableContentExcludingDesktopWindows(
      false, false, [promise](auto content, auto error) {
        promise->set_value(ContentAnswer{std::move(content), std::move(error)});
      });
  return answer.get();
}

// Starts or stops `stream`; nullopt on success, else the framework's error.
inline std::optional<tarnvale_platform::NSError> start(tarnvale_platform::SCStream& stream) {
  auto promise = std::make_shared<std::promise<std::optional<tarnvale_platform::NSError>>>();
  auto answer = promise->get_future();
  stream.startCapture([promise](auto error) { promise->set_value(std::move(error)); });
  return answer.get();
}

inline std::optional<tarnvale_platform::NSError> stop(tarnvale_platform::SCStream& stream) {
  auto promise = std::make_shared<std::promise<std::optional<tarnvale_platform::NSError>>>();
  auto answer = promise->get_future();
  stream.stopCapture([promise](auto error) { promise->set_value(std::move(error)); });
  return answer.get();
}

}  // namespace tarnvale_capture::sc_wait
