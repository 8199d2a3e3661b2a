// File and AsyncFile on real files in a temporary folder, with real libuv loops on
// framework threads. Every test counts the open descriptors before and after; standard
// input is an empty temporary file for the whole program and must still be empty at
// the end, so a stray write to descriptor 0 is caught. Each asynchronous scenario runs
// on a fresh loop that must end by itself once the handle and its requests are gone.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uv.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "test/support/runtime_test.h"
#include "test/support/temp_dir.h"
#include "utils/fs-file.h"
#include "utils/fs.h"
#include "utils/loop.h"

using namespace nubrix;
using nubrix_test::capture;
using nubrix_test::kWatchdogUs;

namespace {

// libuv's allocations go through these, so a test can make the next one on its
// thread fail and see how a request that cannot start is handled.
thread_local bool fail_next_uv_alloc = false;
void* uv_malloc_hook(size_t n) {
  if (fail_next_uv_alloc) {
    fail_next_uv_alloc = false;
    return nullptr;
  }
  return malloc(n);
}
void* uv_realloc_hook(void* p, size_t n) {
  return realloc(p, n);
}
void* uv_calloc_hook(size_t c, size_t n) {
  return calloc(c, n);
}
void uv_free_hook(void* p) {
  free(p);
}
const bool allocator_replaced =
    uv_replace_allocator(uv_malloc_hook, uv_realloc_hook, uv_calloc_hook, uv_free_hook) == 0;

int count_fds() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
  closedir(d);
  return n;
}

// Whether the number of open descriptors comes back to `n`. libuv's pool threads may
// hold a descriptor of their own for a moment after a loop ended (one was seen on
// /dev/null), so a count that differs is looked at again until the watchdog; a leak
// never comes back.
bool fds_settle(int n) {
  return nubrix_test::wait_until([n] { return count_fds() == n; });
}

// Standard input becomes an empty temporary file; at the end it must still be that
// file and still be empty. The runtime's lasting descriptors (the default loop's) are
// created here, before any test counts descriptors.
class StdinEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char tmpl[] = "/tmp/nubrix-stdin-XXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    unlink(tmpl);
    ASSERT_EQ(dup2(fd, 0), 0);
    ::close(fd);
    struct stat st;
    ASSERT_EQ(fstat(0, &st), 0);
    ino_ = st.st_ino;
    std::thread::id id = Thread::spawn([](Thread&) {
      RunLoop* loop = RunLoop::current();
      loop->post([](SimpleEvent&) {});
      loop->run(0);
      return 0;
    });
    Thread::wait_for_end(id, kWatchdogUs);
    File warm("/proc/self/stat");
    ASSERT_EQ(warm.open(OPEN_READ), 0);
    warm.close();
  }
  void TearDown() override {
    struct stat st;
    ASSERT_EQ(fstat(0, &st), 0);
    EXPECT_EQ(st.st_ino, ino_) << "standard input was replaced";
    EXPECT_EQ(st.st_size, 0) << "something was written to standard input";
  }

 private:
  ino_t ino_ = 0;
};
const auto* stdin_env = ::testing::AddGlobalTestEnvironment(new StdinEnvironment());

Buffer block(char fill, uint32_t size) {
  Buffer b(size);
  memset(b.data(), fill, size);
  return b;
}
Buffer text(const char* s) {
  return Buffer(s, (uint32_t)strlen(s), true);
}

// The event of a write dropped by a close.
const std::string kCancelled =
    "error " + std::to_string(UV_ECANCELED) + " ECANCELED, operation canceled";

// Records every event of a handle as a line; `next` reacts to each one. Events that
// arrive while `inside` is set (the test is inside a call of the handle) are marked.
struct Probe : AsyncFile::Delegate {
  std::vector<std::string> events;
  std::string data;
  bool inside = false;
  std::function<void(AsyncFile*, const std::string&)> next;

