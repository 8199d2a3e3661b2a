// File handles over libuv's file-system requests.
//
// File: a blocking handle. Every operation is one libuv request on the default loop
// issued without a completion callback, so it runs on the calling thread and returns
// the result. It may be used from any thread (one thread at a time per handle).
//
// AsyncFile: a handle bound to a run loop. Its operations start libuv requests whose
// completions arrive on the loop's thread and are reported to a delegate. Writes are
// queued and issued one at a time in issue order; reads start at once. Refusals
// ("File already open", "File opening...", "File not open") reach `on_error` on a
// later dispatch of the loop, never inside the call. The handle and every operation
// belong to the loop's thread; while the handle exists it keeps its loop alive.
//
// Descriptors. Each request is bound to the descriptor that was open when it was
// issued. `close` drops the writes that have not started yet, and each dropped write is
// reported to `on_error` with UV_ECANCELED: on a later dispatch, or at the latest while
// the handle is released (releasing an open handle closes it). The descriptor itself is
// closed only after its reads and writes in flight have completed, and a new `open` of
// the same handle starts only after that, so no request can reach a reused number and
// a truncating reopen cannot race the old writes. A descriptor never ends up as 0
// (standard input): an open that gets 0 moves the file above 2.
#ifndef NUBRIX_UTILS_FS_FILE_H
#define NUBRIX_UTILS_FS_FILE_H

#include <cstdint>
#include <thread>

#include "utils/buffer.h"
#include "utils/error.h"
#include "utils/loop.h"
#include "utils/object.h"
#include "utils/string.h"

namespace nubrix {

// Open flags, passed to the system unchanged (the Linux open flag combinations).
enum FileOpenMode : int {
  OPEN_READ = 0,           // "r": read only
  OPEN_WRITE = 577,        // "w": write, create, truncate
  OPEN_APPEND = 1089,      // "a": write, create, append
  OPEN_READ_PLUS = 2,      // "r+": read and write
  OPEN_WRITE_PLUS = 578,   // "w+": read and write, create, truncate
  OPEN_APPEND_PLUS = 1090  // "a+": read and write, create, append
};

// The mode string of an open flag ("r" for any unknown value).
const char* file_mode_string(int flag);

class File : public Object {
 public:
  explicit File(const String& path);
  ~File() override;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  [[nodiscard]] String path() const { return path_; }
  [[nodiscard]] int fd() const { return fd_; }
  virtual bool is_open();
  // 0 on success (also when already open: logs "file already open" and does nothing),
  // else the negative libuv error; a failed open leaves the file closed.
  virtual int open(int flag = OPEN_READ);
  // The close result (0 when not open). The file counts as closed afterwards whatever
  // the result: the system has released the number either way.
  virtual int close();
  // One request of a single buffer at `offset` (-1: the current position). The byte
  // count, or a negative error: ERR_FILE_NOT_OPEN on a closed file.
  virtual int64_t read(void* dest, uint32_t size, int64_t offset = -1);
  virtual int64_t write(const void* src, uint32_t size, int64_t offset = -1);

 private:
  String path_;
  int fd_;  // 0 = not open
};

class AsyncFile : public Object {
 public:
  // Receives the events of a handle, all on the loop's thread. The buffers are the
  // caller's, handed back: a delegate may move them out to reuse them.
  class Delegate {
   public:
    virtual void on_open(AsyncFile* /*file*/) {}
    virtual void on_close(AsyncFile* /*file*/) {}
    virtual void on_error(AsyncFile* /*file*/, const Error& /*error*/) {}
    virtual void on_read(AsyncFile* /*file*/, Buffer& /*buffer*/, int32_t /*mark*/) {}
    virtual void on_write(AsyncFile* /*file*/, Buffer& /*buffer*/, int32_t /*mark*/) {}

   protected:
    ~Delegate() = default;
  };
  class Inl;

  // The handle keeps `loop` alive while it exists; it must be destroyed (released) on
  // that loop's thread.
  explicit AsyncFile(const String& path, RunLoop* loop = RunLoop::current());
  ~AsyncFile() override;
  AsyncFile(const AsyncFile&) = delete;
  AsyncFile& operator=(const AsyncFile&) = delete;

  [[nodiscard]] String path() const;
  [[nodiscard]] bool is_open() const;
  // Null installs the handle's own delegate, which ignores every event.
  void set_delegate(Delegate* delegate);

  void open(int flag = OPEN_READ);
  void close();
  // Reads up to the buffer's length at `offset` (-1: the current position); `on_read`
  // gets the buffer cut to the count read (empty at the end of the file) and the mark.
  void read(Buffer buffer, int64_t offset = -1, int32_t mark = 0);
  // Queues the whole buffer to be written at `offset` (-1: the current position).
  void write(Buffer buffer, int64_t offset = -1, int32_t mark = 0);

  // Copies the file `source` to `target` on `loop`'s thread pool, as FileHelper::cp_sync
  // does (inside the kernel where it can, with the same results and errors), and then
  // fires `done` on the loop's thread: the event's error is null after a whole copy and
  // is the Error cp_sync would have thrown otherwise. Returns the work id (0 when the
  // loop's owner is aborted: nothing is copied and `done` never fires). Like every work,
  // the copy starts once the loop dispatches it (not before `run`).
  static uint32_t copy(const String& source, const String& target, const Callback& done,
                       RunLoop* loop = RunLoop::current());

 private:
  Inl* inl_;
};

}  // namespace nubrix

#endif
