#include "utils/path.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "test/support/temp_dir.h"
#include "utils/error.h"

using nubrix::Error;
using nubrix::Path;
using nubrix::String;

namespace {

std::string str(const String& s) {
  return std::string(s.data(), s.length());
}

// Runs the body with the working directory set to a fresh temporary folder, then goes
// back and removes the folder (which the body may have removed already).
class PathCwdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_, sizeof old_), nullptr);
    ASSERT_NO_FATAL_FAILURE(nubrix_test::make_temp_dir("/tmp/path_test.", &dir_));
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(old_), 0);
    nubrix_test::remove_temp_dir(dir_);
  }
  char old_[PATH_MAX];
  std::string dir_;
};

TEST(Path, Schemes) {
  struct Case {
    const char* path;
    bool absolute, zip, file;
  } cases[] = {
      {"/a", true, false, false},       {"a", false, false, false},
      {"", false, false, false},        {"file:///a", true, false, true},
      {"FiLe:///a", true, false, true}, {"file://a", false, false, false},
      {"file:/a", false, false, false}, {"zip:///a", true, true, false},
      {"ZIP:///", true, true, false},   {"zip:/a", false, false, false},
      {"file", false, false, false},    {"file:\\\\\\a", false, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Path::is_absolute(c.path), c.absolute) << c.path;
    EXPECT_EQ(Path::is_zip_url(c.path), c.zip) << c.path;
    EXPECT_EQ(Path::is_file_url(c.path), c.file) << c.path;
  }
}

