#include "utils/fs-file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>
#include <uv.h>

#include <cstring>
#include <exception>
#include <utility>

#include "utils/console.h"
#include "utils/fs.h"
#include "utils/list.h"
#include "utils/path.h"

namespace nubrix {

namespace {

// The error of a failed libuv request: its result as code, "<name>, <description>".
Error request_error(int result) {
  return Error(result, "%s, %s", uv_err_name(result), uv_strerror(result));
}

// A descriptor 0 means "not open" to these handles (and is standard input to
// everyone else): when an open gets it because standard input was closed, the file
// moves to the lowest free number above 2 and 0 is closed again. Returns the
// descriptor, or the negative error when it could not be moved (the file is closed).
int lift_descriptor(int fd) {
  if (fd != 0) return fd;
  int moved = fcntl(0, F_DUPFD_CLOEXEC, 3);
  int err = moved < 0 ? -errno : 0;
  ::close(0);
  return moved < 0 ? err : moved;
}

int open_sync(const String& path, int flag) {
  uv_fs_t req;
  int r = uv_fs_open(uv_default_loop(), &req, Path::strip_scheme(path.c_str()), flag,
                     (int)default_file_mode(), nullptr);
  uv_fs_req_cleanup(&req);
  return r < 0 ? r : lift_descriptor(r);
}

int close_sync(int fd) {
  uv_fs_t req;
  int r = uv_fs_close(uv_default_loop(), &req, fd, nullptr);
  uv_fs_req_cleanup(&req);
  return r;
}

}  // namespace

const char* file_mode_string(int flag) {
  switch (flag) {
    case OPEN_WRITE:
      return "w";
    case OPEN_APPEND:
      return "a";
    case OPEN_READ_PLUS:
      return "r+";
    case OPEN_WRITE_PLUS:
      return "w+";
    case OPEN_APPEND_PLUS:
      return "a+";
    default:
      return "r";
  }
}

// ---- File ---------------------------------------------------------------------------

File::File(const String& path) : path_(path), fd_(0) {}

File::~File() {
  if (fd_) close();
}

bool File::is_open() {
  return fd_ != 0;
}

int File::open(int flag) {
  if (fd_) {
    log("file already open");
    return 0;
  }
  int r = open_sync(path_, flag);
  if (r < 0) return r;
  fd_ = r;
  return 0;
}

int File::close() {
  if (!fd_) return 0;
  int fd = fd_;
  fd_ = 0;
  return close_sync(fd);
}

int64_t File::read(void* dest, uint32_t size, int64_t offset) {
  if (!fd_) return ERR_FILE_NOT_OPEN;
  uv_fs_t req;
  uv_buf_t buf = uv_buf_init((char*)dest, size);
  uv_fs_read(uv_default_loop(), &req, fd_, &buf, 1, offset, nullptr);
  int64_t r = req.result;
  uv_fs_req_cleanup(&req);
  return r;
}

int64_t File::write(const void* src, uint32_t size, int64_t offset) {
  if (!fd_) return ERR_FILE_NOT_OPEN;
  uv_fs_t req;
  uv_buf_t buf = uv_buf_init((char*)src, size);
  uv_fs_write(uv_default_loop(), &req, fd_, &buf, 1, offset, nullptr);
  int64_t r = req.result;
  uv_fs_req_cleanup(&req);
  return r;
}

// ---- AsyncFile ----------------------------------------------------------------------

// One descriptor opened by a handle, from its open until its close completed.
struct FileChannel {
  int fd;
  int in_flight;  // reads and writes started and not completed
  bool closing;   // close() was called: the close starts once in_flight is 0
};

// The data part of reads and writes.
class FileStreamData : public Object {
 public:
  FileStreamData(Buffer&& buffer_, int64_t offset_, int32_t mark_)
      : buffer(std::move(buffer_)), offset(offset_), mark(mark_) {}
  Buffer buffer;
  int64_t offset;  // negative: the current position
  int32_t mark;    // the caller's, handed back untouched
};

// One libuv request of a handle. It holds the inner state for its whole life, so the
// state outlives the handle until its last request has completed.
template <typename T>
class UVRequestWrap : public Object {
 public:
  template <typename... Args>
  UVRequestWrap(Reference* inl, FileChannel* channel, Args&&... args)
      : inl_(inl), channel_(channel), data_(std::forward<Args>(args)...) {
    memset(&req_, 0, sizeof req_);
    req_.data = this;
    inl_->retain();
  }
  ~UVRequestWrap() override {
    uv_fs_req_cleanup(&req_);
    inl_->release();
  }
  static UVRequestWrap* of(uv_fs_t* req) { return (UVRequestWrap*)req->data; }

