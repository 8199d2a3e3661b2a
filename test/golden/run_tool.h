// Helpers for the tests that run the built jsxc as a separate process: start a program
// without a shell in a chosen working directory, collect its standard output and error
// and its exit status, and small whole-file helpers.
#ifndef NUBRIX_TEST_GOLDEN_RUN_TOOL_H
#define NUBRIX_TEST_GOLDEN_RUN_TOOL_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace nubrix {
namespace test {

struct ToolResult {
  // Exit status when the program exited normally; -1 when it was killed by a signal
  // (then `signal` names it) or could not be started (then `err` says why).
  int status = -1;
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs argv[0] with the arguments argv[1..] in the folder cwd (empty: the current
// folder). The child is killed by SIGALRM after timeout_seconds, so a hanging compiler
// fails the test instead of blocking the suite.
inline ToolResult run_tool(const std::vector<std::string>& argv, const std::string& cwd,
                           unsigned timeout_seconds = 60) {
  ToolResult result;
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0) {
    result.err = std::string("pipe: ") + strerror(errno);
    return result;
  }
  if (pipe(err_pipe) != 0) {
    result.err = std::string("pipe: ") + strerror(errno);
    close(out_pipe[0]);
    close(out_pipe[1]);
    return result;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  pid_t pid = fork();
  if (pid == 0) {
    // Child: only async-signal-safe calls until exec.
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[0]);
    close(err_pipe[1]);
    int null_in = open("/dev/null", O_RDONLY);
    if (null_in >= 0) dup2(null_in, 0);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    alarm(timeout_seconds);
    execv(args[0], args.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  if (pid < 0) {
    result.err = std::string("fork: ") + strerror(errno);
    close(out_pipe[0]);
    close(err_pipe[0]);
    return result;
  }
  struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_count = 2;
  while (open_count > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        open_count--;
      }
    }
  }
  for (auto& f : fds) {
    if (f.fd >= 0) close(f.fd);
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(wstatus)) {
    result.status = WEXITSTATUS(wstatus);
  } else if (WIFSIGNALED(wstatus)) {
    result.signal = WTERMSIG(wstatus);
  }
  return result;
}

inline bool read_whole_file(const std::filesystem::path& path, std::string* data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *data = s.str();
  return true;
}

inline std::string read_whole_file(const std::filesystem::path& path) {
  std::string data;
  read_whole_file(path, &data);
  return data;
}

inline bool write_whole_file(const std::filesystem::path& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << data;
  return static_cast<bool>(out.flush());
}

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when the
// object goes out of scope.
class TempDir {
 public:
  explicit TempDir(const char* prefix = "jsxc-test") {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data())) path_ = buf.data();
  }
  ~TempDir() {
    if (path_.empty()) return;
    std::error_code ec;
    // Give back permissions that a test may have taken away, so everything can go.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  bool ok() const { return !path_.empty(); }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace test
}  // namespace nubrix

#endif