  void add(AsyncFile* f, const std::string& e) {
    events.push_back(inside ? "inside " + e : e);
    if (next) next(f, e);
  }
  void on_open(AsyncFile* f) override { add(f, "open"); }
  void on_close(AsyncFile* f) override { add(f, "close"); }
  void on_error(AsyncFile* f, const Error& e) override {
    add(f, "error " + std::to_string(e.code()) + " " + e.message().c_str());
  }
  void on_read(AsyncFile* f, Buffer& b, int32_t mark) override {
    data.append(b.data() ? b.data() : "", b.length());
    add(f, "read " + std::to_string(mark) + " " + std::to_string(b.length()));
  }
  void on_write(AsyncFile* f, Buffer& b, int32_t mark) override {
    add(f, "write " + std::to_string(mark) + " " + std::to_string(b.length()));
  }
};

// Runs `start` on a new framework thread's loop and waits until the loop has ended by
// itself and the thread is gone. A loop that does not end is fatal for the program:
// its thread still uses the test's objects.
void run_scenario(const std::function<void(RunLoop*)>& start) {
  std::atomic<bool> ended{false};
  std::thread::id id = Thread::spawn([&](Thread&) {
    RunLoop* loop = RunLoop::current();
    start(loop);
    loop->run(0);
    ended.store(true);
    return 0;
  });
  Thread::wait_for_end(id, kWatchdogUs);
  if (!ended.load()) {
    fprintf(stderr, "the loop of a file scenario did not end\n");
    abort();
  }
}

// A scenario with one handle of `path`: `next` reacts to its events, and the handle
// opens with `mode` as the loop starts.
void run_file_scenario(const String& path, Probe& probe, int mode,
                       const std::function<void(AsyncFile*, const std::string&)>& next) {
  run_scenario([&](RunLoop* loop) {
    AsyncFile* file = new AsyncFile(path, loop);
    file->set_delegate(&probe);
    probe.next = next;
    file->open(mode);
  });
}

std::string file_text(const String& path) {
  Buffer b = FileHelper::read_file_sync(path);
  return std::string(b.data() ? b.data() : "", b.length());
}

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(nubrix_test::make_temp_dir("/tmp/nubrix-fs-file-", &dir_));
    fds_ = count_fds();
  }
  void TearDown() override {
    EXPECT_TRUE(fds_settle(fds_)) << "descriptors leaked or closed by the test: " << count_fds()
                                  << " open, " << fds_ << " before";
    FileHelper::remove_r_sync(String(dir_.c_str()));
  }
  String at(const char* name) const { return String((dir_ + "/" + name).c_str()); }

  std::string dir_;
  int fds_ = 0;
};

TEST_F(FileTest, SyncFileRoundTripAndClosedState) {
  String path = at("sync.txt");
  {
    File f(path);
    EXPECT_FALSE(f.is_open());
    EXPECT_EQ(f.read(nullptr, 0, 0), ERR_FILE_NOT_OPEN);
    EXPECT_EQ(f.write("x", 1, 0), ERR_FILE_NOT_OPEN);
    EXPECT_EQ(f.close(), 0);
    ASSERT_EQ(f.open(OPEN_WRITE_PLUS), 0);
    ASSERT_TRUE(f.is_open());
    int fd = f.fd();
    EXPECT_GT(fd, 2);
    EXPECT_EQ(f.write("hello world", 11, 0), 11);
    int before = capture->count("file already open");
    EXPECT_EQ(f.open(OPEN_READ), 0);
    EXPECT_EQ(capture->count("file already open"), before + 1);
    EXPECT_EQ(f.fd(), fd);
    char got[16] = {0};
    EXPECT_EQ(f.read(got, sizeof got, 6), 5);
    EXPECT_STREQ(got, "world");
    EXPECT_EQ(f.close(), 0);
    EXPECT_FALSE(f.is_open());
    EXPECT_EQ(f.write("x", 1, 0), ERR_FILE_NOT_OPEN);
    // The destructor closes a file left open.
    ASSERT_EQ(f.open(OPEN_APPEND), 0);
    EXPECT_EQ(f.write("!", 1, -1), 1);
  }
  EXPECT_EQ(file_text(path), "hello world!");

  // A failed open leaves the file closed; a failed close still forgets the number.
  File missing(at("none/missing.txt"));
  int r = missing.open(OPEN_READ);
  EXPECT_EQ(r, UV_ENOENT);
  EXPECT_FALSE(missing.is_open());
  EXPECT_EQ(missing.fd(), 0);
  EXPECT_EQ(missing.read(nullptr, 0, 0), ERR_FILE_NOT_OPEN);
  File f(path);
  ASSERT_EQ(f.open(OPEN_READ), 0);
  ::close(f.fd());
  EXPECT_EQ(f.close(), UV_EBADF);
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(f.close(), 0);

  EXPECT_STREQ(file_mode_string(OPEN_READ), "r");
  EXPECT_STREQ(file_mode_string(OPEN_WRITE), "w");
  EXPECT_STREQ(file_mode_string(OPEN_APPEND), "a");
  EXPECT_STREQ(file_mode_string(OPEN_READ_PLUS), "r+");
  EXPECT_STREQ(file_mode_string(OPEN_WRITE_PLUS), "w+");
  EXPECT_STREQ(file_mode_string(OPEN_APPEND_PLUS), "a+");
  EXPECT_STREQ(file_mode_string(12345), "r");
}