  uv_fs_t req_;
  Reference* inl_;  // the handle's inner state
  Callback cb_;
  FileChannel* channel_;  // the descriptor it was issued on (null for an open)
  T data_;
};

typedef UVRequestWrap<Object> OpenRequest;
typedef UVRequestWrap<Object> CloseRequest;
typedef UVRequestWrap<FileStreamData> StreamRequest;

class AsyncFile::Inl : public Reference, public AsyncFile::Delegate {
 public:
  Inl(const String& path, RunLoop* loop, AsyncFile* host)
      : path_(path),
        fd_(0),
        opening_(false),
        open_flag_(0),
        keep_(loop->keep_alive("AsyncFile::Inl", false)),
        owner_(loop->thread_id()),
        uv_(loop->uv_loop()),
        delegate_(this),
        host_(host),
        head_started_(false),
        current_(nullptr),
        pending_open_(nullptr) {}

  ~Inl() override {
    // Every request (queued writes and a waiting open included) holds this state, so
    // nothing is in flight or queued any more; a descriptor still open is closed here.
    for (FileChannel& c : channels_) close_sync(c.fd);
    keep_->release();
  }

  // The handle is going: events go to the no-op delegate from now on, an open file is
  // closed (once its requests completed) and an open not yet started is dropped.
  void detach() {
    if (pending_open_) {
      OpenRequest* w = pending_open_;
      pending_open_ = nullptr;
      opening_ = false;
      w->release();
    }
    if (fd_) close();
    // The writes dropped by a close are reported while the user's delegate is still in
    // place: after this the handle's events reach no one.
    report_cancelled();
    delegate_ = this;
    host_ = nullptr;
  }

  void open(int flag) {
    if (fd_) return report(Error(ERR_FILE_ALREADY_OPEN, "File already open"));
    if (opening_) return report(Error(ERR_FILE_OPENING, "File opening..."));
    opening_ = true;
    open_flag_ = flag;
    OpenRequest* w = new OpenRequest(this, nullptr);
    // An earlier descriptor of this handle is still closing: a truncating open must
    // not race its last writes, so the open waits for that close.
    if (!channels_.is_empty()) {
      pending_open_ = w;
      return;
    }
    start_open(w);
  }

  void close() {
    if (!fd_) return report(Error(ERR_FILE_NOT_OPEN, "File not open"));
    FileChannel* c = current_;
    current_ = nullptr;
    fd_ = 0;
    c->closing = true;
    // Writes not started yet are dropped, each reported through on_error with
    // UV_ECANCELED on a later dispatch (or, at the latest, when the handle is
    // released); the one in flight finishes and reports.
    uint32_t dropped = 0;
    auto it = writes_.begin();
    if (head_started_) ++it;
    while (it != writes_.end()) {
      StreamRequest* w = *it;
      if (w->channel_ == c) {
        it = writes_.erase(it);
        w->release();
        dropped++;
      } else {
        ++it;
      }
    }
    if (dropped) {
      bool posted = cancelled_ != 0;
      cancelled_ += dropped;
      // A detached keep refuses the message: then they are reported at once.
      if (!posted && keep_->post(Callback(this, &Inl::cancelled_message)) == 0) report_cancelled();
    }
    if (c->in_flight == 0) start_close(c);
  }

  void read(Buffer&& buffer, int64_t offset, int32_t mark) {
    if (!fd_) return report(Error(ERR_FILE_NOT_OPEN, "File not open"));
    StreamRequest* w = new StreamRequest(this, current_, std::move(buffer), offset, mark);
    FileChannel* c = current_;
    c->in_flight++;
    uv_buf_t buf = uv_buf_init(w->data_.buffer.data(), w->data_.buffer.length());
    int r = uv_fs_read(uv_, &w->req_, c->fd, &buf, 1, offset, &Inl::read_done);
    if (r < 0) {
      request_done(c);
      w->release();
      report(request_error(r));
    }
  }

  void write(Buffer&& buffer, int64_t offset, int32_t mark) {
    if (!fd_) return report(Error(ERR_FILE_NOT_OPEN, "File not open"));
    writes_.push(new StreamRequest(this, current_, std::move(buffer), offset, mark));
    if (!head_started_) start_writes();
  }

