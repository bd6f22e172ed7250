// The process-wide structured log. Every event has a level, a target (the emitting module path),
// a constant message and named fields, and is written as one line to standard output:
//   2026-12-11T05:56:53.123456Z  INFO tarnvale_host_agent::imp: connected to daemon uid=501
// Any thread may log at any time; lines never interleave. The filter is set once at start from
// the environment (see `Filter::parse`); until `install` runs, the filter is "info".
#pragma once

#include <concepts>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/error.h"

namespace tarnvale_base::log {

enum class Level : std::uint8_t { Error = 1, Warn = 2, Info = 3, Debug = 4, Trace = 5 };

std::string_view level_name(Level level);

// A named field, rendered to text when the event is built.
struct Field {
  std::string_view name;
  std::string value;

  Field(std::string_view n, std::string v) : name(n), value(std::move(v)) {}
  Field(std::string_view n, std::string_view v) : name(n), value(v) {}
  Field(std::string_view n, const char* v) : name(n), value(v) {}
  Field(std::string_view n, bool v) : name(n), value(v ? "true" : "false") {}
  Field(std::string_view n, const Error& e) : name(n), value(e.what()) {}
  template <class T>
  requires(std::integral<T> && !std::same_as<T, bool>) Field(std::string_view n, T v)
      : name(n), value(std::to_string(v)) {}
  Field(std::string_view n, double v);
};

// A log filter: bare levels ("debug") that match every target and "module::path=level" directives
// that match a target equal to the path or below it ("a::b" matches "a::b" and "a::b::c", not
// "a::bc"). The most specific matching directive decides; an event no directive matches is hidden.
class Filter {
 public:
  // The single directive "info".
  Filter();
  // Parses a comma-separated list of directives. An absent value, an empty one, text that is not
  // valid UTF-8, or any directive that does not parse gives the default filter "info".
  static Filter parse(std::optional<std::string_view> directives);
  // `parse` on the value of the environment variable `TARNVALE_LOG`.
  static Filter from_environment();

  bool enabled(std::string_view target, Level level) const;

 private:
  struct Directive {
    std::string path;  // empty for a bare level
    Level level;
  };
  std::vector<Directive> directives_;  // most specific first
};

// Colours are on unless NO_COLOR is set to a non-empty value.
bool colour_from_environment();

// Installs the process-wide filter and colour choice. Called once, at start, before other threads.
void install(Filter filter, bool colour);

bool enabled(std::string_view target, Level level);

// Builds and writes one event if the filter lets it through.
void emit(Level level, std::string_view target, std::string_view message,
          std::initializer_list<Field> fields = {});

inline void error(std::string_view target, std::string_view message,
                  std::initializer_list<Field> fields = {}) {
  emit(Level::Error, target, message, fields);
}
inline void warn(std::string_view target, std::string_view message,
                 std::initializer_list<Field> fields = {}) {
  emit(Level::Warn, target, message, fields);
}
inline void info(std::string_view target, std::string_view message,
                 std::initializer_list<Field> fields = {}) {
  emit(Level::Info, target, message, fields);
}
inline void debug(std::string_view target, std::string_view message,
                  std::initializer_list<Field> fields = {}) {
  emit(Level::Debug, target, message, fields);
}
inline void trace(std::string_view target, std::string_view message,
                  std::initializer_list<Field> fields = {}) {
  emit(Level::Trace, target, message, fields);
}

// One event as tests see it.
struct Record {
  Level level;
  std::string target;
  std::string message;
  std::vector<std::pair<std::string, std::string>> fields;

  // The value of the named field, or nullopt.
  std::optional<std::string> field(std::string_view name) const;
};

// While alive, records every event whatever the filter (lines are still written only when the
// filter lets them through), so tests can check what was logged. One at a time per process.
class ScopedCapture {
 public:
  ScopedCapture();
  ~ScopedCapture();
  ScopedCapture(const ScopedCapture&) = delete;
  ScopedCapture& operator=(const ScopedCapture&) = delete;

  std::vector<Record> records() const;
  // Records whose message equals `message`.
  std::vector<Record> find(std::string_view message) const;
};

// Renders a field value for a log line: bare when it is a plain token, otherwise in double quotes
// with quotes, backslashes and control characters escaped.
std::string quote_value(std::string_view value);

}  // namespace tarnvale_base::log