TEST_F(FileTest, AsyncOpenWriteReadCloseInOrder) {
  String path = at("a.txt");
  Probe probe;
  bool open_at_open = false, open_after_close = true;
  run_scenario([&](RunLoop* loop) {
    AsyncFile* file = new AsyncFile(path, loop);
    file->set_delegate(&probe);
    probe.next = [&](AsyncFile* f, const std::string& e) {
      if (e == "open") {
        open_at_open = f->is_open();
        f->write(text("hello "), 0, 1);
        f->write(text("world"), 6, 2);
      } else if (e == "write 2 5") {
        f->read(block(0, 64), 0, 3);
      } else if (e == "read 3 11") {
        f->read(block(0, 64), 11, 4);  // at the end: nothing
      } else if (e == "read 4 0") {
        f->close();
        open_after_close = f->is_open();
      } else if (e == "close") {
        f->release();
      }
    };
    EXPECT_EQ(file->path(), path);
    file->open(OPEN_WRITE_PLUS);
  });
  EXPECT_EQ(probe.events, (std::vector<std::string>{"open", "write 1 6", "write 2 5", "read 3 11",
                                                    "read 4 0", "close"}));
  EXPECT_EQ(probe.data, "hello world");
  EXPECT_TRUE(open_at_open);
  EXPECT_FALSE(open_after_close);
  EXPECT_EQ(file_text(path), "hello world");
}

// A delegate method that throws (an Error, a standard exception, anything) is called
// from libuv's completions: the exception is logged and the handle goes on, every
// request still completes and reports.
TEST_F(FileTest, DelegateExceptionsAreLoggedAndTheFileGoesOn) {
  String path = at("throws.txt");
  const std::string logged[] = {
      std::string(String::format("Error: %d \n message:\n\t%s", ERR_UNKNOWN, "open boom").c_str()),
      std::string(String::format("Error: %d \n message:\n\t%s", 42, "write boom").c_str()),
      std::string(
          String::format("Error: %d \n message:\n\t%s", ERR_UNKNOWN, "unknown exception").c_str())};
  int before[3];
  for (int i = 0; i < 3; i++) before[i] = capture->count(logged[i].c_str());
  Probe probe;
  run_file_scenario(path, probe, OPEN_WRITE_PLUS, [&](AsyncFile* f, const std::string& e) {
    if (e == "open") {
      f->write(text("abc"), 0, 1);
      f->write(text("def"), 3, 2);
      throw std::runtime_error("open boom");
    } else if (e == "write 1 3") {
      throw Error(42, "write boom");
    } else if (e == "write 2 3") {
      f->read(block(0, 16), 0, 3);
      throw 7;
    } else if (e == "read 3 6") {
      f->close();
    } else if (e == "close") {
      f->release();
    }
  });
  EXPECT_EQ(probe.events,
            (std::vector<std::string>{"open", "write 1 3", "write 2 3", "read 3 6", "close"}));
  EXPECT_EQ(probe.data, "abcdef");
  for (int i = 0; i < 3; i++)
    EXPECT_EQ(capture->count(logged[i].c_str()), before[i] + 1) << logged[i];
}

