#include "base/log.h"

#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <fmt/format.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>

namespace tarnvale_base::log {
namespace {

struct State {
  std::mutex mutex;  // guards filter, colour and capture
  Filter filter;
  bool colour = colour_from_environment();
  std::vector<Record>* capture = nullptr;
  std::shared_ptr<spdlog::logger> out;

  State() {
    auto sink = std::make_shared<spdlog::sinks::stdout_sink_mt>();
    out = std::make_shared<spdlog::logger>("tarnvale", std::move(sink));
    out->set_pattern("%v");
    out->set_level(spdlog::level::trace);
    out->flush_on(spdlog::level::trace);
  }
};

State& state() {
  // Never destroyed: workers may log while the process is exiting.
  static State* s = new State();
  return *s;
}

std::optional<Level> parse_level(std::string_view text) {
  std::string lower;
  for (char c : text)
    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  if (lower == "error") return Level::Error;
  if (lower == "warn") return Level::Warn;
  if (lower == "info") return Level::Info;
  if (lower == "debug") return Level::Debug;
  if (lower == "trace") return Level::Trace;
  return std::nullopt;
}

bool valid_utf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80           ? 1
                 : (c >> 5) == 0x6  ? 2
                 : (c >> 4) == 0xE  ? 3
                 : (c >> 3) == 0x1E ? 4
                                    : 0;
    if (len == 0 || i + len > s.size()) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += len;
  }
  return true;
}

bool valid_path(std::string_view path) {
  if (path.empty()) return false;
  for (char c : path) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == ':' || c == '-')) {
      return false;
    }
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string timestamp() {
  auto now = std::chrono::system_clock::now();
  auto since = now.time_since_epoch();
  auto secs = std::chrono::duration_cast<std::chrono::seconds>(since);
  auto micros = std::chrono::duration_cast<std::chrono::microseconds>(since - secs).count();
  std::time_t t = static_cast<std::time_t>(secs.count());
  std::tm tm{};
  gmtime_r(&t, &tm);
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:06}Z", tm.tm_year + 1900, tm.tm_mon + 1,
                     tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, micros);
}

std::string_view level_colour(Level level) {
  switch (level) {
    case Level::Error:
      return "\x1b[31m";
    case Level::Warn:
      return "\x1b[33m";
    case Level::Info:
      return "\x1b[32m";
    case Level::Debug:
      return "\x1b[34m";
    case Level::Trace:
      return "\x1b[35m";
  }
  return "";
}

}  // namespace

std::string_view level_name(Level level) {
  switch (level) {
    case Level::Error:
      return "ERROR";
    case Level::Warn:
      return "WARN";
    case Level::Info:
      return "INFO";
    case Level::Debug:
      return "DEBUG";
    case Level::Trace:
      return "TRACE";
  }
  return "?";
}

Field::Field(std::string_view n, double v) : name(n), value(fmt::format("{}", v)) {}

Filter::Filter() : directives_{{"", Level::Info}} {}

Filter Filter::parse(std::optional<std::string_view> directives) {
  if (!directives || !valid_utf8(*directives)) return Filter();
  Filter f;
  f.directives_.clear();
  std::string_view rest = *directives;
  while (true) {
    size_t comma = rest.find(',');
    std::string_view item = trim(rest.substr(0, comma));
    if (item.empty()) return Filter();
    size_t eq = item.find('=');
    if (eq == std::string_view::npos) {
      auto level = parse_level(item);
      if (!level) return Filter();
      f.directives_.push_back({"", *level});
    } else {
      std::string_view path = trim(item.substr(0, eq));
      auto level = parse_level(trim(item.substr(eq + 1)));
      if (!valid_path(path) || !level) return Filter();
      f.directives_.push_back({std::string(path), *level});
    }
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  // Longest path first; a later directive for the same path wins over an earlier one.
  std::reverse(f.directives_.begin(), f.directives_.end());
  std::stable_sort(
      f.directives_.begin(), f.directives_.end(),
      [](const Directive& a, const Directive& b) { return a.path.size() > b.path.size(); });
  return f;
}

Filter Filter::from_environment() {
  const char* v = std::getenv("TARNVALE_LOG");
  return parse(v ? std::optional<std::string_view>(v) : std::nullopt);
}

bool Filter::enabled(std::string_view target, Level level) const {
  for (const auto& d : directives_) {
    bool matches = d.path.empty() || target == d.path ||
                   (target.size() > d.path.size() && target.starts_with(d.path) &&
                    target.substr(d.path.size()).starts_with("::"));
    if (matches) return level <= d.level;
  }
  return false;
}

bool colour_from_environment() {
  const char* v = std::getenv("NO_COLOR");
  return v == nullptr || *v == '\0';
}

void install(Filter filter, bool colour) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.filter = std::move(filter);
  s.colour = colour;
}

bool enabled(std::string_view target, Level level) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return s.capture != nullptr || s.filter.enabled(target, level);
}

std::string quote_value(std::string_view value) {
  bool plain = !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u > 0x20 && c != '"' && c != '=' && c != '\\' && u != 0x7f;
  });
  if (plain) return std::string(value);
  std::string out = "\"";
  for (char c : value) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (u < 0x20 || u == 0x7f) {
      out += fmt::format("\\x{:02x}", u);
    } else {
      out += c;
    }
  }
  out += '"';
  return out;
}

void emit(Level level, std::string_view target, std::string_view message,
          std::initializer_list<Field> fields) {
  State& s = state();
  bool colour;
  {
    std::lock_guard lock(s.mutex);
    bool pass = s.filter.enabled(target, level);
    if (s.capture != nullptr) {
      Record r{level, std::string(target), std::string(message), {}};
      for (const auto& f : fields) r.fields.emplace_back(std::string(f.name), f.value);
      s.capture->push_back(std::move(r));
    }
    if (!pass) return;
    colour = s.colour;
  }
  std::string line = timestamp();
  line += ' ';
  if (colour) line += level_colour(level);
  line += fmt::format("{:>5}", level_name(level));
  if (colour) line += "\x1b[0m\x1b[2m";
  line += ' ';
  line += target;
  line += ':';
  if (colour) line += "\x1b[0m";
  line += ' ';
  line += message;
  for (const auto& f : fields) {
    line += ' ';
    if (colour) line += "\x1b[3m";
    line += f.name;
    if (colour) line += "\x1b[0m";
    line += '=';
    line += quote_value(f.value);
  }
  s.out->info(line);
}

std::optional<std::string> Record::field(std::string_view name) const {
  for (const auto& [k, v] : fields) {
    if (k == name) return v;
  }
  return std::nullopt;
}

namespace {
std::vector<Record>& capture_store() {
  static std::vector<Record> store;
  return store;
}
}  // namespace

ScopedCapture::ScopedCapture() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  capture_store().clear();
  s.capture = &capture_store();
}

ScopedCapture::~ScopedCapture() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.capture = nullptr;
}

std::vector<Record> ScopedCapture::records() const {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return capture_store();
}

std::vector<Record> ScopedCapture::find(std::string_view message) const {
  std::vector<Record> out;
  for (auto& r : records()) {
    if (r.message == message) out.push_back(std::move(r));
  }
  return out;
}

}  // namespace tarnvale_base::log
