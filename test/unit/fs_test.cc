#include "utils/fs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "test/support/temp_dir.h"
#include "utils/codec.h"
#include "utils/error.h"
#include "utils/path.h"

using nubrix::ArrayBuffer;
using nubrix::Buffer;
using nubrix::Dirent;
using nubrix::Error;
using nubrix::FileHelper;
using nubrix::FileStat;
using nubrix::String;
using nubrix::String16;

namespace {

std::string str(const String& s) {
  return std::string(s.data(), s.length());
}
std::string str(const Buffer& b) {
  return b.length() ? std::string(b.data(), b.length()) : "";
}

// Bytes that differ from position to position, so a lost or repeated chunk shows.
std::string pattern(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (size_t i = 0; i < n; i++) {
    x = x * 1103515245u + 12345u;
    s[i] = (char)(x >> 16);
  }
  return s;
}

uint32_t current_umask() {
  mode_t m = umask(0);
  umask(m);
  return m;
}

// Expects `body` to throw an Error with the code and exactly the message.
void expect_error(const std::function<void()>& body, int code, const std::string& message) {
  try {
    body();
    ADD_FAILURE() << "no Error thrown, expected: " << message;
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), code) << str(e.message());
    EXPECT_EQ(str(e.message()), message);
  }
}

class FsTest : public ::testing::Test {
 protected:
  void SetUp() override { nubrix_test::make_temp_dir("/tmp/fs_test.", &dir_); }
  void TearDown() override { nubrix_test::remove_temp_dir(dir_); }
  std::string at(const std::string& name) const { return dir_ + "/" + name; }
  void put(const std::string& name, const std::string& data) const {
    FILE* f = fopen(at(name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fwrite(data.data(), 1, data.size(), f), data.size());
    ASSERT_EQ(fclose(f), 0);
  }
  std::string get(const std::string& name) const { return nubrix_test::read_file_text(at(name)); }
  // The names in the folder, sorted, read with the C library.
  std::vector<std::string> names(const std::string& sub = "") const {
    std::vector<std::string> out;
    std::string cmd = "ls -A '" + (sub.empty() ? dir_ : at(sub)) + "'";
    FILE* p = popen(cmd.c_str(), "r");
    char line[4096];
    while (p && fgets(line, sizeof line, p)) {
      std::string s(line);
      if (!s.empty() && s.back() == '\n') s.pop_back();
      out.push_back(s);
    }
    if (p) pclose(p);
    std::sort(out.begin(), out.end());
    return out;
  }
  struct stat lstat_of(const std::string& name) const {
    struct stat st;
    memset(&st, 0, sizeof st);
    EXPECT_EQ(lstat(at(name).c_str(), &st), 0) << name;
    return st;
  }
  std::string dir_;
};

TEST(FsModes, DefaultModesFollowTheUmask) {
  uint32_t mask = current_umask();
  EXPECT_EQ(nubrix::default_mode(), 0777 & ~mask);
  EXPECT_EQ(nubrix::default_file_mode(), 0666 & ~mask);
  EXPECT_EQ(nubrix::default_file_mode() & 0111, 0u);
}

TEST_F(FsTest, NewFilesAreNotExecutable) {
  put("src", "data");
  FileHelper::write_file_sync(at("w").c_str(), "x", 1);
  FileHelper::write_file_safe_sync(at("safe").c_str(), "x", 1);
  FileHelper::close_sync(FileHelper::open_sync(at("o").c_str(), nubrix::FOPEN_W));
  EXPECT_TRUE(FileHelper::cp_sync(at("src").c_str(), at("copy").c_str()));
  for (const char* name : {"w", "safe", "o", "copy"}) {
    EXPECT_EQ(lstat_of(name).st_mode & 07777, nubrix::default_file_mode()) << name;
  }
  FileHelper::mkdir_sync(at("d").c_str());
  EXPECT_EQ(lstat_of("d").st_mode & 07777, nubrix::default_mode());
}

TEST_F(FsTest, ReadWholeFile) {
  put("empty", "");
  put("abc", "abc");
  std::string big = pattern(5 * 1024 * 1024 + 7);
  put("big", big);
  struct Case {
    const char* name;
    int64_t size;
    std::string want;
  } cases[] = {
      {"empty", -1, ""}, {"empty", 5, ""},   {"abc", -1, "abc"}, {"abc", 2, "ab"},
      {"abc", 0, ""},    {"abc", 10, "abc"}, {"big", -1, big},   {"big", 1000, big.substr(0, 1000)},
  };
  for (const Case& c : cases) {
    Buffer b = FileHelper::read_file_sync(at(c.name).c_str(), c.size);
    EXPECT_EQ(b.length(), c.want.size()) << c.name << " " << c.size;
    EXPECT_TRUE(str(b) == c.want) << c.name << " " << c.size;
    if (c.want.empty()) {
      EXPECT_TRUE(b.is_null()) << c.name;
    } else {
      // The data is followed by a 0 byte inside the block, ready for a String.
      ASSERT_GT(b.capacity(), b.length());
      EXPECT_EQ(b.data()[b.length()], 0);
    }
  }
  Buffer b = FileHelper::read_file_sync(("file://" + at("abc")).c_str());
  String s(std::move(b));
  EXPECT_EQ(str(s), "abc");
  EXPECT_EQ(s.c_str()[3], 0);
}

// The text reader decodes a block at a time: its result equals decoding the whole
// file, also where a sequence straddles two blocks, for a file that reports no size,
// and its limit is the byte reader's (its other failures are in the table below).
TEST_F(FsTest, ReadUtf8TextFiles) {
  std::string text;
  const char* samples[] = {"a",    "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xE2\x82",
                           "\xFF", "\n"};
  for (uint32_t i = 0; text.size() < 300 * 1024; i++) text += samples[(i * 7 + i / 5) % 7];
  put("text", text);
  put("empty", "");
  put("f100", std::string(100, 'x'));
  for (const char* name : {"text", "empty", "f100"}) {
    Buffer bytes = FileHelper::read_file_sync(at(name).c_str());
    ArrayBuffer<uint16_t> want = nubrix::utf8_to_utf16(bytes.data(), bytes.length());
    String16 got = FileHelper::read_utf8_file_sync(at(name).c_str());
    ASSERT_EQ(got.length(), want.length()) << name;
    EXPECT_EQ(memcmp(got.data(), want.data(), (size_t)want.length() * 2), 0) << name;
    EXPECT_EQ(got.c_str()[got.length()], 0) << name;
  }
  String16 status = FileHelper::read_utf8_file_sync("/proc/self/status");
  EXPECT_GE(String(status).index_of("Name:"), 0);
  EXPECT_EQ(FileHelper::read_utf8_file_sync(at("f100").c_str(), 100).length(), 100u);
  expect_error([&] { (void)FileHelper::read_utf8_file_sync(at("f100").c_str(), 99); }, UV_EFBIG,
               "EFBIG, file too large, " + at("f100"));
}

TEST_F(FsTest, ReadFileWithoutReportedSize) {
  // /proc files report size 0 but have content.
  Buffer b = FileHelper::read_file_sync("/proc/self/status");
  EXPECT_NE(str(b).find("Name:"), std::string::npos);
}

// A writer process that feeds `data` to the FIFO in small pieces with pauses, so the
// reader sees many short reads.
pid_t feed_fifo(const std::string& fifo, const std::string& data) {
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_IGN);
    int fd = open(fifo.c_str(), O_WRONLY);
    if (fd < 0) _exit(2);
    for (size_t off = 0; off < data.size();) {
      size_t n = std::min<size_t>(7000, data.size() - off);
      ssize_t w = write(fd, data.data() + off, n);
      if (w <= 0) break;
      off += (size_t)w;
      if (off % 70000 < 7000) usleep(2000);
    }
    close(fd);
    _exit(0);
  }
  return pid;
}