  String path_;
  int fd_;  // the open descriptor, 0 = not open
  bool opening_;
  int open_flag_;
  KeepLoop* keep_;
  std::thread::id owner_;  // the loop's thread
  uv_loop_t* uv_;
  Delegate* delegate_;
  AsyncFile* host_;
  List<StreamRequest*> writes_;  // in issue order; the head is in flight when started
  bool head_started_;
  List<FileChannel> channels_;  // descriptors open or closing (nodes never move)
  FileChannel* current_;        // the open one, null when not open
  OpenRequest* pending_open_;   // an open waiting for an earlier close
  uint32_t cancelled_ = 0;      // writes dropped by a close and not reported yet

 private:
  // Delegate methods are called from libuv's completions (and from the handle's
  // release), where an exception could only end the process: each call logs what it
  // throws (call_logging_exceptions) and the request is finished as usual.
  //
  // Passes an error to the delegate at once, from a completion.
  void tell_error(const Error& error) {
    call_logging_exceptions([&] { delegate_->on_error(host_, error); });
  }

  // Reports the writes dropped by closes, one on_error with UV_ECANCELED each.
  void cancelled_message(SimpleEvent&) { report_cancelled(); }
  void report_cancelled() {
    while (cancelled_ > 0) {
      cancelled_--;
      tell_error(request_error(UV_ECANCELED));
    }
  }

  // Refusals and start failures reach on_error on a later dispatch of the loop; only
  // a loop that can no longer take messages gets them at once.
  void report(const Error& error) {
    // The callback holds this state until it has fired. A detached keep refuses posts.
    report_error(keep_, error, Callback(this, &Inl::fire_error));
  }
  void fire_error(SimpleEvent& evt) {
    if (evt.error) delegate_->on_error(host_, *evt.error);
  }

  void start_open(OpenRequest* w) {
    int r = uv_fs_open(uv_, &w->req_, Path::strip_scheme(path_.c_str()), open_flag_,
                       (int)default_file_mode(), &Inl::open_done);
    if (r < 0) {
      opening_ = false;
      w->release();
      report(request_error(r));
    }
  }

  static void open_done(uv_fs_t* req) {
    OpenRequest* w = OpenRequest::of(req);
    Inl* inl = static_cast<Inl*>(w->inl_);
    int r = req->result < 0 ? (int)req->result : lift_descriptor((int)req->result);
    inl->opening_ = false;
    if (r < 0) {
      inl->tell_error(request_error(r));
    } else if (inl->fd_ != 0) {
      close_sync(r);
      inl->tell_error(Error(ERR_FILE_ALREADY_OPEN, "file already open"));
    } else if (!inl->host_) {
      close_sync(r);  // the handle went while the open was in flight
    } else {
      inl->channels_.push(FileChannel{r, 0, false});
      inl->current_ = &*inl->channels_.last();
      inl->fd_ = r;
      call_logging_exceptions([&] { inl->delegate_->on_open(inl->host_); });
    }
    w->release();  // may end the state
  }

  void start_close(FileChannel* c) {
    CloseRequest* w = new CloseRequest(this, c);
    int r = uv_fs_close(uv_, &w->req_, c->fd, &Inl::close_done);
    if (r < 0) {
      // The request could not be queued: close at once, so the number is not kept.
      close_sync(c->fd);
      closed(c);
      w->release();
      report(request_error(r));
    }
  }

  static void close_done(uv_fs_t* req) {
    CloseRequest* w = CloseRequest::of(req);
    Inl* inl = static_cast<Inl*>(w->inl_);
    int r = (int)req->result;
    inl->closed(w->channel_);
    if (r != 0)
      inl->tell_error(request_error(r));
    else
      call_logging_exceptions([&] { inl->delegate_->on_close(inl->host_); });
    w->release();
  }

  // The channel's close completed: forget it and start an open that waited for it.
  void closed(FileChannel* c) {
    for (auto it = channels_.begin(); it != channels_.end(); ++it) {
      if (&*it == c) {
        channels_.erase(it);
        break;
      }
    }
    if (pending_open_ && channels_.is_empty()) {
      OpenRequest* w = pending_open_;
      pending_open_ = nullptr;
      start_open(w);
    }
  }

  // A read or write of the channel completed; the last one of a closing channel
  // starts its close.
  void request_done(FileChannel* c) {
    c->in_flight--;
    if (c->closing && c->in_flight == 0) start_close(c);
  }