// Writes at explicit offsets, then an immediate close: only the write already started
// reports, then the close, then nothing; the dropped writes never reach any file.
TEST_F(FileTest, CloseDropsWritesNotStarted) {
  String path = at("offsets.bin");
  for (int round = 0; round < 200; round++) {
    Probe probe;
    run_file_scenario(path, probe, OPEN_WRITE, [&](AsyncFile* f, const std::string& e) {
      if (e == "open") {
        for (int i = 0; i < 8; i++) f->write(block('a' + i, 4096), i * 4096, i);
        f->close();
      } else if (e == "close") {
        f->release();
      }
    });
    // Each dropped write is reported, on a later dispatch: the write in flight and the
    // close come in that order, the seven cancellations anywhere after the open.
    std::vector<std::string> rest(probe.events.begin() + 1, probe.events.end());
    std::vector<std::string> completions;
    int cancelled = 0;
    for (auto& e : rest) {
      if (e == kCancelled)
        cancelled++;
      else
        completions.push_back(e);
    }
    ASSERT_EQ(probe.events[0], "open") << "round " << round;
    ASSERT_EQ(completions, (std::vector<std::string>{"write 0 4096", "close"}))
        << "round " << round;
    ASSERT_EQ(cancelled, 7) << "round " << round;
    ASSERT_EQ(file_text(path), std::string(4096, 'a')) << "round " << round;
  }
}

// AsyncFile::copy copies on the loop's pool as cp_sync does and reports on the loop's
// thread: nothing on success, cp_sync's error otherwise.
TEST_F(FileTest, CopyOnTheLoop) {
  std::string data(1300000, 'c');
  for (size_t i = 0; i < data.size(); i += 4093) data[i] = (char)('0' + i % 10);
  String src = at("copy-src.bin");
  FileHelper::write_file_sync(src, data.data(), (int64_t)data.size());
  std::vector<std::string> results;
  std::thread::id owner;
  run_scenario([&](RunLoop* loop) {
    owner = Thread::current_id();
    auto report = [&](SimpleEvent& e) {
      EXPECT_EQ(Thread::current_id(), owner);
      results.push_back(e.error ? std::to_string(e.error->code()) + " " + e.error->message().c_str()
                                : "ok");
    };
    EXPECT_NE(AsyncFile::copy(src, at("copy-dst.bin"), report, loop), 0u);
    EXPECT_NE(AsyncFile::copy(at("none.bin"), at("never.bin"), report, loop), 0u);
  });
  std::sort(results.begin(), results.end());
  EXPECT_EQ(results, (std::vector<std::string>{std::to_string(UV_ENOENT) +
                                                   " ENOENT, no such file or directory, " +
                                                   at("none.bin").c_str(),
                                               "ok"}));
  EXPECT_TRUE(file_text(at("copy-dst.bin")) == data);
  EXPECT_FALSE(FileHelper::exists_sync(at("never.bin")));
}

// A close issued while a read is in flight waits for it: the read gets its data, not
// a closed (or reused) descriptor.
TEST_F(FileTest, CloseWaitsForReadInFlight) {
  String path = at("read.bin");
  constexpr uint32_t kSize = 256 * 1024;
  Buffer content = block('r', kSize);
  FileHelper::write_file_sync(path, content);
  for (int round = 0; round < 200; round++) {
    Probe probe;
    run_file_scenario(path, probe, OPEN_READ, [&](AsyncFile* f, const std::string& e) {
      if (e == "open") {
        f->read(block(0, kSize), 0, 1);
        f->close();
      } else if (e == "close") {
        f->release();
      }
    });
    ASSERT_EQ(probe.events,
              (std::vector<std::string>{"open", "read 1 " + std::to_string(kSize), "close"}))
        << "round " << round;
    ASSERT_EQ(probe.data, std::string(kSize, 'r'));
  }
}