TEST_F(FsTest, ReadFromPipes) {
  std::string fifo = at("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string data = pattern(300000);

  pid_t pid = feed_fifo(fifo, data);
  Buffer all = FileHelper::read_file_sync(fifo.c_str());
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(all.length(), data.size());
  EXPECT_TRUE(str(all) == data);
  EXPECT_EQ(all.data()[all.length()], 0);

  // An explicit size is read in full across short reads.
  pid = feed_fifo(fifo, data);
  Buffer part = FileHelper::read_file_sync(fifo.c_str(), 123456);
  EXPECT_TRUE(str(part) == data.substr(0, 123456));
  waitpid(pid, &status, 0);

  // More than the limit from a pipe is refused too.
  pid = feed_fifo(fifo, data);
  try {
    (void)FileHelper::read_file_sync(fifo.c_str(), -1, 100000);
    ADD_FAILURE() << "no Error";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), UV_EFBIG);
  }
  waitpid(pid, &status, 0);
}

TEST(FsPipe, ReadStandardInput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::string data = pattern(200000);
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[1]);
    dup2(fds[0], 0);
    bool ok = false;
    try {
      Buffer b = FileHelper::read_file_sync("/dev/stdin");
      ok = str(b) == data;
    } catch (...) {
    }
    _exit(ok ? 0 : 1);
  }
  close(fds[0]);
  // A reader that stops early must fail the check below, not kill this process.
  auto old_handler = signal(SIGPIPE, SIG_IGN);
  for (size_t off = 0; off < data.size();) {
    ssize_t w = write(fds[1], data.data() + off, std::min<size_t>(5000, data.size() - off));
    if (w <= 0) break;
    off += (size_t)w;
  }
  close(fds[1]);
  signal(SIGPIPE, old_handler);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(FsTest, ReadLimits) {
  put("f100", std::string(100, 'x'));
  EXPECT_EQ(FileHelper::read_file_sync(at("f100").c_str(), -1, 100).length(), 100u);
  expect_error([&] { (void)FileHelper::read_file_sync(at("f100").c_str(), -1, 99); }, UV_EFBIG,
               "EFBIG, file too large, " + at("f100"));
  // An explicit size within the limit reads a larger file's beginning.
  EXPECT_EQ(FileHelper::read_file_sync(at("f100").c_str(), 50, 60).length(), 50u);

  // Sparse files: refused from their size, before anything is read or allocated.
  int fd = open(at("huge").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, (((off_t)1) << 30) + 1), 0);
  close(fd);
  expect_error([&] { (void)FileHelper::read_file_sync(at("huge").c_str(), -1, 1 << 30); }, UV_EFBIG,
               "EFBIG, file too large, " + at("huge"));
  fd = open(at("huge").c_str(), O_WRONLY);
  ASSERT_EQ(ftruncate(fd, ((off_t)3) << 30), 0);
  close(fd);
  EXPECT_THROW((void)FileHelper::read_file_sync(at("huge").c_str()), Error);
}

