// Watch mode: libuv's file-system events on every source folder, delivered on the run
// loop of the build's thread. A burst of events becomes one rebuild; the files named by
// the events are compiled even when their records look current (an edit may keep the
// size and land in the same time step).
#include <uv.h>

#include <cstdio>

#include "tools/project.h"
#include "utils/console.h"
#include "utils/fs.h"

namespace nubrix {

namespace {

// Events that arrive within this time after the first one join its rebuild.
constexpr uint64_t kSettleUs = 100000;

}  // namespace

class Watcher::Inl {
 public:
  // One watched folder; the libuv handle comes first so that a handle is its Watch.
  struct Watch {
    uv_fs_event_t handle;
    String rel;
    Inl* inl;
  };

  Inl(Project& project, std::function<void()> on_end)
      : project_(project), on_end_(std::move(on_end)) {}

  void start() {
    loop_ = RunLoop::current();
    keep_ = loop_->keep_alive(String("jsxc watch"));
    sync_folders();
    log("jsxc: watching %s for changes", project_.options().source.c_str());
    fflush(stdout);
  }

  void close() {
    if (closed_) return;
    closed_ = true;
    if (scheduled_) loop_->cancel(scheduled_);
    scheduled_ = 0;
    for (auto it = watches_.begin(); it != watches_.end(); ++it) close_watch(it.value());
    watches_.clear();
    if (project_.is_building()) {
      project_.stop();  // the build's end finishes the watch
    } else {
      finish();
    }
  }

 private:
  static void close_watch(Watch* w) {
    w->inl = nullptr;
    uv_close((uv_handle_t*)&w->handle, [](uv_handle_t* h) { delete (Watch*)h; });
  }

  static void on_event(uv_fs_event_t* handle, const char* filename, int /*events*/,
                       int /*status*/) {
    Watch* w = (Watch*)handle;
    if (!w->inl) return;
    Inl* self = w->inl;
    if (filename && *filename) {
      String name(filename);
      self->changed_.set(w->rel.is_empty() ? name : w->rel + String("/") + name, 1);
    }
    self->schedule();
  }

  void schedule() {
    if (closed_ || scheduled_) return;
    scheduled_ = loop_->post(
        [this](SimpleEvent&) {
          scheduled_ = 0;
          rebuild();
        },
        kSettleUs);
  }

  void rebuild() {
    if (closed_) return;
    if (project_.is_building()) {
      again_ = true;
      return;
    }
    again_ = false;
    Map<String, int> changed = std::move(changed_);
    changed_ = Map<String, int>();
    project_.build(&changed, true, [this](const BuildResult&) {
      if (closed_) {
        finish();
        return;
      }
      // Folders that appeared meanwhile may hold files written before their watch
      // began: one more look covers them.
      if (sync_folders() || again_ || changed_.length() > 0) schedule();
    });
  }

  // Watches the folders of the last walk and drops the watches of folders that are
  // gone. Returns whether a new folder was added after the first call.
  bool sync_folders() {
    Map<String, int> now;
    bool added = false;
    for (const String& rel : project_.folders()) {
      now.set(rel, 1);
      if (watches_.get(rel)) continue;
      Watch* w = new Watch();
      w->rel = rel;
      w->inl = this;
      uv_fs_event_init(loop_->uv_loop(), &w->handle);
      String path =
          rel.is_empty() ? project_.source_root() : project_.source_root() + String("/") + rel;
      int r = uv_fs_event_start(&w->handle, on_event, path.c_str(), 0);
      if (r < 0) {
        log("jsxc: cannot watch %s: %s", path.c_str(), uv_strerror(r));
        fflush(stdout);
        close_watch(w);
        continue;
      }
      watches_.set(rel, w);
      added = added || started_;
    }
    Array<String> gone;
    for (auto it = watches_.begin(); it != watches_.end(); ++it) {
      if (!now.get(it.key())) gone.push(it.key());
    }
    for (const String& rel : gone) {
      close_watch(*watches_.get(rel));
      watches_.remove(rel);
    }
    started_ = true;
    return added;
  }

  void finish() {
    if (finished_) return;
    finished_ = true;
    if (keep_) keep_->release();
    keep_ = nullptr;
    if (on_end_) on_end_();
  }

  Project& project_;
  std::function<void()> on_end_;
  RunLoop* loop_ = nullptr;
  KeepLoop* keep_ = nullptr;
  Map<String, Watch*> watches_;
  Map<String, int> changed_;
  uint32_t scheduled_ = 0;
  bool again_ = false;
  bool started_ = false;
  bool closed_ = false;
  bool finished_ = false;
};

Watcher::Watcher(Project& project, std::function<void()> on_end)
    : inl_(new Inl(project, std::move(on_end))) {}

Watcher::~Watcher() {
  inl_->close();
  delete inl_;
}

void Watcher::start() {
  inl_->start();
}

void Watcher::close() {
  inl_->close();
}

}  // namespace nubrix