// Close, then at once a truncating open of the same handle: the old write in flight
// finishes on the old descriptor before the new open truncates, and 100 writes on the
// new descriptor all arrive in order.
TEST_F(FileTest, ReopenAfterCloseWritesInOrder) {
  String path = at("reopen.bin");
  constexpr int kBlocks = 100;
  constexpr uint32_t kBlock = 1000;
  std::string expected;
  for (int i = 0; i < kBlocks; i++) expected += std::string(kBlock, (char)('0' + i % 64));
  for (int round = 0; round < 30; round++) {
    Probe probe;
    int opens = 0;
    run_file_scenario(path, probe, OPEN_WRITE, [&](AsyncFile* f, const std::string& e) {
      if (e == "open" && ++opens == 1) {
        f->write(block('x', 1 << 20), 0, 1000);
        f->close();
        f->open(OPEN_WRITE);
      } else if (e == "open") {
        for (int i = 0; i < kBlocks; i++) f->write(block((char)('0' + i % 64), kBlock), -1, i);
      } else if (e == "write " + std::to_string(kBlocks - 1) + " " + std::to_string(kBlock)) {
        f->close();
      } else if (e == "close" && opens == 2) {
        f->release();
      }
    });
    std::vector<std::string> want = {"open", "write 1000 1048576", "close", "open"};
    for (int i = 0; i < kBlocks; i++)
      want.push_back("write " + std::to_string(i) + " " + std::to_string(kBlock));
    want.push_back("close");
    ASSERT_EQ(probe.events, want) << "round " << round;
    ASSERT_EQ(file_text(path), expected) << "round " << round;
  }
}

// The handle goes while requests are in flight (or while it is still opening, or with
// writes queued): nothing reaches the delegate afterwards, the descriptor is closed,
// and the loop ends by itself once the last request completed.
TEST_F(FileTest, HandleDestroyedWithRequestsInFlight) {
  String path = at("inflight.bin");
  constexpr uint32_t kSize = 256 * 1024;
  FileHelper::write_file_sync(path, block('d', kSize));
  for (int round = 0; round < 300; round++) {
    Probe probe;
    int mode = round % 3;
    run_scenario([&](RunLoop* loop) {
      AsyncFile* file = new AsyncFile(path, loop);
      file->set_delegate(&probe);
      probe.next = [&](AsyncFile* f, const std::string& e) {
        if (e != "open") return;
        f->read(block(0, kSize), 0, 1);
        f->write(block('d', kSize), 0, 2);
        if (mode == 2)
          for (int i = 0; i < 5; i++) f->write(block('d', kSize), 0, 3 + i);
        f->release();
      };
      file->open(OPEN_READ_PLUS);
      if (mode == 1) file->release();  // still opening
    });
    // The writes that had not started are reported while the handle is released; the
    // completions after the release reach no one.
    std::vector<std::string> expected;
    if (mode != 1) expected.push_back("open");
    if (mode == 2) expected.insert(expected.end(), 5, kCancelled);
    ASSERT_EQ(probe.events, expected) << "round " << round;
    ASSERT_TRUE(fds_settle(fds_)) << "round " << round << ": " << count_fds() << " open, " << fds_
                                  << " before";
  }
  EXPECT_EQ(file_text(path), std::string(kSize, 'd'));
}