TEST_F(FsTest, ErrorsNameTheFailureAndThePath) {
  put("file", "x");
  ASSERT_EQ(mkdir(at("dir").c_str(), 0700), 0);
  std::string missing = at("missing");
  std::string enoent = "ENOENT, no such file or directory, ";
  struct Case {
    std::function<void()> body;
    int code;
    std::string message;
  } cases[] = {
      {[&] { (void)FileHelper::read_file_sync(missing.c_str()); }, UV_ENOENT, enoent + missing},
      {[&] { (void)FileHelper::read_file_sync(("file://" + missing).c_str()); }, UV_ENOENT,
       enoent + "file://" + missing},
      {[&] { (void)FileHelper::read_file_sync(at("dir").c_str()); }, UV_EISDIR,
       "EISDIR, illegal operation on a directory, " + at("dir")},
      {[&] { (void)FileHelper::read_utf8_file_sync(missing.c_str()); }, UV_ENOENT,
       enoent + missing},
      {[&] { (void)FileHelper::read_utf8_file_sync(at("dir").c_str()); }, UV_EISDIR,
       "EISDIR, illegal operation on a directory, " + at("dir")},
      {[&] { FileHelper::unlink_sync(missing.c_str()); }, UV_ENOENT, enoent + missing},
      {[&] { FileHelper::rmdir_sync(missing.c_str()); }, UV_ENOENT, enoent + missing},
      {[&] { FileHelper::rmdir_sync(at("file").c_str()); }, UV_ENOTDIR,
       "ENOTDIR, not a directory, " + at("file")},
      {[&] { FileHelper::chmod_sync(missing.c_str(), 0600); }, UV_ENOENT, enoent + missing},
      {[&] { FileHelper::chown_sync(missing.c_str(), 0, 0); }, UV_ENOENT, enoent + missing},
      {[&] { FileHelper::mkdir_sync(at("dir").c_str()); }, UV_EEXIST,
       "EEXIST, file already exists, " + at("dir")},
      {[&] { (void)FileHelper::stat_sync(missing.c_str()); }, UV_ENOENT, enoent + missing},
      {[&] { (void)FileHelper::open_sync(missing.c_str()); }, UV_ENOENT, enoent + missing},
      {[&] { (void)FileHelper::ls_sync(missing.c_str()); }, UV_ENOENT, enoent + missing},
      {[&] { FileHelper::write_file_sync((missing + "/x").c_str(), "a", 1); }, UV_ENOENT,
       enoent + missing + "/x"},
      {[&] { FileHelper::write_file_sync("/dev/full", "a", 1); }, UV_ENOSPC,
       "ENOSPC, no space left on device, /dev/full"},
      {[&] { FileHelper::rename_sync(("file://" + missing).c_str(), "b"); }, UV_ENOENT,
       enoent + "rename file://" + missing + " to b"},
      {[&] { FileHelper::link_sync(missing.c_str(), at("l").c_str()); }, UV_ENOENT,
       enoent + "link " + missing + " to " + at("l")},
      {[&] { FileHelper::close_sync(-1); }, UV_EBADF, "EBADF, bad file descriptor, "},
      {[&] {
         char c;
         FileHelper::read_sync(-1, &c, 1);
       },
       UV_EBADF, "EBADF, bad file descriptor, "},
  };
  for (const Case& c : cases) expect_error(c.body, c.code, c.message);
  // A failed read or write created nothing.
  EXPECT_FALSE(FileHelper::exists_sync(missing.c_str()));
}

