// Starting the real binaries for end-to-end tests: a child process with its own environment and
// its standard output and error in files, waited for with a time limit.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tarnvale_tests {

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class Process {
 public:
  // Starts `argv` with the current environment minus TARNVALE_LOG and NO_COLOR, plus `env`.
  Process(std::vector<std::string> argv, std::map<std::string, std::string> env,
          std::string out_path, std::string err_path)
      : out_(std::move(out_path)), err_(std::move(err_path)) {
    std::vector<std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string v = *e;
      if (v.starts_with("TARNVALE_LOG=") || v.starts_with("NO_COLOR=")) continue;
      vars.push_back(v);
    }
    for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
    std::vector<char*> cargv, cenv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    for (auto& v : vars) cenv.push_back(v.data());
    cenv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&pid_, cargv[0], &actions, nullptr, cargv.data(), cenv.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Process() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return pid_ > 0; }

  // The exit status, or nullopt when the process is still running after `limit`.
  std::optional<int> wait(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!status_) {
      int status = 0;
      pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      if (std::chrono::steady_clock::now() >= until) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
  }

  // Waits until standard output contains `text`; false after `limit` or when the process ended.
  bool wait_for_output(const std::string& text, std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < until) {
      if (out().find(text) != std::string::npos) return true;
      if (wait(std::chrono::milliseconds(0))) return out().find(text) != std::string::npos;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::string out() const { return read_file(out_); }
  std::string err() const { return read_file(err_); }

 private:
  std::string out_, err_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace tarnvale_tests
