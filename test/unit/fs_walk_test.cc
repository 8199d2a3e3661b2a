#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "test/support/temp_dir.h"
#include "utils/error.h"
#include "utils/fs.h"
#include "utils/path.h"

using nubrix::Callback;
using nubrix::Dirent;
using nubrix::Error;
using nubrix::FileHelper;
using nubrix::SimpleEvent;
using nubrix::String;

namespace {

std::string str(const String& s) {
  return std::string(s.data(), s.length());
}

// A fresh temporary folder per test, removed with `rm -rf` afterwards (not with the
// code under test).
class Walk : public ::testing::Test {
 protected:
  void SetUp() override { nubrix_test::make_temp_dir("/tmp/nubrix-walk-", &root_); }
  void TearDown() override { nubrix_test::remove_temp_dir(root_); }
  std::string at(const std::string& rel) const { return root_ + "/" + rel; }
  void write(const std::string& rel, const std::string& data) {
    FILE* f = fopen(at(rel).c_str(), "wb");
    ASSERT_NE(f, nullptr) << rel;
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
  }
  std::string read(const std::string& rel) { return nubrix_test::read_file_text(at(rel)); }
  void dir(const std::string& rel) { ASSERT_EQ(mkdir(at(rel).c_str(), 0755), 0) << rel; }
  void link(const std::string& target, const std::string& rel) {
    ASSERT_EQ(symlink(target.c_str(), at(rel).c_str()), 0) << rel;
  }
  bool exists(const std::string& rel) {
    struct stat st;
    return lstat(at(rel).c_str(), &st) == 0;
  }
  mode_t mode(const std::string& rel) {
    struct stat st;
    return lstat(at(rel).c_str(), &st) == 0 ? st.st_mode : 0;
  }
  // t/ with a/x, a/b/y, a file z and a link l -> a (a folder link).
  void make_tree() {
    dir("t");
    dir("t/a");
    dir("t/a/b");
    write("t/a/x", "x");
    write("t/a/b/y", "yy");
    write("t/z", "zzz");
    link("a", "t/l");
  }
  // Walks and records "<relative path>:<type>" of each entry in callback order.
  std::vector<std::string> walk(const std::string& rel, bool children_first, int stop_after = -1) {
    std::vector<std::string> seen;
    std::string prefix = "file://" + root_ + "/";
    Callback cb([&](SimpleEvent& evt) {
      Dirent* e = static_cast<Dirent*>(evt.data);
      std::string p = str(e->pathname);
      seen.push_back((p.compare(0, prefix.size(), prefix) == 0 ? p.substr(prefix.size()) : p) +
                     ":" + std::to_string(e->type));
      evt.return_value = (int)seen.size() == stop_after ? 0 : 1;
    });
    last_result_ = FileHelper::each_sync(at(rel).c_str(), cb, children_first);
    return seen;
  }

  std::string root_;
  bool last_result_ = false;
};

void expect_error(const std::function<void()>& body, int code, const std::string& message) {
  try {
    body();
    ADD_FAILURE() << "no Error thrown, expected: " << message;
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), code) << str(e.message());
    EXPECT_EQ(str(e.message()), message);
  }
}

std::string uv_text(int code, const std::string& path) {
  return std::string(uv_err_name(code)) + ", " + uv_strerror(code) + ", " + path;
}

TEST_F(Walk, BothOrdersOverFilesFoldersAndALink) {
  make_tree();
  // Entries in byte order of their names; the link is an entry of its own, never entered.
  std::vector<std::string> parents = {"t:2",     "t/a:2", "t/a/b:2", "t/a/b/y:1",
                                      "t/a/x:1", "t/l:3", "t/z:1"};
  std::vector<std::string> children = {"t/a/b/y:1", "t/a/b:2", "t/a/x:1", "t/a:2",
                                       "t/l:3",     "t/z:1",   "t:2"};
  EXPECT_EQ(walk("t", false), parents);
  EXPECT_TRUE(last_result_);
  EXPECT_EQ(walk("t", true), children);
  EXPECT_TRUE(last_result_);
  // The root's Dirent: its own name and the resolved path.
  std::string name;
  Callback cb([&](SimpleEvent& evt) { name = str(static_cast<Dirent*>(evt.data)->name); });
  FileHelper::each_sync(("file://" + at("t/a/")).c_str(), cb);
  EXPECT_EQ(name, "a");
}