// Refused operations report on a later dispatch, never inside the call: read, write
// and close on a closed file, a write between open() and on_open (it reaches no
// descriptor), a second open while opening, an open of an open file.
TEST_F(FileTest, RefusalsArriveLater) {
  String path = at("refused.txt");
  Probe probe;
  run_scenario([&](RunLoop* loop) {
    AsyncFile* file = new AsyncFile(path, loop);
    file->set_delegate(&probe);
    probe.next = [&](AsyncFile* f, const std::string& e) {
      if (e == "open") {
        probe.inside = true;
        f->open(OPEN_READ);
        probe.inside = false;
      } else if (e.compare(0, 12, "error -10007") == 0) {
        f->close();
      } else if (e == "close") {
        f->release();
      }
    };
    probe.inside = true;
    file->read(block(0, 8), 0, 1);
    file->write(text("lost"), 0, 2);
    file->close();
    file->open(OPEN_WRITE);
    file->write(text("early"), 0, 3);
    file->open(OPEN_WRITE);
    probe.inside = false;
  });
  std::vector<std::string> refusals, rest;
  bool seen_open = false;
  for (auto& e : probe.events) {
    if (e == "open") seen_open = true;
    (seen_open ? rest : refusals).push_back(e);
  }
  // The open's completion may come before or after the first refusals are dispatched.
  std::vector<std::string> all_refusals = {
      "error -10008 File not open", "error -10008 File not open", "error -10008 File not open",
      "error -10008 File not open", "error -10028 File opening..."};
  std::vector<std::string> ordered = refusals;
  for (auto& e : rest)
    if (e.compare(0, 13, "error -10008 ") == 0 || e.compare(0, 13, "error -10028 ") == 0)
      ordered.push_back(e);
  EXPECT_EQ(ordered, all_refusals);
  std::vector<std::string> tail;
  for (auto& e : rest)
    if (e.compare(0, 13, "error -10008 ") != 0 && e.compare(0, 13, "error -10028 ") != 0)
      tail.push_back(e);
  EXPECT_EQ(tail, (std::vector<std::string>{"open", "error -10007 File already open", "close"}));
  EXPECT_EQ(file_text(path), "");
}

// A missing file: the error names libuv's error first, then ", " and the description;
// the failed open leaves the handle closed and ready for another open.
TEST_F(FileTest, MissingFileNamesTheError) {
  String path = at("missing.txt");
  Probe probe;
  bool open_after_failure = true;
  run_file_scenario(path, probe, OPEN_READ, [&](AsyncFile* f, const std::string&) {
    if (probe.events.size() == 1) {
      open_after_failure = f->is_open();
      f->open(OPEN_READ);
    } else {
      f->release();
    }
  });
  std::string want = "error " + std::to_string(UV_ENOENT) + " ENOENT, " + uv_strerror(UV_ENOENT);
  EXPECT_EQ(probe.events, (std::vector<std::string>{want, want}));
  EXPECT_FALSE(open_after_failure);
}

// An open that cannot be started (libuv cannot copy the path) reports through the
// delegate on a later dispatch and does not leave the handle "opening".
TEST_F(FileTest, OpenThatCannotStartReports) {
  ASSERT_TRUE(allocator_replaced);
  String path = at("start.txt");
  Probe probe;
  run_scenario([&](RunLoop* loop) {
    AsyncFile* file = new AsyncFile(path, loop);
    file->set_delegate(&probe);
    probe.next = [&](AsyncFile* f, const std::string& e) {
      if (e.compare(0, 9, "error -12") == 0) {
        f->open(OPEN_WRITE);
      } else if (e == "open") {
        f->write(text("ok"), 0, 1);
      } else if (e == "write 1 2") {
        f->close();
      } else if (e == "close") {
        f->release();
      }
    };
    probe.inside = true;
    fail_next_uv_alloc = true;
    file->open(OPEN_WRITE);
    fail_next_uv_alloc = false;
    probe.inside = false;
  });
  ASSERT_FALSE(probe.events.empty());
  EXPECT_EQ(probe.events[0].compare(0, 18, "error -12 ENOMEM, "), 0) << probe.events[0];
  EXPECT_EQ(probe.events.size(), 4u);
  if (probe.events.size() == 4) {
    EXPECT_EQ(probe.events[1], "open");
    EXPECT_EQ(probe.events[3], "close");
  }
  EXPECT_EQ(file_text(path), "ok");
}

