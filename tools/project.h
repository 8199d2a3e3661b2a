// Project builds: `jsxc SRC_DIR OUT_DIR [--clean-comment] [--watch] [--sourcemap[=inline]]`.
//
// Every `.js` and `.jsx` file below SRC_DIR is compiled to the same relative path below
// OUT_DIR, each output byte for byte the single-file result. Files compile on the run
// loop's thread pool, one job per file; messages come out sorted by path, and a summary
// line ends every build. A file that fails leaves its old output as it was and fails
// alone.
//
// Incremental builds. OUT_DIR holds one small manifest (".jsxc-manifest"): per output,
// the source's hash, size and modification time, a digest of the options and the
// compiler's version, and the output's size and modification time as written. A source
// whose record still matches is not read again; any other source is compiled, and its
// output is rewritten only when the bytes differ, so an unchanged output keeps its
// modification time. The output of a deleted source is removed only when the manifest
// says the compiler wrote it and the file is still as written. A missing, damaged or
// foreign manifest means a full build.
#ifndef NUBRIX_TOOLS_PROJECT_H
#define NUBRIX_TOOLS_PROJECT_H

#include <atomic>
#include <cstdint>
#include <functional>

#include "tools/driver.h"
#include "utils/buffer.h"
#include "utils/loop.h"
#include "utils/map.h"
#include "utils/string.h"

typedef struct uv_signal_s uv_signal_t;

namespace nubrix {

struct BuildRun;

// The name of the manifest inside the output folder.
extern const char* const kManifestName;

struct ProjectOptions {
  String source;  // SRC_DIR as typed
  String output;  // OUT_DIR as typed
  bool clean_comment = false;
  bool watch = false;
  SourceMapMode source_map = SourceMapMode::kNone;  // a map per output (OUT.map or inline)
};

// Parses the words after `jsxc SRC OUT` of a project build. Returns false with the
// message for the first word that is not an option of the project build.
bool parse_project_options(int argc, char** argv, ProjectOptions& options, String& message);

// Runs `jsxc SRC_DIR OUT_DIR ...` and returns the exit status: 0 when every file was
// compiled or up to date, 1 when anything failed, 128 + the signal number when a build
// was interrupted by SIGINT or SIGTERM (in watch mode they end it with status 0).
int run_project_command(int argc, char** argv);

// What one build did.
struct BuildResult {
  uint32_t compiled = 0;   // outputs written
  uint32_t unchanged = 0;  // outputs already up to date
  uint32_t failed = 0;     // files (and removals) that failed
  uint32_t removed = 0;    // outputs of deleted sources removed
  uint32_t skipped = 0;    // files left alone because the build was stopped
  bool fatal = false;      // the build could not start (the tree could not be read)
  int64_t elapsed_us = 0;
};

// One project: its folders, its manifest and its builds. All calls belong to the
// thread whose run loop runs the builds.
class Project {
 public:
  explicit Project(const ProjectOptions& options);
  Project(const Project&) = delete;
  Project& operator=(const Project&) = delete;
  ~Project();

  // Checks the two folders (OUT is not SRC, OUT is no file) and reads the manifest.
  // Logs the reason and returns false when the build cannot run.
  bool prepare();
  // Starts one build on the calling thread's loop: walks SRC, compiles on the loop's
  // thread pool what changed, removes the outputs of deleted sources, writes the
  // manifest, logs the messages sorted by path and the summary line, then calls `done`
  // on this thread. `changed` holds paths relative to SRC whose records are not trusted
  // (the watcher passes the files it saw change); it may be null. `quiet_if_idle`
  // leaves out the summary of a build that did nothing (the watcher's rebuilds).
  void build(const Map<String, int>* changed, bool quiet_if_idle,
             std::function<void(const BuildResult&)> done);
  // Asks a running build to leave the files whose jobs have not started yet; they keep
  // their old outputs and records.
  void stop() { stop_.store(true, std::memory_order_release); }
  [[nodiscard]] bool is_building() const { return building_; }

  // The real path of SRC, and the source folders of the last walk relative to it ("" is
  // SRC itself), for the watcher.
  [[nodiscard]] const String& source_root() const { return source_real_; }
  [[nodiscard]] const Array<String>& folders() const { return folders_; }
  // The real path of OUT (planned, while it does not exist yet).
  [[nodiscard]] const String& output_root() const { return output_real_; }
  [[nodiscard]] const ProjectOptions& options() const { return options_; }

  class Inl;

 private:
  void finish_build(BuildRun* run);

  ProjectOptions options_;
  String source_real_;
  String output_real_;
  Array<String> folders_;
  std::atomic<bool> stop_;
  bool building_;
  Inl* inl_;
};

// SIGINT and SIGTERM on a loop: `on_signal` fires on the loop's thread with the
// signal's number. The handles keep the loop running until `close`.
class SignalWatch {
 public:
  SignalWatch(RunLoop* loop, std::function<void(int)> on_signal);
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;
  ~SignalWatch();
  void close();

 private:
  std::function<void(int)> on_signal_;
  uv_signal_t* handles_[2] = {nullptr, nullptr};
};

// Watch mode (tools/watch.cc): after the first build, watches every source folder of
// the project through libuv's file-system events on the calling thread's loop and
// rebuilds after each burst of changes, watching new folders as they appear. Each
// rebuild that did something prints its messages and one summary line.
class Watcher {
 public:
  // `on_end` fires on the loop's thread once watching has ended: after `close`, when
  // no rebuild is in flight any more.
  Watcher(Project& project, std::function<void()> on_end);
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;
  ~Watcher();
  void start();
  // Stops watching (a rebuild in flight is asked to stop and completes first).
  void close();

  class Inl;

 private:
  Inl* inl_;
};

}  // namespace nubrix

#endif