TEST_F(Walk, RootLinkIsTheLinkItself) {
  make_tree();
  EXPECT_EQ(walk("t/l", false), std::vector<std::string>{"t/l:3"});
  EXPECT_EQ(walk("t/l/", true), std::vector<std::string>{"t/l:3"});
  EXPECT_EQ(walk("t/z", false), std::vector<std::string>{"t/z:1"});
}

// kWalkSkip on a folder leaves out its entries (parents first); the walk goes on.
TEST_F(Walk, SkipLeavesOutAFoldersEntries) {
  make_tree();
  std::string prefix = "file://" + root_ + "/";
  for (std::string skipped : {"t/a", "t/a/b", "t"}) {
    std::vector<std::string> seen;
    Callback cb([&](SimpleEvent& evt) {
      std::string p = str(static_cast<Dirent*>(evt.data)->pathname).substr(prefix.size());
      seen.push_back(p);
      evt.return_value = p == skipped ? FileHelper::kWalkSkip : 1;
    });
    EXPECT_TRUE(FileHelper::each_sync(at("t").c_str(), cb)) << skipped;
    std::vector<std::string> expected;
    for (std::string p : {"t", "t/a", "t/a/b", "t/a/b/y", "t/a/x", "t/l", "t/z"}) {
      if (p.compare(0, skipped.size() + 1, skipped + "/") != 0) expected.push_back(p);
    }
    EXPECT_EQ(seen, expected) << skipped;
  }
}

TEST_F(Walk, CallbackEndsTheWalk) {
  make_tree();
  struct Case {
    bool children_first;
    int stop_after;
    size_t fired;
  } cases[] = {{false, 1, 1}, {true, 1, 1}, {false, 3, 3}, {true, 4, 4}, {false, 7, 7}};
  for (const Case& c : cases) {
    EXPECT_EQ(walk("t", c.children_first, c.stop_after).size(), c.fired) << c.stop_after;
    EXPECT_FALSE(last_result_);
  }
  // A callback that stores nothing fires exactly once.
  int calls = 0;
  Callback idle([&](SimpleEvent&) { calls++; });
  EXPECT_FALSE(FileHelper::each_sync(at("t").c_str(), idle, true));
  EXPECT_EQ(calls, 1);
  // Errors thrown by the callback pass through unchanged.
  Callback thrower([](SimpleEvent&) { throw Error(-77, "from the callback"); });
  expect_error([&] { FileHelper::each_sync(at("t").c_str(), thrower); }, -77, "from the callback");
}

TEST_F(Walk, MissingRoot) {
  Callback cb([](SimpleEvent& evt) { evt.return_value = 1; });
  EXPECT_FALSE(FileHelper::each_sync(at("none").c_str(), cb, false, true));
  expect_error([&] { FileHelper::each_sync(at("none").c_str(), cb); }, UV_ENOENT,
               uv_text(UV_ENOENT, at("none")));
  EXPECT_FALSE(FileHelper::remove_r_sync(at("none").c_str()));
  expect_error([&] { FileHelper::chmod_r_sync(at("none").c_str(), 0700); }, UV_ENOENT,
               uv_text(UV_ENOENT, at("none")));
  expect_error([&] { FileHelper::chown_r_sync(at("none").c_str(), getuid(), getgid()); }, UV_ENOENT,
               uv_text(UV_ENOENT, at("none")));
  expect_error([&] { FileHelper::copy_r_sync(at("none").c_str(), at("out").c_str()); }, UV_ENOENT,
               uv_text(UV_ENOENT, at("none")));
  EXPECT_FALSE(exists("out"));
}

