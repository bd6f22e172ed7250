#include "base/error.h"

namespace tarnvale_base {

Error Error::context(std::string outer) const {
  Error wrapped(std::move(outer));
  wrapped.cause_ = std::make_shared<const Error>(*this);
  return wrapped;
}

std::error_code Error::code() const {
  std::error_code found;
  for (const Error* e = this; e != nullptr; e = e->cause()) {
    if (e->code_) found = e->code_;
  }
  return found;
}

std::string Error::what() const {
  std::string out = message_;
  for (const Error* e = cause(); e != nullptr; e = e->cause()) {
    out += ": ";
    out += e->message_;
  }
  return out;
}

}  // namespace tarnvale_base
