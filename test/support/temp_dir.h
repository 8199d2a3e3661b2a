// A fresh folder under /tmp for one test, filled and read back with the C library and
// removed with the shell, so the fixture does not depend on the code under test.
#ifndef NUBRIX_TEST_SUPPORT_TEMP_DIR_H
#define NUBRIX_TEST_SUPPORT_TEMP_DIR_H

#include <gtest/gtest.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

namespace nubrix_test {

// Makes a new folder named `prefix` and six random characters and stores its real
// path (in case /tmp is itself a link) in `dir`.
inline void make_temp_dir(const char* prefix, std::string* dir) {
  std::string tmpl = std::string(prefix) + "XXXXXX";
  ASSERT_NE(mkdtemp(&tmpl[0]), nullptr);
  char real[PATH_MAX];
  ASSERT_NE(realpath(tmpl.c_str(), real), nullptr);
  *dir = real;
}

// Removes the folder and all in it, first giving the owner back the rights a test
// took away. A folder that is gone already is no failure.
inline void remove_temp_dir(const std::string& dir) {
  std::string cmd = "chmod -R u+rwx '" + dir + "' 2>/dev/null; rm -rf '" + dir + "'";
  ASSERT_EQ(system(cmd.c_str()), 0);
}

// The whole content of a file, or "<missing>" when it cannot be opened.
inline std::string read_file_text(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return "<missing>";
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  fclose(f);
  return out;
}

}  // namespace nubrix_test

#endif
