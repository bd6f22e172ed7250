// Errors as values. An `Error` is a message with an optional cause; layers that add context wrap
// the inner error, and `what()` renders the whole chain joined by ": ", outermost first. Values are
// immutable and cheap to copy (the cause chain is shared), so any thread may hold and pass them.
#pragma once

#include <expected>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

namespace tarnvale_base {

class Error {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  // An operating-system or library error: the message is the code's description, the code is kept
  // so callers can tell "no such file" from "connection refused" without parsing text.
  explicit Error(std::error_code code) : message_(code.message()), code_(code) {}
  Error(std::string message, std::error_code code) : message_(std::move(message)), code_(code) {}

  // Returns a new error whose own message is `outer` and whose cause is this error.
  [[nodiscard]] Error context(std::string outer) const;

  // This layer's message alone.
  const std::string& message() const { return message_; }
  // The error one layer down, or nullptr.
  const Error* cause() const { return cause_.get(); }
  // The innermost error's code, or an empty code when the chain has none.
  std::error_code code() const;
  // The whole chain, outermost first: "connect daemon agent socket: connect /x: No such file".
  std::string what() const;

 private:
  std::string message_;
  std::error_code code_;
  std::shared_ptr<const Error> cause_;
};

template <class T>
using Result = std::expected<T, Error>;

// Shorthand for returning a failure from a function that returns `Result<T>`.
inline std::unexpected<Error> fail(std::string message) {
  return std::unexpected(Error(std::move(message)));
}
inline std::unexpected<Error> fail(Error error) { return std::unexpected(std::move(error)); }

// errno → Error, for C calls that report through errno.
inline Error errno_error(int err) { return Error(std::error_code(err, std::generic_category())); }

}  // namespace tarnvale_base