TEST_F(Walk, ChmodNeverFollowsALink) {
  make_tree();
  write("outside", "o");
  ASSERT_EQ(chmod(at("outside").c_str(), 0600), 0);
  link(at("outside"), "t/a/out");
  EXPECT_TRUE(FileHelper::chmod_r_sync(at("t").c_str(), 0750));
  for (const char* rel : {"t", "t/a", "t/a/b", "t/a/x", "t/a/b/y", "t/z"}) {
    EXPECT_EQ(mode(rel) & 07777, 0750u) << rel;
  }
  EXPECT_EQ(mode("outside") & 07777, 0600u);  // the link's target is outside the tree
  // A link as the root is left alone too.
  EXPECT_TRUE(FileHelper::chmod_r_sync(at("t/a/out").c_str(), 0777));
  EXPECT_EQ(mode("outside") & 07777, 0600u);
  // The stop flag, set before the walk, ends it at the first entry.
  std::atomic<bool> stop{true};
  EXPECT_FALSE(FileHelper::chmod_r_sync(at("t").c_str(), 0700, &stop));
  EXPECT_EQ(mode("t") & 07777, 0750u);
}

TEST_F(Walk, ChownChangesTheLinkNotItsTarget) {
  make_tree();
  write("outside", "o");
  link(at("outside"), "t/out");
  struct stat before;
  ASSERT_EQ(stat(at("outside").c_str(), &before), 0);
  // Without privileges only the own ids are allowed; lchown still reports success.
  EXPECT_TRUE(FileHelper::chown_r_sync(at("t").c_str(), getuid(), getgid()));
  struct stat after;
  ASSERT_EQ(stat(at("outside").c_str(), &after), 0);
  EXPECT_EQ(after.st_ctim.tv_sec * 1000000000LL + after.st_ctim.tv_nsec,
            before.st_ctim.tv_sec * 1000000000LL + before.st_ctim.tv_nsec);
  std::atomic<bool> stop{true};
  EXPECT_FALSE(FileHelper::chown_r_sync(at("t").c_str(), getuid(), getgid(), &stop));
  if (getuid() != 0) {
    // A change to another owner fails at the first entry, which names the entry.
    expect_error([&] { FileHelper::chown_r_sync(at("t/z").c_str(), 0, 0); }, UV_EPERM,
                 uv_text(UV_EPERM, "file://" + at("t/z")));
    return;
  }
  // With privileges: every entry and the link itself change owner, the target does not.
  EXPECT_TRUE(FileHelper::chown_r_sync(at("t").c_str(), 4321, 4322));
  for (const char* rel : {"t", "t/a", "t/a/b/y", "t/z", "t/l", "t/out"}) {
    struct stat st;
    ASSERT_EQ(lstat(at(rel).c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u) << rel;
    EXPECT_EQ(st.st_gid, 4322u) << rel;
  }
  ASSERT_EQ(stat(at("outside").c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
}

TEST_F(Walk, RemoveTree) {
  make_tree();
  write("outside", "o");
  link(at("outside"), "t/a/b/out");
  std::atomic<bool> stop{true};
  EXPECT_FALSE(FileHelper::remove_r_sync(at("t").c_str(), &stop));
  EXPECT_TRUE(exists("t/a/b/y"));
  EXPECT_TRUE(FileHelper::remove_r_sync(at("t").c_str()));
  EXPECT_FALSE(exists("t"));
  EXPECT_EQ(read("outside"), "o");
}

TEST_F(Walk, RemoveLinkToFolderRemovesOnlyTheLink) {
  make_tree();
  link(at("t"), "lt");
  EXPECT_TRUE(FileHelper::remove_r_sync(at("lt").c_str()));
  EXPECT_FALSE(exists("lt"));
  EXPECT_EQ(read("t/a/b/y"), "yy");
  // Written with a final "/" it is still the link.
  link(at("t"), "lt2");
  EXPECT_TRUE(FileHelper::remove_r_sync((at("lt2") + "/").c_str()));
  EXPECT_FALSE(exists("lt2"));
  EXPECT_EQ(read("t/a/x"), "x");
}

TEST_F(Walk, RemoveFailureNamesTheEntry) {
  make_tree();
  ASSERT_EQ(chmod(at("t/a/b").c_str(), 0555), 0);
  if (getuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  expect_error([&] { FileHelper::remove_r_sync(at("t").c_str()); }, UV_EACCES,
               uv_text(UV_EACCES, "file://" + at("t/a/b/y")));
  EXPECT_TRUE(exists("t/a/b/y"));
}

TEST_F(Walk, CopyTree) {
  make_tree();
  EXPECT_TRUE(FileHelper::copy_r_sync(at("t").c_str(), at("c").c_str()));
  EXPECT_EQ(read("c/a/x"), "x");
  EXPECT_EQ(read("c/a/b/y"), "yy");
  EXPECT_EQ(read("c/z"), "zzz");
  // The link is copied as a link with the same text, not as a copy of its target.
  EXPECT_TRUE(S_ISLNK(mode("c/l")));
  char text[64] = {0};
  ASSERT_EQ(readlink(at("c/l").c_str(), text, sizeof text - 1), 1);
  EXPECT_EQ(std::string(text), "a");
  // A single file copies to the target path.
  EXPECT_TRUE(FileHelper::copy_r_sync(at("t/z").c_str(), ("file://" + at("z2")).c_str()));
  EXPECT_EQ(read("z2"), "zzz");
  // A link as the root becomes a link.
  EXPECT_TRUE(FileHelper::copy_r_sync(at("t/l").c_str(), at("l2").c_str()));
  EXPECT_TRUE(S_ISLNK(mode("l2")));
}

TEST_F(Walk, CopyIntoMissingParentOrExistingFolder) {
  make_tree();
  EXPECT_FALSE(FileHelper::copy_r_sync(at("t").c_str(), at("no/c").c_str()));
  EXPECT_FALSE(exists("no"));
  EXPECT_FALSE(FileHelper::copy_r_sync(at("t").c_str(), at("t/z/c").c_str()));  // a file
  dir("c");
  expect_error([&] { FileHelper::copy_r_sync(at("t").c_str(), at("c").c_str()); }, UV_EEXIST,
               uv_text(UV_EEXIST, "file://" + at("c")));
  EXPECT_FALSE(exists("c/a"));
}

TEST_F(Walk, CopyIntoItselfIsRefused) {
  make_tree();
  link(at("t/a"), "la");
  std::string msg = "cannot copy " + at("t") + " into itself, ";
  struct Case {
    std::string target;
  } cases[] = {{at("t/sub")}, {at("t/a/sub")}, {at("t")}, {at("la/sub")}, {at("t/a/../c")}};
  for (const Case& c : cases) {
    expect_error([&] { FileHelper::copy_r_sync(at("t").c_str(), c.target.c_str()); },
                 nubrix::ERR_BAD_ARGUMENT, msg + c.target);
  }
  EXPECT_FALSE(exists("t/sub"));
  EXPECT_FALSE(exists("t/a/sub"));
  // A sibling whose name merely starts with the source's is fine.
  EXPECT_TRUE(FileHelper::copy_r_sync(at("t").c_str(), at("t2").c_str()));
  EXPECT_EQ(read("t2/z"), "zzz");
}

TEST_F(Walk, CopyIntoTheWorkingFolder) {
  make_tree();
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(root_.c_str()), 0);
  bool plain = FileHelper::copy_r_sync("t", "out");
  bool dotted = FileHelper::copy_r_sync("t/z", "./z3");
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_TRUE(plain);
  EXPECT_TRUE(dotted);
  EXPECT_EQ(read("out/a/b/y"), "yy");
  EXPECT_EQ(read("z3"), "zzz");
}

TEST_F(Walk, CopyEndsAtOtherKindsOfFiles) {
  dir("t");
  write("t/a", "a");
  ASSERT_EQ(mkfifo(at("t/b").c_str(), 0600), 0);
  write("t/c", "c");
  EXPECT_FALSE(FileHelper::copy_r_sync(at("t").c_str(), at("c").c_str()));
  EXPECT_EQ(read("c/a"), "a");
  EXPECT_FALSE(exists("c/b"));
  EXPECT_FALSE(exists("c/c"));
  // The stop flag set before the copy: the root folder is made, nothing more.
  std::atomic<bool> stop{true};
  EXPECT_FALSE(FileHelper::copy_r_sync(at("t").c_str(), at("d").c_str(), &stop));
  EXPECT_TRUE(exists("d"));
  EXPECT_FALSE(exists("d/a"));
}

}  // namespace