// With standard input closed, an open gets descriptor 0: both handles move the file
// above 2 and leave 0 closed, so they never see their file as "not open".
TEST_F(FileTest, StandardInputClosed) {
  String sync_path = at("sync0.txt"), async_path = at("async0.txt");
  int saved = dup(0);
  ASSERT_GE(saved, 0);
  int sync_fd = -1, async_fd = -1, open_result = -1;
  bool zero_free_after_sync = false, zero_free_after_async = false;
  int64_t written = -1, read_back = -1;
  char got[8] = {0};
  Probe probe;
  run_scenario([&](RunLoop* loop) {
    loop->post([&, loop](SimpleEvent&) {
      // The running loop's own descriptors exist already; now 0 is the lowest free one.
      ::close(0);
      File f(sync_path);
      open_result = f.open(OPEN_WRITE_PLUS);
      sync_fd = f.fd();
      zero_free_after_sync = fcntl(0, F_GETFD) == -1 && errno == EBADF;
      written = f.write("sync", 4, 0);
      read_back = f.read(got, 4, 0);
      f.close();
      AsyncFile* file = new AsyncFile(async_path, loop);
      file->set_delegate(&probe);
      probe.next = [&](AsyncFile* af, const std::string& e) {
        if (e == "open") {
          async_fd = fcntl(0, F_GETFD);
          zero_free_after_async = async_fd == -1 && errno == EBADF;
          af->write(text("async"), 0, 1);
        } else if (e == "write 1 5") {
          af->close();
        } else if (e == "close") {
          af->release();
        }
      };
      file->open(OPEN_WRITE);
    });
  });
  ASSERT_EQ(dup2(saved, 0), 0);
  ::close(saved);
  EXPECT_EQ(open_result, 0);
  EXPECT_GT(sync_fd, 2);
  EXPECT_TRUE(zero_free_after_sync);
  EXPECT_EQ(written, 4);
  EXPECT_EQ(read_back, 4);
  EXPECT_STREQ(got, "sync");
  EXPECT_TRUE(zero_free_after_async);
  EXPECT_EQ(probe.events, (std::vector<std::string>{"open", "write 1 5", "close"}));
  EXPECT_EQ(file_text(async_path), "async");
}

// A handle held by a thread_local of a framework thread: it ends after the thread's
// function and its loop.
std::atomic<bool> late_destroyed{false};
struct LateHolder {
  AsyncFile* file = nullptr;
  ~LateHolder() {
    if (file) {
      file->release();
      late_destroyed.store(true);
    }
  }
};
thread_local LateHolder late_holder;

// A handle destroyed on its thread after that thread's loop is gone (a thread_local
// holder ends after the thread's function and loop) ends quietly: the thread check
// does not need the loop.
TEST_F(FileTest, DestroyedAfterItsLoopEnded) {
  std::atomic<bool> ran{false};
  std::thread::id id = Thread::spawn([&](Thread&) {
    late_holder.file = new AsyncFile(at("late.txt"), RunLoop::current());
    ran.store(true);
    return 0;
  });
  Thread::wait_for_end(id, kWatchdogUs);
  EXPECT_TRUE(ran.load());
  EXPECT_TRUE(nubrix_test::wait_until([] { return late_destroyed.load(); }));
  EXPECT_GE(capture->count("RunLoop keep not release \"AsyncFile::Inl\""), 1);
}

TEST(AsyncFileDeathTest, DestroyedOffItsLoopThread) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        dup2(2, 1);  // the fatal banner goes to standard output
        std::atomic<AsyncFile*> file{nullptr};
        Thread::spawn([&](Thread&) {
          RunLoop* loop = RunLoop::current();
          file.store(new AsyncFile("/tmp/never-opened", loop));
          loop->run(0);
          return 0;
        });
        nubrix_test::wait_until([&] { return file.load() != nullptr; });
        file.load()->release();
      },
      "func ~AsyncFile");
}

}  // namespace