TEST(Path, StripScheme) {
  struct Case {
    const char *path, *want;
  } cases[] = {
      {"file:///a", "/a"},
      {"zip:///a/b", "/a/b"},
      {"FILE:///x/", "/x/"},
      {"a", "a"},
      {"file:///", "/"},
      {"zip:///", "/"},
      {"", ""},
      {"file://a", "file://a"},
      {"zip:/", "zip:/"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(Path::strip_scheme(c.path), c.want) << c.path;
    EXPECT_EQ(str(Path::strip_scheme(String(c.path))), c.want) << c.path;
  }
  // The pointer form points into the same text.
  const char* text = "file:///etc";
  EXPECT_EQ(Path::strip_scheme(text), text + 7);
  EXPECT_EQ(Path::strip_scheme((const char*)nullptr), nullptr);
}

TEST(Path, BaseDirExt) {
  struct Case {
    const char *path, *base, *dir, *ext;
  } cases[] = {
      {"/a/b/", "b", "/a", ""},
      {"/a/b", "b", "/a", ""},
      {"/a", "a", "", ""},
      {"x", "x", "", ""},
      {"x/", "x", "", ""},
      {"/", "", "", ""},
      {"", "", "", ""},
      {"/a/b.c.jsx", "b.c.jsx", "/a", ".jsx"},
      {"/a.b/c", "c", "/a.b", ""},
      {"/home/.profile", ".profile", "/home", ".profile"},
      {"a.js.jsx", "a.js.jsx", "", ".jsx"},
      {"dir/name.", "name.", "dir", "."},
      {"a//b", "b", "a/", ""},
      {"a\\b.c", "a\\b.c", "", ".c"},
      {"file:///x/y.js", "y.js", "file:///x", ".js"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(str(Path::basename(c.path)), c.base) << c.path;
    EXPECT_EQ(str(Path::dirname(c.path)), c.dir) << c.path;
    EXPECT_EQ(str(Path::extname(c.path)), c.ext) << c.path;
  }
}

TEST(Path, ResolveAbsolute) {
  struct Case {
    const char *path, *want;
  } cases[] = {
      {"/a/./b/../c", "file:///a/c"},
      {"/../x", "file:///x"},
      {"/../../..", "file:///"},
      {"FILE:///tmp//x/", "file:///tmp/x"},
      {"zip:///a/b", "zip:///a/b"},
      {"Zip:///a/../../b", "zip:///b"},
      {"/", "file:///"},
      {"file:///", "file:///"},
      {"/a/b/c/../../d", "file:///a/d"},
      {"/a/..cache/b", "file:///a/..cache/b"},
      {"/a/..cache/../b", "file:///a/b"},
      {"/a/b../c", "file:///a/b../c"},
      {"/a/.../b", "file:///a/.../b"},
      {"/a/.x/b", "file:///a/.x/b"},
      {"/a/b/..", "file:///a"},
      {"/a/b/.", "file:///a/b"},
      {"//a//b//", "file:///a/b"},
      {"/a\\..\\b", "file:///a\\..\\b"},
  };
  for (const Case& c : cases) EXPECT_EQ(str(Path::resolve(c.path)), c.want) << c.path;
  EXPECT_EQ(str(Path::format("/%s/%d/../z", "a", 7)), "file:///a/z");
}

TEST_F(PathCwdTest, ResolveRelative) {
  EXPECT_EQ(str(Path::cwd()), "file://" + dir_);
  struct Case {
    const char *path, *want;
  } cases[] = {
      {"src/x.jsx", "/src/x.jsx"},
      {"", ""},
      {".", ""},
      {"./a/../b", "/b"},
      {"..cache", "/..cache"},
      {"file://x", "/file:/x"},
      {"zip:///", "/zip:"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(str(Path::resolve(c.path)), "file://" + dir_ + c.want) << c.path;
  }
  // ".." rises out of the working directory.
  std::string parent = dir_.substr(0, dir_.rfind('/'));
  EXPECT_EQ(str(Path::resolve("..")), "file://" + parent);

  ASSERT_EQ(mkdir("sub", 0755), 0);
  EXPECT_TRUE(Path::chdir("sub"));
  EXPECT_EQ(str(Path::cwd()), "file://" + dir_ + "/sub");
  EXPECT_EQ(str(Path::resolve("f")), "file://" + dir_ + "/sub/f");
  EXPECT_TRUE(Path::chdir(".."));
  EXPECT_EQ(str(Path::cwd()), "file://" + dir_);
  EXPECT_TRUE(Path::chdir(("file://" + dir_ + "/sub").c_str()));
  EXPECT_TRUE(Path::chdir(("zip://" + dir_).c_str()));
  EXPECT_EQ(str(Path::cwd()), "file://" + dir_);
  EXPECT_FALSE(Path::chdir("missing"));
  EXPECT_EQ(str(Path::cwd()), "file://" + dir_);
}

TEST_F(PathCwdTest, DeletedWorkingDirectory) {
  ASSERT_EQ(mkdir("gone", 0755), 0);
  ASSERT_EQ(chdir("gone"), 0);
  ASSERT_EQ(rmdir((dir_ + "/gone").c_str()), 0);
  EXPECT_THROW((void)Path::cwd(), Error);
  try {
    (void)Path::resolve("x.js");
    ADD_FAILURE() << "resolve of a relative path did not throw";
  } catch (const Error& e) {
    EXPECT_EQ(e.code(), -2);
    EXPECT_EQ(str(e.message()).rfind("ENOENT, ", 0), 0u) << str(e.message());
  }
  // Absolute paths need no working directory.
  EXPECT_EQ(str(Path::resolve("/a/../b")), "file:///b");
  EXPECT_FALSE(Path::chdir("x"));
  EXPECT_TRUE(Path::chdir(dir_.c_str()));
  EXPECT_EQ(str(Path::cwd()), "file://" + dir_);
}

TEST_F(PathCwdTest, LongWorkingDirectory) {
  // Nested folders until the working directory is well over 1024 bytes.
  std::string piece(200, 'd');
  std::string want = dir_;
  while (want.size() < 1800) {
    ASSERT_EQ(mkdir(piece.c_str(), 0755), 0);
    ASSERT_EQ(chdir(piece.c_str()), 0);
    want += "/" + piece;
  }
  EXPECT_EQ(str(Path::cwd()), "file://" + want);
  EXPECT_EQ(str(Path::resolve("../x")),
            "file://" + want.substr(0, want.size() - piece.size() - 1) + "/x");
}

}  // namespace