TEST_F(FsTest, WriteWholeFile) {
  put("old", std::string(1000, 'o'));
  EXPECT_EQ(FileHelper::write_file_sync(at("old").c_str(), "new", 3), 3);
  EXPECT_EQ(get("old"), "new");
  EXPECT_EQ(FileHelper::write_file_sync(at("neg").c_str(), "abc", -5), 0);
  EXPECT_EQ(get("neg"), "");
  std::string big = pattern(3 * 1024 * 1024);
  Buffer data;
  data.write(big.data(), -1, (uint32_t)big.size());
  EXPECT_EQ(FileHelper::write_file_sync(("file://" + at("big")).c_str(), data),
            (int64_t)big.size());
  EXPECT_TRUE(get("big") == big);
  EXPECT_EQ(FileHelper::write_file_sync("/dev/null", "abc", 3), 3);
}

// Runs the body with regular files limited to `bytes`: writes beyond fail with EFBIG
// after a short write, like a disk that fills up. Works for root too.
void with_file_size_limit(rlim_t bytes, const std::function<void()>& body) {
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit lim = old;
  lim.rlim_cur = bytes;
  auto old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
  body();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, old_handler);
}

// Hands out a text in blocks of at most `step` bytes.
class TextChunks : public FileHelper::ChunkSource {
 public:
  TextChunks(const std::string& text, uint64_t step) : text_(text), step_(step) {}
  uint64_t fill(char* block, uint64_t room) override {
    uint64_t n = std::min<uint64_t>({room, step_, text_.size() - done_});
    memcpy(block, text_.data() + done_, n);
    done_ += n;
    return n;
  }

 private:
  const std::string& text_;
  uint64_t step_;
  uint64_t done_ = 0;
};

TEST_F(FsTest, ShortWritesAreFailures) {
  std::string big = pattern(100000);
  put("safe", "old contents");
  with_file_size_limit(4096, [&] {
    expect_error([&] { FileHelper::write_file_sync(at("plain").c_str(), big.data(), 100000); },
                 UV_EFBIG, "EFBIG, file too large, " + at("plain"));
    expect_error([&] { FileHelper::write_file_safe_sync(at("safe").c_str(), big.data(), 100000); },
                 UV_EFBIG, "EFBIG, file too large, " + at("safe"));
    TextChunks chunks(big, 1000);
    expect_error([&] { FileHelper::write_file_safe_sync(at("safe").c_str(), chunks, 512); },
                 UV_EFBIG, "EFBIG, file too large, " + at("safe"));
  });
  // The plain write got as far as the limit; the safe one left the old file alone.
  EXPECT_EQ(get("plain").size(), 4096u);
  EXPECT_EQ(get("safe"), "old contents");
  EXPECT_EQ(names(), (std::vector<std::string>{"plain", "safe"}));
}

