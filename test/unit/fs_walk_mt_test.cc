#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "test/support/temp_dir.h"
#include "utils/cb.h"
#include "utils/fs.h"

using nubrix::Callback;
using nubrix::FileHelper;
using nubrix::SimpleEvent;

namespace {

class WalkThreads : public ::testing::Test {
 protected:
  void SetUp() override { nubrix_test::make_temp_dir("/tmp/nubrix-walk-mt-", &root_); }
  void TearDown() override { nubrix_test::remove_temp_dir(root_); }
  std::string at(const std::string& rel) const { return root_ + "/" + rel; }
  long long size_of(const std::string& rel) const {
    struct stat st;
    return stat(at(rel).c_str(), &st) == 0 ? (long long)st.st_size : -1;
  }
  std::string root_;
};

constexpr long long kChunk = 524288;

// The stop flag set on another thread while a large file is being copied ends the copy
// after the current chunk: the copy returns false, the file holds whole chunks only and
// the entries after it are not copied.
TEST_F(WalkThreads, StopFlagFromAnotherThreadEndsALargeCopy) {
  ASSERT_EQ(mkdir(at("src").c_str(), 0755), 0);
  // A sparse 1 GiB file: no disk for the source, and far longer to copy than the
  // watcher needs to see the copy begin.
  int fd = open(at("src/big").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 1LL << 30), 0);
  close(fd);
  fd = open(at("src/later").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  close(fd);

  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    // Plain stat(2): the file helper's requests belong to the copying thread.
    while (!done.load() && size_of("dst/big") < 4 * kChunk) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    stop.store(true);
  });
  bool result = FileHelper::copy_r_sync(at("src").c_str(), at("dst").c_str(), &stop);
  done.store(true);
  watcher.join();

  EXPECT_FALSE(result);
  long long copied = size_of("dst/big");
  EXPECT_GE(copied, 4 * kChunk);
  EXPECT_LT(copied, 1LL << 30);
  EXPECT_EQ(copied % kChunk, 0);
  EXPECT_EQ(size_of("dst/later"), -1);
}

// Between entries: a tree of many small files, stopped once the copy is under way.
TEST_F(WalkThreads, StopFlagFromAnotherThreadEndsBetweenEntries) {
  ASSERT_EQ(mkdir(at("src").c_str(), 0755), 0);
  const int kFolders = 40, kFiles = 50;
  for (int d = 0; d < kFolders; d++) {
    std::string folder = at("src/d" + std::to_string(1000 + d));
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    for (int f = 0; f < kFiles; f++) {
      int fd = open((folder + "/f" + std::to_string(f)).c_str(), O_CREAT | O_WRONLY, 0644);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(write(fd, "data", 4), 4);
      close(fd);
    }
  }
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    struct stat st;
    while (!done.load() && stat(at("dst/d1001").c_str(), &st) != 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    stop.store(true);
  });
  bool result = FileHelper::copy_r_sync(at("src").c_str(), at("dst").c_str(), &stop);
  done.store(true);
  watcher.join();
  if (result) GTEST_SKIP() << "the copy of 2000 files ended before the watcher saw it begin";
  EXPECT_FALSE(result);
  struct stat st;
  EXPECT_NE(stat(at("dst/d" + std::to_string(1000 + kFolders - 1)).c_str(), &st), 0);
  // Whatever was copied is whole: every copied file holds its four bytes.
  for (int f = 0; f < kFiles; f++) {
    std::string p = at("dst/d1000/f" + std::to_string(f));
    if (stat(p.c_str(), &st) == 0) {
      EXPECT_EQ(st.st_size, 4) << p;
    }
  }
  // The rest can be removed from another thread while this one waits.
  bool removed = false;
  std::thread remover([&] { removed = FileHelper::remove_r_sync(at("dst").c_str()); });
  remover.join();
  EXPECT_TRUE(removed);
  EXPECT_NE(stat(at("dst").c_str(), &st), 0);
}

// Callbacks made on one thread may be copied, fired and released on others.
TEST(CallbackThreads, SharedCoreAcrossThreads) {
  std::atomic<int> calls{0};
  Callback cb([&](SimpleEvent& evt) {
    calls.fetch_add(1);
    evt.return_value = 1;
  });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; i++) {
        Callback copy(cb);
        Callback empty;  // the shared empty callback, also first made here
        EXPECT_EQ(nubrix::sync_callback(copy), 1);
        EXPECT_EQ(nubrix::sync_callback(empty), 0);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(calls.load(), 4000);
  EXPECT_EQ(cb.core()->ref_count(), 1);
}

}  // namespace
