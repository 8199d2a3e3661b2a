// Copies a file with AsyncFile on a run loop: several reads are in flight at once, each
// block read is written at its own offset (the writes queue up in the target), and a
// written block's buffer is reused for the next read. Progress is printed every tenth.
// With --sync the same copy is made with FileHelper::cp_sync instead, and with --task
// with AsyncFile::copy (the copy runs on the loop's thread pool, inside the kernel), for
// comparison.
//
//   async-copy <source> <target> [--block KiB] [--reads N] [--quiet] [--sync | --task]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "utils/fs-file.h"
#include "utils/fs.h"
#include "utils/loop.h"
#include "utils/util.h"

using namespace nubrix;

namespace {

class Copier : public AsyncFile::Delegate {
 public:
  Copier(const String& source, const String& target, int64_t size, uint32_t block, int reads,
         bool quiet)
      : size_(size), block_(block), reads_(reads), quiet_(quiet) {
    src_ = new AsyncFile(source);
    dst_ = new AsyncFile(target);
    src_->set_delegate(this);
    dst_->set_delegate(this);
  }

  // Opens both files; the rest happens in the delegate events.
  void start() {
    started_us_ = time_monotonic();
    src_->open(OPEN_READ);
    dst_->open(OPEN_WRITE);
  }
  bool failed() const { return failed_; }
  int64_t copied() const { return written_; }
  int64_t elapsed_us() const { return ended_us_ - started_us_; }

  void on_open(AsyncFile* file) override {
    if (finishing_) return file->close();  // the other file failed meanwhile
    if (++opened_ < 2) return;
    if (size_ == 0) return finish();
    for (int i = 0; i < reads_ && next_ < size_; i++) read_next(Buffer(block_));
  }

  void on_read(AsyncFile*, Buffer& buffer, int32_t mark) override {
    if (finishing_) return;  // a failure ended the copy
    if (buffer.length() == 0) {
      // The source got shorter while we copied: what was read is all there is.
      size_ = (int64_t)mark * block_;
      if (written_ >= size_) finish();
      return;
    }
    dst_->write(std::move(buffer), (int64_t)mark * block_, mark);
  }

  void on_write(AsyncFile*, Buffer& buffer, int32_t) override {
    if (finishing_) return;
    written_ += buffer.length();
    progress();
    if (next_ < size_) {
      read_next(std::move(buffer));
    } else if (written_ >= size_) {
      finish();
    }
  }

  void on_close(AsyncFile* file) override { done(file); }

  void on_error(AsyncFile* file, const Error& error) override {
    printf("%s: %s\n", file->path().c_str(), error.message().c_str());
    failed_ = true;
    if (!finishing_) return finish();
    if (!file->is_open()) done(file);  // a close that failed
  }

 private:
  // `buffer` has the block length: fresh, or a block that was written in full.
  void read_next(Buffer buffer) {
    int32_t index = (int32_t)(next_ / block_);
    next_ += block_;
    src_->read(std::move(buffer), (int64_t)index * block_, index);
  }

  void progress() {
    if (quiet_ || size_ == 0) return;
    int tenth = (int)(written_ * 10 / size_);
    if (tenth <= shown_) return;
    shown_ = tenth;
    printf("copied %lld of %lld bytes (%d%%)\n", (long long)written_, (long long)size_, tenth * 10);
    fflush(stdout);
  }

  // Closes what is open; a file that is not open is done at once.
  void finish() {
    if (finishing_) return;
    finishing_ = true;
    ended_us_ = time_monotonic();
    bool src_open = src_->is_open(), dst_open = dst_->is_open();
    if (src_open) src_->close();
    if (dst_open) dst_->close();
    if (!src_open) done(src_);
    if (!dst_open && dst_) done(dst_);
  }

  // A file is closed (or was never open): once both are, the handles go and the loop,
  // with nothing left to keep it, ends.
  void done(AsyncFile* file) {
    if (file == src_ && !src_done_) src_done_ = true;
    if (file == dst_ && !dst_done_) dst_done_ = true;
    if (src_done_ && dst_done_ && src_) {
      src_->release();
      dst_->release();
      src_ = dst_ = nullptr;
    }
  }

  AsyncFile* src_;
  AsyncFile* dst_;
  int64_t size_;
  uint32_t block_;
  int reads_;
  bool quiet_;
  int opened_ = 0;
  int64_t next_ = 0;     // offset of the next read
  int64_t written_ = 0;  // bytes written so far
  int shown_ = 0;
  bool failed_ = false;
  bool finishing_ = false;
  bool src_done_ = false, dst_done_ = false;
  int64_t started_us_ = 0, ended_us_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    printf("usage: %s <source> <target> [--block KiB] [--reads N] [--quiet] [--sync | --task]\n",
           argv[0]);
    return 2;
  }
  String source(argv[1]), target(argv[2]);
  uint32_t block = 1024 * 1024;
  int reads = 4;
  bool quiet = false, sync = false, task = false;
  for (int i = 3; i < argc; i++) {
    if (!strcmp(argv[i], "--block") && i + 1 < argc) {
      block = (uint32_t)atoi(argv[++i]) * 1024;
    } else if (!strcmp(argv[i], "--reads") && i + 1 < argc) {
      reads = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--quiet")) {
      quiet = true;
    } else if (!strcmp(argv[i], "--sync")) {
      sync = true;
    } else if (!strcmp(argv[i], "--task")) {
      task = true;
    }
  }
  if (block == 0 || block > (1u << 30) || reads < 1) {
    printf("bad --block or --reads\n");
    return 2;
  }
  int64_t size;
  try {
    size = (int64_t)FileHelper::stat_sync(source).size();
  } catch (const Error& e) {
    printf("%s\n", e.message().c_str());
    return 1;
  }
  if (size / block >= 0x7fffffff) {
    printf("the file has too many blocks; use a larger --block\n");
    return 1;
  }

  bool failed = false;
  int64_t copied = 0, elapsed_us = 0;
  if (sync) {
    int64_t start = time_monotonic();
    try {
      FileHelper::cp_sync(source, target);
    } catch (const Error& e) {
      printf("%s\n", e.message().c_str());
      return 1;
    }
    copied = size;
    elapsed_us = time_monotonic() - start;
  } else if (task) {
    std::thread::id id = Thread::spawn(
        [&](Thread&) {
          int64_t start = time_monotonic();
          AsyncFile::copy(source, target, [&](SimpleEvent& evt) {
            if (evt.error) {
              printf("%s\n", evt.error->message().c_str());
              failed = true;
            }
          });
          RunLoop::current()->run(0);  // ends once the copy has completed
          copied = failed ? 0 : size;
          elapsed_us = time_monotonic() - start;
          return 0;
        },
        "async-copy");
    Thread::wait_for_end(id);
    if (failed) return 1;
  } else {
    std::thread::id id = Thread::spawn(
        [&](Thread&) {
          Copier copier(source, target, size, block, reads, quiet);
          copier.start();
          RunLoop::current()->run(0);  // ends once both handles are gone
          failed = copier.failed();
          copied = copier.copied();
          elapsed_us = copier.elapsed_us();
          return 0;
        },
        "async-copy");
    Thread::wait_for_end(id);
    if (failed) return 1;
  }
  double seconds = elapsed_us / 1e6;
  printf("copied %lld bytes in %.3f s (%.1f MB/s)\n", (long long)copied, seconds,
         seconds > 0 ? copied / 1e6 / seconds : 0.0);
  return 0;
}