TEST_F(FsTest, SafeWriteReplacesAndKeepsMode) {
  EXPECT_EQ(FileHelper::write_file_safe_sync(at("new").c_str(), "fresh", 5), 5);
  EXPECT_EQ(get("new"), "fresh");
  EXPECT_EQ(lstat_of("new").st_mode & 07777, nubrix::default_file_mode());

  put("out", "old");
  ASSERT_EQ(chmod(at("out").c_str(), 0640), 0);
  ino_t old_ino = lstat_of("out").st_ino;
  EXPECT_EQ(FileHelper::write_file_safe_sync(("file://" + at("out")).c_str(), "replaced", 8), 8);
  EXPECT_EQ(get("out"), "replaced");
  EXPECT_EQ(lstat_of("out").st_mode & 07777, 0640u);
  EXPECT_NE(lstat_of("out").st_ino, old_ino);  // a new file took the old one's place

  ASSERT_EQ(chmod(at("out").c_str(), 0751), 0);
  EXPECT_EQ(FileHelper::write_file_safe_sync(at("out").c_str(), Buffer()), 0);
  EXPECT_EQ(get("out"), "");
  EXPECT_EQ(lstat_of("out").st_mode & 07777, 0751u);

  // Streamed in blocks, smaller and larger than the source's own steps.
  std::string text = pattern(70000);
  for (uint64_t block : {4, 999, 65536, 262144}) {
    TextChunks chunks(text, 5000);
    EXPECT_EQ(FileHelper::write_file_safe_sync(at("out").c_str(), chunks, block), 70000);
    EXPECT_EQ(get("out"), text) << "block " << block;
    EXPECT_EQ(lstat_of("out").st_mode & 07777, 0751u);
  }
  std::string none;
  TextChunks empty(none, 10);
  EXPECT_EQ(FileHelper::write_file_safe_sync(at("out").c_str(), empty), 0);
  EXPECT_EQ(get("out"), "");
  EXPECT_EQ(names(), (std::vector<std::string>{"new", "out"}));
}

TEST_F(FsTest, SafeWriteFollowsLinks) {
  ASSERT_EQ(mkdir(at("real").c_str(), 0700), 0);
  put("real/target", "old");
  ASSERT_EQ(chmod(at("real/target").c_str(), 0604), 0);
  ASSERT_EQ(symlink("real/target", at("link1").c_str()), 0);
  ASSERT_EQ(symlink(at("link1").c_str(), at("link2").c_str()), 0);
  EXPECT_EQ(FileHelper::write_file_safe_sync(at("link2").c_str(), "via links", 9), 9);
  EXPECT_TRUE(S_ISLNK(lstat_of("link1").st_mode));
  EXPECT_TRUE(S_ISLNK(lstat_of("link2").st_mode));
  EXPECT_EQ(get("real/target"), "via links");
  EXPECT_EQ(lstat_of("real/target").st_mode & 07777, 0604u);
  EXPECT_EQ(names("real"), std::vector<std::string>{"target"});

  // A link to a file that does not exist yet: the file is created where it points.
  ASSERT_EQ(symlink("real/later", at("dangling").c_str()), 0);
  EXPECT_EQ(FileHelper::write_file_safe_sync(at("dangling").c_str(), "made", 4), 4);
  EXPECT_TRUE(S_ISLNK(lstat_of("dangling").st_mode));
  EXPECT_EQ(get("real/later"), "made");

  ASSERT_EQ(symlink("loop", at("loop").c_str()), 0);
  EXPECT_THROW(FileHelper::write_file_safe_sync(at("loop").c_str(), "x", 1), Error);
}

TEST_F(FsTest, SafeWriteFailuresLeaveNothingBehind) {
  put("keep", "old");
  expect_error([&] { FileHelper::write_file_safe_sync(at("no/such/out").c_str(), "x", 1); },
               UV_ENOENT, "ENOENT, no such file or directory, " + at("no/such/out"));
  ASSERT_EQ(mkdir(at("dir").c_str(), 0700), 0);
  expect_error([&] { FileHelper::write_file_safe_sync(at("dir").c_str(), "x", 1); }, UV_EISDIR,
               "EISDIR, illegal operation on a directory, " + at("dir"));
  EXPECT_EQ(names(), (std::vector<std::string>{"dir", "keep"}));
  EXPECT_EQ(names("dir"), std::vector<std::string>{});

  if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  ASSERT_EQ(mkdir(at("ro").c_str(), 0700), 0);
  put("ro/out", "old");
  ASSERT_EQ(chmod(at("ro").c_str(), 0500), 0);
  expect_error([&] { FileHelper::write_file_safe_sync(at("ro/out").c_str(), "new", 3); }, UV_EACCES,
               "EACCES, permission denied, " + at("ro/out"));
  EXPECT_EQ(get("ro/out"), "old");
  EXPECT_EQ(names("ro"), std::vector<std::string>{"out"});
}