  // Starts the head of the write queue unless one is in flight. A write that cannot
  // start reports and the next one is tried, so the queue never stalls.
  void start_writes() {
    while (!head_started_ && !writes_.is_empty()) {
      StreamRequest* w = *writes_.first();
      FileChannel* c = w->channel_;
      c->in_flight++;
      head_started_ = true;
      uv_buf_t buf = uv_buf_init(w->data_.buffer.data(), w->data_.buffer.length());
      int r = uv_fs_write(uv_, &w->req_, c->fd, &buf, 1, w->data_.offset, &Inl::write_done);
      if (r >= 0) return;
      writes_.shift();
      head_started_ = false;
      request_done(c);
      w->release();
      report(request_error(r));
    }
  }

  static void read_done(uv_fs_t* req) {
    StreamRequest* w = StreamRequest::of(req);
    Inl* inl = static_cast<Inl*>(w->inl_);
    int64_t r = req->result;
    inl->request_done(w->channel_);
    if (r < 0) {
      inl->tell_error(request_error((int)r));
    } else {
      Buffer& b = w->data_.buffer;
      if ((uint64_t)r < b.length()) {
        if (b.weak())
          b = Buffer::from_weak(b.data(), (uint32_t)r);
        else
          b.pop(b.length() - (uint32_t)r);
      }
      call_logging_exceptions([&] { inl->delegate_->on_read(inl->host_, b, w->data_.mark); });
    }
    w->release();
  }

  static void write_done(uv_fs_t* req) {
    StreamRequest* w = StreamRequest::of(req);
    Inl* inl = static_cast<Inl*>(w->inl_);
    int64_t r = req->result;
    inl->writes_.shift();  // the head is this request
    inl->head_started_ = false;
    inl->request_done(w->channel_);
    inl->start_writes();
    if (r < 0)
      inl->tell_error(request_error((int)r));
    else
      call_logging_exceptions(
          [&] { inl->delegate_->on_write(inl->host_, w->data_.buffer, w->data_.mark); });
    w->release();
  }
};

AsyncFile::AsyncFile(const String& path, RunLoop* loop) : inl_(new Inl(path, loop, this)) {
  inl_->retain();
}

AsyncFile::~AsyncFile() {
  // Compared with the thread recorded at construction: asking for the current loop
  // here could create a loop, or be fatal, on a thread whose loop is gone.
  if (Thread::current_id() != inl_->owner_) fatal("utils/fs-file", 424, "~AsyncFile");
  inl_->detach();
  inl_->release();
}

String AsyncFile::path() const {
  return inl_->path_;
}
bool AsyncFile::is_open() const {
  return inl_->fd_ != 0;
}
void AsyncFile::set_delegate(Delegate* delegate) {
  inl_->delegate_ = delegate ? delegate : inl_;
}
void AsyncFile::open(int flag) {
  inl_->open(flag);
}
void AsyncFile::close() {
  inl_->close();
}
void AsyncFile::read(Buffer buffer, int64_t offset, int32_t mark) {
  inl_->read(std::move(buffer), offset, mark);
}
void AsyncFile::write(Buffer buffer, int64_t offset, int32_t mark) {
  inl_->write(std::move(buffer), offset, mark);
}

namespace {

// One copy of AsyncFile::copy, shared by its pool job and its completion.
class CopyJob : public Reference {
 public:
  CopyJob(const String& source_, const String& target_, const Callback& done_)
      : source(source_), target(target_), done(done_) {}
  ~CopyJob() override { nubrix::release(error); }
  void run(SimpleEvent&) {
    try {
      FileHelper::cp_sync(source, target);
    } catch (const Error& e) {
      error = new Error(e);
    } catch (const std::exception& e) {
      error = new Error(ERR_UNKNOWN, String(e.what()));
    }
  }
  void finish(SimpleEvent& evt) { sync_callback(done, error, evt.data); }

  String source;
  String target;
  Callback done;
  Error* error = nullptr;
};

}  // namespace

uint32_t AsyncFile::copy(const String& source, const String& target, const Callback& done,
                         RunLoop* loop) {
  CopyJob* job = new CopyJob(source, target, done);
  Callback run(job, &CopyJob::run), finish(job, &CopyJob::finish);  // both retain the job
  return loop->work(run, finish, "AsyncFile::copy");
}

}  // namespace nubrix
