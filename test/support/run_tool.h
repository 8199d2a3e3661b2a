// Helpers for the tests that run the built jsxc as a separate process: start a program
// without a shell in a chosen working directory, collect its standard output and error
// and its exit status, and small whole-file helpers.
#ifndef NUBRIX_TEST_SUPPORT_RUN_TOOL_H
#define NUBRIX_TEST_SUPPORT_RUN_TOOL_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
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
// fails the test instead of blocking the suite. Standard input reads the file
// input_path.
inline ToolResult run_tool(const std::vector<std::string>& argv, const std::string& cwd,
                           unsigned timeout_seconds = 60,
                           const std::string& input_path = "/dev/null") {
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
    int in = open(input_path.c_str(), O_RDONLY);
    if (in < 0) _exit(125);
    dup2(in, 0);
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

// Line breaks as the compiler counts them: line feeds, and U+2028 and U+2029 (the
// UTF-8 bytes E2 80 A8 and E2 80 A9).
inline size_t count_line_feeds(const std::string& s) {
  size_t count = std::count(s.begin(), s.end(), '\n');
  for (size_t i = 0; i + 2 < s.size(); i++) {
    if (s[i] == '\xE2' && s[i + 1] == '\x80' && (s[i + 2] == '\xA8' || s[i + 2] == '\xA9')) count++;
  }
  return count;
}

// One line of text with control characters and non-ASCII bytes made visible.
inline std::string visible(const std::string& line) {
  std::string s;
  for (unsigned char c : line) {
    if (c == '\n') {
      s += "\\n";
    } else if (c == '\r') {
      s += "\\r";
    } else if (c == '\t') {
      s += "\\t";
    } else if (c == '\\') {
      s += "\\\\";
    } else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02X", c);
      s += buf;
    } else {
      s += static_cast<char>(c);
    }
  }
  return s;
}

inline std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t lf = text.find('\n', start);
    if (lf == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, lf + 1 - start));
    start = lf + 1;
  }
  return lines;
}

// Names the first line where the two texts differ and shows both versions of it.
inline std::string describe_difference(const std::string& expected, const std::string& actual) {
  std::vector<std::string> e = split_lines(expected);
  std::vector<std::string> a = split_lines(actual);
  size_t i = 0;
  while (i < e.size() && i < a.size() && e[i] == a[i]) i++;
  std::ostringstream s;
  s << "first difference on line " << (i + 1) << " (expected " << expected.size() << " bytes, got "
    << actual.size() << ")\n";
  s << "  expected: " << (i < e.size() ? "\"" + visible(e[i]) + "\"" : "<end of text>") << "\n";
  s << "  actual:   " << (i < a.size() ? "\"" + visible(a[i]) + "\"" : "<end of text>") << "\n";
  return s.str();
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