TEST_F(FsTest, SafeWriteToDevicesAndFifos) {
  EXPECT_EQ(FileHelper::write_file_safe_sync("/dev/null", "abc", 3), 3);
  struct stat st;
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  expect_error([&] { FileHelper::write_file_safe_sync("/dev/full", "abc", 3); }, UV_ENOSPC,
               "ENOSPC, no space left on device, /dev/full");

  std::string fifo = at("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string data = pattern(200000);  // more than a pipe holds at once
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  if (pid == 0) {
    // The reader: copies the FIFO's contents back through a pipe.
    close(fds[0]);
    int fd = open(fifo.c_str(), O_RDONLY);
    char buf[8192];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
      if (write(fds[1], buf, (size_t)n) != n) _exit(1);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string got;
  pid_t writer = fork();
  if (writer == 0) {
    close(fds[0]);
    try {
      FileHelper::write_file_safe_sync(fifo.c_str(), data.data(), (int64_t)data.size());
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  char buf[8192];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, (size_t)n);
  close(fds[0]);
  int status = 0;
  waitpid(writer, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  waitpid(pid, &status, 0);
  EXPECT_TRUE(got == data);
  EXPECT_TRUE(S_ISFIFO(lstat_of("fifo").st_mode));
  EXPECT_EQ(names(), std::vector<std::string>{"fifo"});
}

TEST_F(FsTest, ListInByteOrder) {
  put("b", "");
  put("a", "");
  put("C", "");
  ASSERT_EQ(mkdir(at("d").c_str(), 0700), 0);
  ASSERT_EQ(symlink("a", at("l").c_str()), 0);
  nubrix::Array<Dirent> list = FileHelper::ls_sync(("file://" + dir_ + "/").c_str());
  std::vector<std::string> got;
  for (const Dirent& d : list) {
    got.push_back(str(d.name));
    EXPECT_EQ(str(d.pathname), "file://" + dir_ + "/" + str(d.name));
  }
  EXPECT_EQ(got, (std::vector<std::string>{"C", "a", "b", "d", "l"}));
  ASSERT_EQ(list.length(), 5u);
  EXPECT_EQ(list[0].type, nubrix::FTYPE_FILE);
  EXPECT_EQ(list[3].type, nubrix::FTYPE_DIR);
  EXPECT_EQ(list[4].type, nubrix::FTYPE_LINK);
  EXPECT_EQ(FileHelper::ls_sync(at("d").c_str()).length(), 0u);
  // At the root the path is joined without a doubled slash.
  nubrix::Array<Dirent> root = FileHelper::ls_sync("/");
  ASSERT_GT(root.length(), 0u);
  EXPECT_EQ(str(root[0].pathname), "file:///" + str(root[0].name));
}

TEST_F(FsTest, MakeFolderPaths) {
  ASSERT_EQ(mkdir(at("a").c_str(), 0700), 0);
  put("file", "");
  struct Case {
    const char* path;
    std::vector<const char*> made;
  } cases[] = {
      {"a/b/c/", {"a/b", "a/b/c"}}, {"x//y", {"x", "x/y"}}, {"p/./q/", {"p", "p/q"}},
      {"m/n/../o", {"m/n", "m/o"}}, {"a", {"a"}},           {"deep/1/2/3/4", {"deep/1/2/3/4"}},
  };
  for (const Case& c : cases) {
    FileHelper::mkdir_p_sync(at(c.path).c_str());
    for (const char* d : c.made) EXPECT_TRUE(S_ISDIR(lstat_of(d).st_mode)) << c.path << ": " << d;
  }
  EXPECT_EQ(lstat_of("x/y").st_mode & 07777, nubrix::default_mode());
  FileHelper::mkdir_p_sync(("file://" + at("u/v")).c_str(), 0700);
  EXPECT_EQ(lstat_of("u/v").st_mode & 07777, 0700 & nubrix::default_mode());
  expect_error([&] { FileHelper::mkdir_p_sync(at("file").c_str()); }, UV_EEXIST,
               "EEXIST, file already exists, " + at("file"));
  expect_error([&] { FileHelper::mkdir_p_sync(at("file/sub").c_str()); }, UV_ENOTDIR,
               "ENOTDIR, not a directory, " + at("file/sub"));
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "deep", "file", "m", "p", "u", "x"}));
}

TEST_F(FsTest, CopyFiles) {
  std::string data = pattern(1300000);  // three chunks
  put("src", data);
  put("dst", std::string(2000000, 'z'));
  EXPECT_TRUE(FileHelper::cp_sync(at("src").c_str(), ("file://" + at("dst")).c_str()));
  EXPECT_TRUE(get("dst") == data);

  bool stop = false;
  EXPECT_TRUE(FileHelper::cp_sync(at("src").c_str(), at("dst2").c_str(), &stop));
  EXPECT_TRUE(get("dst2") == data);
  stop = true;
  EXPECT_FALSE(FileHelper::cp_sync(at("src").c_str(), at("dst3").c_str(), &stop));
  EXPECT_EQ(get("dst3").size(), 524288u);  // one chunk, then the stop flag ended the copy

  put("empty", "");
  EXPECT_TRUE(FileHelper::cp_sync(at("empty").c_str(), at("dst").c_str()));
  EXPECT_EQ(get("dst"), "");

  // A file that reports no size (a pseudo file system's) is copied whole by the stream
  // after the kernel found nothing to copy; so is a pipe.
  EXPECT_TRUE(FileHelper::cp_sync("/proc/self/cmdline", at("cmdline").c_str()));
  EXPECT_FALSE(get("cmdline").empty());
  EXPECT_NE(get("cmdline").find("fs_test"), std::string::npos);

  expect_error([&] { FileHelper::cp_sync(at("nope").c_str(), at("t").c_str()); }, UV_ENOENT,
               "ENOENT, no such file or directory, " + at("nope"));
  EXPECT_FALSE(FileHelper::exists_sync(at("t").c_str()));
  expect_error([&] { FileHelper::cp_sync(at("src").c_str(), at("no/t").c_str()); }, UV_ENOENT,
               "ENOENT, no such file or directory, " + at("no/t"));
}

TEST_F(FsTest, CopyOntoItselfChangesNothing) {
  std::string data = pattern(1000);
  put("f", data);
  ASSERT_EQ(mkdir(at("d").c_str(), 0700), 0);
  ASSERT_EQ(link(at("f").c_str(), at("d/hard").c_str()), 0);
  ASSERT_EQ(symlink("../f", at("d/soft").c_str()), 0);
  std::string f = at("f");
  for (std::string other : {f, "file://" + f, dir_ + "/./d/../f", at("d/hard"), at("d/soft")}) {
    try {
      FileHelper::cp_sync(f.c_str(), other.c_str());
      ADD_FAILURE() << "copied onto itself: " << other;
    } catch (const Error& e) {
      EXPECT_EQ(str(e.message()), "cannot copy " + f + " to " + other + ": they are the same file");
    }
    EXPECT_TRUE(get("f") == data) << other;
  }
}

TEST_F(FsTest, StatRecords) {
  put("f", "12345");
  ASSERT_EQ(chmod(at("f").c_str(), 0640), 0);
  struct stat st;
  ASSERT_EQ(stat(at("f").c_str(), &st), 0);
  FileStat s = FileHelper::stat_sync(("file://" + at("f")).c_str());
  EXPECT_TRUE(s.is_valid());
  EXPECT_TRUE(s.is_file());
  EXPECT_FALSE(s.is_directory());
  EXPECT_FALSE(s.is_symbolic_link());
  EXPECT_EQ(s.type(), nubrix::FTYPE_FILE);
  EXPECT_EQ(s.size(), 5u);
  EXPECT_EQ(s.mode() & 07777, 0640u);
  EXPECT_EQ(s.ino(), (uint64_t)st.st_ino);
  EXPECT_EQ(s.dev(), (uint64_t)st.st_dev);
  EXPECT_EQ(s.uid(), (uint64_t)st.st_uid);
  EXPECT_EQ(s.nlink(), 1u);
  EXPECT_EQ(s.mtime(), (int64_t)st.st_mtim.tv_sec * 1000000 + st.st_mtim.tv_nsec / 1000);
  EXPECT_EQ(s.atime(), (int64_t)st.st_atim.tv_sec * 1000000 + st.st_atim.tv_nsec / 1000);

  FileHelper::link_sync(at("f").c_str(), at("g").c_str());
  EXPECT_EQ(FileHelper::stat_sync(at("f").c_str()).nlink(), 2u);
  FileHelper::rename_sync(at("g").c_str(), at("h").c_str());
  EXPECT_EQ(FileHelper::stat_sync(at("h").c_str()).ino(), (uint64_t)st.st_ino);

  FileStat d = FileHelper::stat_sync(dir_.c_str());
  EXPECT_TRUE(d.is_directory());
  EXPECT_EQ(d.type(), nubrix::FTYPE_DIR);
  EXPECT_EQ(FileHelper::stat_sync("/dev/null").type(), nubrix::FTYPE_CHAR);

  FileStat moved(std::move(s));
  EXPECT_FALSE(s.is_valid());
  EXPECT_EQ(moved.size(), 5u);
  FileStat copy(moved);
  EXPECT_EQ(copy.ino(), moved.ino());
  FileStat none;
  EXPECT_FALSE(none.is_valid());
  EXPECT_FALSE(none.is_file());
  EXPECT_EQ(none.size() + none.mode() + none.ino() + (uint64_t)none.mtime(), 0u);
  EXPECT_EQ(none.type(), nubrix::FTYPE_UNKNOWN);

  struct {
    uint32_t mode;
    nubrix::FileType type;
  } types[] = {{S_IFREG, nubrix::FTYPE_FILE},    {S_IFDIR, nubrix::FTYPE_DIR},
               {S_IFLNK, nubrix::FTYPE_LINK},    {S_IFIFO, nubrix::FTYPE_FIFO},
               {S_IFSOCK, nubrix::FTYPE_SOCKET}, {S_IFCHR, nubrix::FTYPE_CHAR},
               {S_IFBLK, nubrix::FTYPE_BLOCK},   {0, nubrix::FTYPE_UNKNOWN}};
  for (auto& t : types) EXPECT_EQ(nubrix::file_type_of_mode(t.mode | 0644), t.type) << t.mode;
}

TEST_F(FsTest, AccessTests) {
  put("f", "");
  ASSERT_EQ(chmod(at("f").c_str(), 0644), 0);
  put("x", "");
  ASSERT_EQ(chmod(at("x").c_str(), 0755), 0);
  std::string f = at("f"), url = "file://" + at("f"), x = at("x"), m = at("missing");
  struct Case {
    std::string path;
    bool exists, file, directory, executable;
  } cases[] = {
      {f, true, true, false, false},
      {url, true, true, false, false},
      {x, true, true, false, true},
      {dir_, true, false, true, true},
      {"file://" + dir_, true, false, true, true},
      {m, false, false, false, false},
      {"/dev/null", true, true, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FileHelper::exists_sync(c.path.c_str()), c.exists) << c.path;
    EXPECT_EQ(FileHelper::is_file_sync(c.path.c_str()), c.file) << c.path;
    EXPECT_EQ(FileHelper::is_directory_sync(c.path.c_str()), c.directory) << c.path;
    EXPECT_EQ(FileHelper::is_executable_sync(c.path.c_str()), c.executable) << c.path;
    EXPECT_EQ(FileHelper::is_writable_sync(c.path.c_str()), c.exists) << c.path;
    EXPECT_EQ(FileHelper::is_readable_sync(c.path.c_str()), c.exists) << c.path;
  }
  FileHelper::chmod_sync(f.c_str(), 0600);
  EXPECT_EQ(lstat_of("f").st_mode & 07777, 0600u);
  FileHelper::chown_sync(f.c_str(), getuid(), getgid());
  EXPECT_EQ(lstat_of("f").st_uid, getuid());

  if (geteuid() == 0) GTEST_SKIP() << "root ignores permission bits";
  FileHelper::chmod_sync(f.c_str(), 0400);
  EXPECT_FALSE(FileHelper::is_writable_sync(f.c_str()));
  EXPECT_TRUE(FileHelper::is_readable_sync(f.c_str()));
  FileHelper::chmod_sync(f.c_str(), 0200);
  EXPECT_FALSE(FileHelper::is_readable_sync(f.c_str()));
  expect_error([&] { (void)FileHelper::read_file_sync(f.c_str()); }, UV_EACCES,
               "EACCES, permission denied, " + f);
}

TEST_F(FsTest, DescriptorOperations) {
  int fd = FileHelper::open_sync(at("f").c_str(), nubrix::FOPEN_RWC);
  EXPECT_EQ(FileHelper::write_sync(fd, "hello world", 11), 11);
  EXPECT_EQ(FileHelper::write_sync(fd, "W", 1, 6), 1);
  char buf[16] = {0};
  EXPECT_EQ(FileHelper::read_sync(fd, buf, sizeof buf, 1), 10);
  EXPECT_EQ(std::string(buf, 10), "ello World");
  EXPECT_EQ(FileHelper::read_sync(fd, buf, sizeof buf), 0);  // at the end
  FileHelper::close_sync(fd);
  fd = FileHelper::open_sync(at("f").c_str(), nubrix::FOPEN_A);
  EXPECT_EQ(FileHelper::write_sync(fd, "!", 1), 1);
  FileHelper::close_sync(fd);
  EXPECT_EQ(get("f"), "hello World!");
  FileHelper::unlink_sync(at("f").c_str());
  EXPECT_FALSE(FileHelper::exists_sync(at("f").c_str()));
  FileHelper::mkdir_sync(at("d").c_str(), 0700);
  FileHelper::rmdir_sync(("file://" + at("d")).c_str());
  EXPECT_EQ(names(), std::vector<std::string>{});
}

}  // namespace
