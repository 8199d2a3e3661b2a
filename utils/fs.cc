#include "utils/fs.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "utils/codec.h"
#include "utils/error.h"
#include "utils/path.h"
#include "utils/util.h"

namespace nubrix {

namespace {

// The process umask, read once: set to 0 and restored at once.
uint32_t process_umask() {
  static const uint32_t mask = [] {
    mode_t m = umask(0);
    umask(m);
    return (uint32_t)m;
  }();
  return mask;
}

uv_loop_t* loop() {
  return uv_default_loop();
}

// One synchronous request, released when it goes out of scope.
struct Req {
  uv_fs_t r;
  Req() { memset(&r, 0, sizeof r); }
  ~Req() { uv_fs_req_cleanup(&r); }
  Req(const Req&) = delete;
  Req& operator=(const Req&) = delete;
};

// The system path of a path in any accepted form.
const char* sys(const String& path) {
  return Path::strip_scheme(path.c_str());
}

// Closes a descriptor on every way out unless it was closed explicitly.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) {
      Req req;
      uv_fs_close(loop(), &req.r, fd_, nullptr);
    }
  }
  [[nodiscard]] int get() const { return fd_; }
  // Hands the descriptor over, unclosed.
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and returns the result of the close.
  int close() {
    int fd = fd_;
    fd_ = -1;
    Req req;
    return uv_fs_close(loop(), &req.r, fd, nullptr);
  }

 private:
  int fd_;
};

int open_fd(const char* path, int flags, int mode) {
  Req req;
  return uv_fs_open(loop(), &req.r, path, flags, mode, nullptr);
}

int fstat_fd(int fd, uv_stat_t* out) {
  Req req;
  int r = uv_fs_fstat(loop(), &req.r, fd, nullptr);
  if (r >= 0) *out = req.r.statbuf;
  return r;
}

int stat_path(const char* path, uv_stat_t* out, bool follow = true) {
  Req req;
  int r = follow ? uv_fs_stat(loop(), &req.r, path, nullptr)
                 : uv_fs_lstat(loop(), &req.r, path, nullptr);
  if (r >= 0 && out) *out = req.r.statbuf;
  return r;
}

int access_path(const String& path, int mode) {
  Req req;
  return uv_fs_access(loop(), &req.r, sys(path), mode, nullptr);
}

// A single request moves at most this many bytes (Linux moves at most 2 GiB - 4 KiB).
constexpr uint64_t kMaxChunk = (uint64_t)1 << 30;

int64_t read_fd(int fd, char* dest, uint64_t size) {
  Req req;
  uv_buf_t buf = uv_buf_init(dest, (unsigned)(size < kMaxChunk ? size : kMaxChunk));
  return uv_fs_read(loop(), &req.r, fd, &buf, 1, -1, nullptr);
}

// Writes all of the data, looping on short writes; a failure is returned (< 0).
int64_t write_all(int fd, const char* data, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    uint64_t left = size - done;
    Req req;
    uv_buf_t buf = uv_buf_init(const_cast<char*>(data + done),
                               (unsigned)(left < kMaxChunk ? left : kMaxChunk));
    int r = uv_fs_write(loop(), &req.r, fd, &buf, 1, -1, nullptr);
    if (r < 0) return r;
    if (r == 0) return UV_EIO;  // no progress: never loop forever
    done += (uint64_t)r;
  }
  return (int64_t)done;
}

// A growable malloc'ed block that is freed unless handed over.
struct Block {
  char* data = nullptr;
  uint64_t room = 0;  // usable bytes; the block has room + 1 for the 0 terminator
  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { free(data); }
  void grow(uint64_t n) {
    data = (char*)DefaultAllocator::realloc(data, (size_t)n + 1);
    room = n;
  }
};

bool is_separator(char c) {
  return c == '/' || c == '\\';
}

}  // namespace

uint32_t default_mode() {
  return ~process_umask() & 0777;
}

uint32_t default_file_mode() {
  return ~process_umask() & 0666;
}

FileType file_type_of_mode(uint64_t mode) {
  switch (mode & S_IFMT) {
    case S_IFREG:
      return FTYPE_FILE;
    case S_IFDIR:
      return FTYPE_DIR;
    case S_IFLNK:
      return FTYPE_LINK;
    case S_IFIFO:
      return FTYPE_FIFO;
    case S_IFSOCK:
      return FTYPE_SOCKET;
    case S_IFCHR:
      return FTYPE_CHAR;
    case S_IFBLK:
      return FTYPE_BLOCK;
    default:
      return FTYPE_UNKNOWN;
  }
}

// ---- FileStat ---------------------------------------------------------------

FileStat::FileStat(const uv_stat_t* stat) : stat_(nullptr) {
  if (stat) {
    stat_ = (uv_stat_t*)DefaultAllocator::alloc(sizeof(uv_stat_t));
    *stat_ = *stat;
  }
}

FileStat::FileStat(const FileStat& o) : FileStat(o.stat_) {}

FileStat& FileStat::operator=(const FileStat& o) {
  if (this != &o) {
    FileStat copy(o);
    *this = std::move(copy);
  }
  return *this;
}

FileStat& FileStat::operator=(FileStat&& o) noexcept {
  if (this != &o) {
    free(stat_);
    stat_ = o.stat_;
    o.stat_ = nullptr;
  }
  return *this;
}

FileStat::~FileStat() {
  free(stat_);
}

bool FileStat::is_file() const {
  return stat_ && S_ISREG(stat_->st_mode);
}
bool FileStat::is_directory() const {
  return stat_ && S_ISDIR(stat_->st_mode);
}
bool FileStat::is_symbolic_link() const {
  return stat_ && S_ISLNK(stat_->st_mode);
}
bool FileStat::is_socket() const {
  return stat_ && S_ISSOCK(stat_->st_mode);
}

// ---- tests ------------------------------------------------------------------

bool FileHelper::exists_sync(const String& path) {
  return access_path(path, F_OK) >= 0;
}
bool FileHelper::is_readable_sync(const String& path) {
  return access_path(path, R_OK) >= 0;
}
bool FileHelper::is_writable_sync(const String& path) {
  return access_path(path, W_OK) >= 0;
}
bool FileHelper::is_executable_sync(const String& path) {
  return access_path(path, X_OK) >= 0;
}

bool FileHelper::is_file_sync(const String& path) {
  uv_stat_t st;
  return stat_path(sys(path), &st) >= 0 && !S_ISDIR(st.st_mode);
}

bool FileHelper::is_directory_sync(const String& path) {
  uv_stat_t st;
  return stat_path(sys(path), &st) >= 0 && S_ISDIR(st.st_mode);
}

// ---- single operations ------------------------------------------------------

void FileHelper::chmod_sync(const String& path, uint32_t mode) {
  Req req;
  int r = uv_fs_chmod(loop(), &req.r, sys(path), (int)mode, nullptr);
  if (r < 0) throw_uv_error(r, path.c_str());
}

void FileHelper::chown_sync(const String& path, uint32_t owner, uint32_t group) {
  Req req;
  int r = uv_fs_chown(loop(), &req.r, sys(path), (uv_uid_t)owner, (uv_gid_t)group, nullptr);
  if (r < 0) throw_uv_error(r, path.c_str());
}

void FileHelper::mkdir_sync(const String& path, uint32_t mode) {
  Req req;
  int r = uv_fs_mkdir(loop(), &req.r, sys(path), (int)mode, nullptr);
  if (r < 0) throw_uv_error(r, path.c_str());
}

void FileHelper::mkdir_p_sync(const String& path, uint32_t mode) {
  const char* p = sys(path);
  if (access_path(path, F_OK) >= 0) {
    // Something is there: fine when it is a folder, otherwise the folder cannot be made.
    if (!is_directory_sync(path)) throw_uv_error(UV_EEXIST, path.c_str());
    return;
  }
  Buffer copy = String(p).to_buffer();  // mutable, 0-terminated
  char* b = copy.data();
  uint32_t n = copy.length();
  if (n && is_separator(b[n - 1])) b[--n] = 0;
  if (n == 0) throw_uv_error(UV_ENOENT, path.c_str());

  // The longest prefix that exists, found from the end.
  uint32_t start = 0;
  for (uint32_t i = n - 1; i > 0; i--) {
    if (!is_separator(b[i])) continue;
    char saved = b[i];
    b[i] = 0;
    Req req;
    bool found = uv_fs_access(loop(), &req.r, b, F_OK, nullptr) >= 0;
    b[i] = saved;
    if (found) {
      start = i;
      break;
    }
  }

  // Create each folder after it; empty and "." pieces name no new folder.
  uint32_t piece = is_separator(b[start]) ? start + 1 : start;
  for (uint32_t i = piece; i <= n; i++) {
    if (i < n && !is_separator(b[i])) continue;
    uint32_t len = i - piece;
    bool skip = len == 0 || (len == 1 && b[piece] == '.');
    piece = i + 1;
    if (skip) continue;
    char saved = b[i];
    b[i] = 0;
    Req req;
    int r = uv_fs_mkdir(loop(), &req.r, b, (int)mode, nullptr);
    uv_stat_t st;
    // A folder that already exists (a ".." piece, or made meanwhile) is fine.
    if (r == UV_EEXIST && stat_path(b, &st) >= 0 && S_ISDIR(st.st_mode)) r = 0;
    b[i] = saved;
    if (r < 0) throw_uv_error(r, path.c_str());
  }
}

void FileHelper::unlink_sync(const String& path) {
  Req req;
  int r = uv_fs_unlink(loop(), &req.r, sys(path), nullptr);
  if (r < 0) throw_uv_error(r, path.c_str());
}

void FileHelper::rmdir_sync(const String& path) {
  Req req;
  int r = uv_fs_rmdir(loop(), &req.r, sys(path), nullptr);
  if (r < 0) throw_uv_error(r, path.c_str());
}

void FileHelper::rename_sync(const String& from, const String& to) {
  Req req;
  int r = uv_fs_rename(loop(), &req.r, sys(from), sys(to), nullptr);
  if (r < 0) {
    throw_uv_error(r, String::format("rename %s to %s", from.c_str(), to.c_str()).c_str());
  }
}

void FileHelper::link_sync(const String& from, const String& to) {
  Req req;
  int r = uv_fs_link(loop(), &req.r, sys(from), sys(to), nullptr);
  if (r < 0) throw_uv_error(r, String::format("link %s to %s", from.c_str(), to.c_str()).c_str());
}

FileStat FileHelper::stat_sync(const String& path) {
  uv_stat_t st;
  int r = stat_path(sys(path), &st);
  if (r < 0) throw_uv_error(r, path.c_str());
  return FileStat(&st);
}

// ---- descriptors ------------------------------------------------------------

int FileHelper::open_sync(const String& path, int flag, uint32_t mode) {
  int r = open_fd(sys(path), flag, (int)mode);
  if (r < 0) throw_uv_error(r, path.c_str());
  return r;
}

void FileHelper::close_sync(int fd) {
  Req req;
  int r = uv_fs_close(loop(), &req.r, fd, nullptr);
  if (r < 0) throw_uv_error(r);
}

int64_t FileHelper::read_sync(int fd, void* dest, uint32_t size, int64_t offset) {
  Req req;
  uv_buf_t buf = uv_buf_init((char*)dest, size);
  int r = uv_fs_read(loop(), &req.r, fd, &buf, 1, offset, nullptr);
  if (r < 0) throw_uv_error(r);
  return r;
}

int64_t FileHelper::write_sync(int fd, const void* src, uint32_t size, int64_t offset) {
  Req req;
  uv_buf_t buf = uv_buf_init((char*)const_cast<void*>(src), size);
  int r = uv_fs_write(loop(), &req.r, fd, &buf, 1, offset, nullptr);
  if (r < 0) throw_uv_error(r);
  return r;
}

// ---- whole files ------------------------------------------------------------

namespace {

// Opens a file to be read whole: a folder throws EISDIR, and a regular file larger
// than `limit` throws EFBIG before anything is read. `hint` receives the size of a
// regular file, 0 for others (pipes, /proc files).
int open_whole_file(const String& path, uint64_t limit, uint64_t* hint) {
  int fd = open_fd(sys(path), FOPEN_R, (int)default_file_mode());
  if (fd < 0) throw_uv_error(fd, path.c_str());
  Fd file(fd);
  uv_stat_t st;
  int r = fstat_fd(fd, &st);
  if (r < 0) throw_uv_error(r, path.c_str());
  if (S_ISDIR(st.st_mode)) throw_uv_error(UV_EISDIR, path.c_str());
  // The size of a regular file is a hint: it may grow or shrink while being read.
  *hint = S_ISREG(st.st_mode) ? (uint64_t)st.st_size : 0;
  if (*hint > limit) throw_uv_error(UV_EFBIG, path.c_str());
  return file.release();
}

}  // namespace

Buffer FileHelper::read_file_sync(const String& path, int64_t size, int64_t max_size) {
  if (max_size < 0 || max_size > kMaxFileSize) max_size = kMaxFileSize;
  uint64_t want = size < 0 ? UINT64_MAX : (uint64_t)size;
  uint64_t limit = (uint64_t)max_size;

  uint64_t hint;
  Fd file(open_whole_file(path, size < 0 ? limit : UINT64_MAX, &hint));
  int fd = file.get();

  Block block;
  uint64_t len = 0;
  if (hint && want) {
    uint64_t first = hint < want ? hint : want;
    block.grow(first < limit ? first : limit);
    populate_pages(block.data, (size_t)block.room);
  }
  char probe[16384];
  while (len < want) {
    int64_t n;
    if (len < block.room) {
      n = read_fd(fd, block.data + len, block.room - len);
      if (n < 0) throw_uv_error((int)n, path.c_str());
      if (n == 0) break;
      len += (uint64_t)n;
      continue;
    }
    // The block is full (or there is none yet): see whether more data follows before
    // growing, so a file of the reported size costs one block exactly.
    uint64_t ask = want - len < sizeof probe ? want - len : sizeof probe;
    n = read_fd(fd, probe, ask);
    if (n < 0) throw_uv_error((int)n, path.c_str());
    if (n == 0) break;
    if (len + (uint64_t)n > limit) throw_uv_error(UV_EFBIG, path.c_str());
    uint64_t room = block.room * 2;
    if (room < 65536) room = 65536;
    if (room > limit) room = limit;
    if (room > want) room = want;
    if (room < len + (uint64_t)n) room = len + (uint64_t)n;
    block.grow(room);
    memcpy(block.data + len, probe, (size_t)n);
    len += (uint64_t)n;
  }

  int r = file.close();
  if (r < 0) throw_uv_error(r);
  if (len == 0) return Buffer();
  if (block.room > len) block.grow(len);  // give back what a shrunken file left over
  block.data[len] = 0;
  char* data = block.data;
  block.data = nullptr;
  // The block holds len + 1 bytes, so a String can adopt it with its terminator.
  return Buffer::adopt(data, (uint32_t)len, (uint32_t)len + 1);
}

String16 FileHelper::read_utf8_file_sync(const String& path, int64_t max_size) {
  if (max_size < 0 || max_size > kMaxFileSize) max_size = kMaxFileSize;
  uint64_t limit = (uint64_t)max_size;
  uint64_t hint;
  Fd file(open_whole_file(path, limit, &hint));
  int fd = file.get();

  // A block small enough to stay in the cache; the bytes of a sequence cut at its end
  // move to its front for the next read.
  constexpr uint32_t kChunk = 128 * 1024;
  Buffer chunk(0, kChunk + 4);
  char* bytes = chunk.data();
  Utf8ChunkDecoder decoder(hint);
  uint64_t total = 0;
  uint32_t held = 0;
  for (;;) {
    int64_t n = read_fd(fd, bytes + held, kChunk);
    if (n < 0) throw_uv_error((int)n, path.c_str());
    total += (uint64_t)n;
    if (total > limit) throw_uv_error(UV_EFBIG, path.c_str());
    uint32_t have = held + (uint32_t)n;
    uint32_t taken = decoder.push(bytes, have, n == 0);
    held = have - taken;
    if (held) memmove(bytes, bytes + taken, held);
    if (n == 0) break;
  }
  int r = file.close();
  if (r < 0) throw_uv_error(r);
  return String16(decoder.finish());
}

int64_t FileHelper::write_file_sync(const String& path, const void* data, int64_t size) {
  if (size < 0) size = 0;
  int fd = open_fd(sys(path), FOPEN_W, (int)default_file_mode());
  if (fd < 0) throw_uv_error(fd, path.c_str());
  Fd file(fd);
  int64_t n = write_all(fd, (const char*)data, (uint64_t)size);
  if (n < 0) throw_uv_error((int)n, path.c_str());
  int r = file.close();
  if (r < 0) throw_uv_error(r, path.c_str());
  return n;
}

int64_t FileHelper::write_file_sync(const String& path, const Buffer& data) {
  return write_file_sync(path, data.data(), data.length());
}

namespace {

// The file a path names once every symbolic link of its last piece is followed, also
// when the last link points at a file that does not exist yet. Intermediate folders
// need no resolving: the temporary file goes into the same folder either way.
String final_target(const String& path, const String& shown) {
  String target = path;
  for (int hops = 0;; hops++) {
    uv_stat_t st;
    int r = stat_path(target.c_str(), &st, false);
    if (r == UV_ENOENT) return target;
    if (r < 0) throw_uv_error(r, shown.c_str());
    if (!S_ISLNK(st.st_mode)) return target;
    if (hops == 40) throw_uv_error(UV_ELOOP, shown.c_str());
    Req req;
    r = uv_fs_readlink(loop(), &req.r, target.c_str(), nullptr);
    if (r < 0) throw_uv_error(r, shown.c_str());
    String link((const char*)req.r.ptr);
    if (link.length() && link[0] == '/') {
      target = link;
    } else {
      int64_t slash = target.last_index_of('/');
      target = slash < 0 ? link : target.substring(0, (uint32_t)slash + 1) + link;
    }
  }
}

// Writes straight into an existing non-regular file (a device, a FIFO). `body` writes
// the data into a descriptor and returns the count written or a negative error.
template <typename Body>
int64_t write_direct(const char* p, const String& shown, Body& body) {
  int fd = open_fd(p, UV_FS_O_WRONLY, 0);
  if (fd < 0) throw_uv_error(fd, shown.c_str());
  Fd file(fd);
  int64_t n = body(fd);
  if (n < 0) throw_uv_error((int)n, shown.c_str());
  int r = file.close();
  if (r < 0) throw_uv_error(r, shown.c_str());
  return n;
}

template <typename Body>
int64_t write_safe(const String& path, Body& body) {
  const char* p = sys(path);
  uv_stat_t st;
  int r = stat_path(p, &st);
  if (r < 0 && r != UV_ENOENT) throw_uv_error(r, path.c_str());
  bool exists = r >= 0;
  if (exists && S_ISDIR(st.st_mode)) throw_uv_error(UV_EISDIR, path.c_str());
  if (exists && !S_ISREG(st.st_mode)) {
    return write_direct(p, path, body);
  }

  String target;
  if (exists) {
    Req req;
    r = uv_fs_realpath(loop(), &req.r, p, nullptr);
    if (r < 0) throw_uv_error(r, path.c_str());
    target = String((const char*)req.r.ptr);
  } else {
    target = final_target(String(p), path);  // missing, or a link to a missing file
  }

  int64_t slash = target.last_index_of('/');
  String folder = slash < 0 ? String() : target.substring(0, (uint32_t)slash + 1);
  String base = target.substring(slash < 0 ? 0 : (uint32_t)slash + 1, target.length());
  if (base.length() > 200) base = base.substring(0, 200);  // room for the suffix in a name

  // A new, unique temporary beside the target: O_EXCL never takes over another file.
  String temp;
  int fd = UV_EEXIST;
  for (int attempt = 0; fd == UV_EEXIST && attempt < 100; attempt++) {
    temp = String::format("%s.%s.%d.%llx.tmp", folder.c_str(), base.c_str(), (int)uv_os_getpid(),
                          (unsigned long long)(uv_hrtime() + (uint64_t)attempt));
    // A new file gets its mode at once; a replacement gets the old file's mode below.
    fd = open_fd(temp.c_str(), UV_FS_O_WRONLY | UV_FS_O_CREAT | UV_FS_O_EXCL,
                 exists ? 0600 : (int)default_file_mode());
  }
  if (fd < 0) throw_uv_error(fd, path.c_str());

  int err = 0;
  int64_t written = 0;
  {
    Fd file(fd);
    if (exists) {
      // Keep the owner when allowed (as root) and always the permission bits.
      Req own;
      uv_fs_fchown(loop(), &own.r, fd, st.st_uid, st.st_gid, nullptr);
    }
    if (exists) {
      Req mod;
      err = uv_fs_fchmod(loop(), &mod.r, fd, (int)(st.st_mode & 07777), nullptr);
    }
    if (err >= 0) {
      written = body(fd);
      err = written < 0 ? (int)written : 0;
    }
    // No fdatasync: the rename makes the replacement whole or absent for every reader
    // and after a kill; only a crash of the whole system before the kernel has written
    // the data back can lose it, as with `cp`. A failed write or close still fails.
    int c = file.close();
    if (err >= 0) err = c;
  }
  if (err >= 0) {
    Req req;
    err = uv_fs_rename(loop(), &req.r, temp.c_str(), target.c_str(), nullptr);
  }
  if (err < 0) {
    Req req;
    uv_fs_unlink(loop(), &req.r, temp.c_str(), nullptr);
    throw_uv_error(err, path.c_str());
  }
  return written;
}

}  // namespace

int64_t FileHelper::write_file_safe_sync(const String& path, const void* data, int64_t size) {
  if (size < 0) size = 0;
  auto body = [&](int fd) { return write_all(fd, (const char*)data, (uint64_t)size); };
  return write_safe(path, body);
}

int64_t FileHelper::write_file_safe_sync(const String& path, ChunkSource& source,
                                         uint64_t block_size) {
  if (block_size < 4) block_size = 4;
  if (block_size > ((uint64_t)1 << 30)) block_size = (uint64_t)1 << 30;
  // Room only, not zeroed: a small output touches just the pages it fills.
  Buffer block(0, (uint32_t)block_size);
  auto body = [&](int fd) -> int64_t {
    int64_t total = 0;
    for (;;) {
      uint64_t n = source.fill(block.data(), block_size);
      if (n == 0) return total;
      int64_t w = write_all(fd, block.data(), n);
      if (w < 0) return w;
      total += w;
    }
  };
  return write_safe(path, body);
}

int64_t FileHelper::write_file_safe_sync(const String& path, const Buffer& data) {
  return write_file_safe_sync(path, data.data(), data.length());
}

namespace {

// The stop flags may be set on another thread while an operation reads them.
bool stop_set(const bool* stop) {
  return stop && __atomic_load_n(stop, __ATOMIC_ACQUIRE);
}
bool stop_set(const std::atomic<bool>* stop) {
  return stop && stop->load(std::memory_order_acquire);
}

constexpr uint64_t kCopyChunk = 524288;

// Copies from the current positions of `in` to `out` inside the kernel
// (copy_file_range), in chunks of `chunk` bytes with the stop flag read after each.
// Returns 1 at the end of the source, 0 when the stop flag ended the copy, and -1 when
// the rest is left to the stream copy: the system cannot copy these files in the
// kernel (another file system, an old kernel, a special file), a request failed (the
// stream meets the failure again and reports it with the right path), or the source
// reported its end, which files of pseudo file systems do at once.
template <typename Flag>
int kernel_copy(int in, int out, uint64_t chunk, const Flag* stop) {
  for (;;) {
    ssize_t n = copy_file_range(in, nullptr, out, nullptr, (size_t)chunk, 0);
    if (n <= 0) return -1;
    if (stop_set(stop)) return 0;
  }
}

template <typename Flag>
bool copy_file(const String& source, const String& target, const Flag* stop) {
  int fd = open_fd(sys(source), FOPEN_R, (int)default_file_mode());
  if (fd < 0) throw_uv_error(fd, source.c_str());
  Fd in(fd);
  // The target is truncated only after it is known not to be the source itself.
  fd = open_fd(sys(target), UV_FS_O_WRONLY | UV_FS_O_CREAT, (int)default_file_mode());
  if (fd < 0) throw_uv_error(fd, target.c_str());
  Fd out(fd);
  uv_stat_t a, b;
  int r = fstat_fd(in.get(), &a);
  if (r < 0) throw_uv_error(r, source.c_str());
  r = fstat_fd(out.get(), &b);
  if (r < 0) throw_uv_error(r, target.c_str());
  if (a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
    throw Error(ERR_BAD_ARGUMENT, "cannot copy %s to %s: they are the same file", source.c_str(),
                target.c_str());
  }
  // An empty target is left as it is: on ext4 a truncation to 0 also makes the close
  // write the new data out at once (its guard for files replaced by truncate and
  // rewrite), which costs a new file a flush that cp does not pay.
  if (S_ISREG(b.st_mode) && b.st_size > 0) {
    Req req;
    r = uv_fs_ftruncate(loop(), &req.r, out.get(), 0, nullptr);
    if (r < 0) throw_uv_error(r, target.c_str());
  }

  // Regular files are copied inside the kernel, as cp does; the 512 KiB stream below
  // copies whatever is left. Without a stop flag the kernel takes the largest requests.
  if (S_ISREG(a.st_mode) && S_ISREG(b.st_mode)) {
    int k = kernel_copy(in.get(), out.get(), stop ? kCopyChunk : kMaxChunk, stop);
    if (k == 0) return false;
  }
  Buffer chunk(kCopyChunk);
  for (;;) {
    int64_t n = read_fd(in.get(), chunk.data(), chunk.length());
    if (n < 0) throw_uv_error((int)n, source.c_str());
    if (n == 0) break;
    int64_t w = write_all(out.get(), chunk.data(), (uint64_t)n);
    if (w < 0) throw_uv_error((int)w, target.c_str());
    if (stop_set(stop)) return false;
  }
  r = out.close();
  if (r < 0) throw_uv_error(r, target.c_str());
  return true;
}

}  // namespace

bool FileHelper::cp_sync(const String& source, const String& target, const bool* stop) {
  return copy_file(source, target, stop);
}

Array<Dirent> FileHelper::ls_sync(const String& path) {
  String prefix = Path::format("%s", path.c_str());
  if (!prefix.ends_with("/")) prefix.push('/');
  Req req;
  int r = uv_fs_scandir(loop(), &req.r, sys(path), 0, nullptr);
  if (r < 0) throw_uv_error(r, path.c_str());
  Array<Dirent> out;
  uv_dirent_t ent;
  while (uv_fs_scandir_next(&req.r, &ent) != UV_EOF) {
    String name(ent.name);
    String full = prefix + name;
    FileType type = (FileType)ent.type;
    if (type == FTYPE_UNKNOWN) {
      // Some file systems leave the type out of the listing: ask for it.
      uv_stat_t st;
      if (stat_path(Path::strip_scheme(full.c_str()), &st, false) >= 0) {
        type = file_type_of_mode(st.st_mode);
      }
    }
    out.push(Dirent(name, full, type));
  }
  return out;
}

// ---- the tree walk and the recursive operations -----------------------------

namespace {

// Fires the callback for each entry, descending into folders before or after it.
bool visit(Array<Dirent>& entries, const Callback& cb, bool children_first) {
  for (uint32_t i = 0; i < entries.length(); i++) {
    Dirent& entry = entries[i];
    if (children_first && entry.type == FTYPE_DIR) {
      Array<Dirent> children = FileHelper::ls_sync(entry.pathname);
      if (!visit(children, cb, children_first)) return false;
    }
    int32_t result = sync_callback(cb, nullptr, &entry);
    if (result == 0) return false;
    if (!children_first && entry.type == FTYPE_DIR && result != FileHelper::kWalkSkip) {
      Array<Dirent> children = FileHelper::ls_sync(entry.pathname);
      if (!visit(children, cb, children_first)) return false;
    }
  }
  return true;
}

String real_path(const String& path, const String& shown) {
  Req req;
  int r = uv_fs_realpath(loop(), &req.r, path.c_str(), nullptr);
  if (r < 0) throw_uv_error(r, shown.c_str());
  return String((const char*)req.r.ptr);
}

String with_slash(const String& path) {
  return path.ends_with("/") ? path : path + "/";
}

// Makes `dest` a symbolic link with the same text as the link `source`.
void copy_link(const String& source, const String& dest) {
  Req link;
  int r = uv_fs_readlink(loop(), &link.r, sys(source), nullptr);
  if (r < 0) throw_uv_error(r, source.c_str());
  Req req;
  r = uv_fs_symlink(loop(), &req.r, (const char*)link.r.ptr, sys(dest), 0, nullptr);
  if (r < 0) throw_uv_error(r, dest.c_str());
}

Dirent* entry_of(const SimpleEvent& evt) {
  return static_cast<Dirent*>(evt.data);
}

}  // namespace

bool FileHelper::each_sync(const String& path, const Callback& cb, bool children_first,
                           bool tolerate_missing_root) {
  String resolved = Path::resolve(path);
  // The resolved form has no trailing "/", so a link given as "link/" is the link too.
  uv_stat_t st;
  int r = stat_path(Path::strip_scheme(resolved.c_str()), &st, false);
  if (r < 0) {
    if (tolerate_missing_root) return false;
    throw_uv_error(r, path.c_str());
  }
  Array<Dirent> root;
  root.push(Dirent(Path::basename(path), resolved, file_type_of_mode(st.st_mode)));
  return visit(root, cb, children_first);
}

bool FileHelper::chmod_r_sync(const String& path, uint32_t mode, const std::atomic<bool>* stop) {
  Callback cb([&](SimpleEvent& evt) {
    if (stop_set(stop)) return;
    Dirent* entry = entry_of(evt);
    // chmod would change the link's target, which may lie outside the tree.
    if (entry->type != FTYPE_LINK) chmod_sync(entry->pathname, mode);
    evt.return_value = 1;
  });
  return each_sync(path, cb, false, false);
}

bool FileHelper::chown_r_sync(const String& path, uint32_t owner, uint32_t group,
                              const std::atomic<bool>* stop) {
  Callback cb([&](SimpleEvent& evt) {
    if (stop_set(stop)) return;
    Dirent* entry = entry_of(evt);
    Req req;
    int r = uv_fs_lchown(loop(), &req.r, sys(entry->pathname), (uv_uid_t)owner, (uv_gid_t)group,
                         nullptr);
    if (r < 0) throw_uv_error(r, entry->pathname.c_str());
    evt.return_value = 1;
  });
  return each_sync(path, cb, false, false);
}

bool FileHelper::remove_r_sync(const String& path, const std::atomic<bool>* stop) {
  Callback cb([&](SimpleEvent& evt) {
    if (stop_set(stop)) return;
    Dirent* entry = entry_of(evt);
    if (entry->type == FTYPE_DIR) {
      rmdir_sync(entry->pathname);
    } else {
      unlink_sync(entry->pathname);
    }
    evt.return_value = 1;
  });
  return each_sync(path, cb, true, true);
}

bool FileHelper::copy_r_sync(const String& source, const String& target,
                             const std::atomic<bool>* stop) {
  // The target's folder must exist; a target in the working folder or in "/" has one.
  String target_root = Path::resolve(target);
  String target_sys = Path::strip_scheme(target_root);
  String folder = Path::dirname(target_sys);
  if (folder.is_empty()) folder = "/";
  uv_stat_t st;
  if (stat_path(folder.c_str(), &st) < 0 || !S_ISDIR(st.st_mode)) return false;

  // A folder copied into itself would grow while it is being walked.
  String source_root = Path::resolve(source);
  String source_sys = Path::strip_scheme(source_root);
  int r = stat_path(source_sys.c_str(), &st, false);
  if (r < 0) throw_uv_error(r, source.c_str());
  if (S_ISDIR(st.st_mode)) {
    String inside = with_slash(real_path(source_sys, source));
    String dest = with_slash(real_path(folder, target)) + Path::basename(target_sys);
    if (with_slash(dest).starts_with(inside)) {
      throw Error(ERR_BAD_ARGUMENT, "cannot copy %s into itself, %s", source.c_str(),
                  target.c_str());
    }
  }

  uint32_t source_length = source_root.length();
  Callback cb([&](SimpleEvent& evt) {
    Dirent* entry = entry_of(evt);
    String dest = target_root + entry->pathname.substring(source_length, entry->pathname.length());
    switch (entry->type) {
      case FTYPE_FILE:
        evt.return_value = copy_file(entry->pathname, dest, stop) ? 1 : 0;
        break;
      case FTYPE_DIR:
        mkdir_sync(dest, default_mode());
        evt.return_value = 1;
        break;
      case FTYPE_LINK:
        copy_link(entry->pathname, dest);
        evt.return_value = 1;
        break;
      default:  // FIFOs, sockets and devices are not copied: the walk ends
        break;
    }
    if (stop_set(stop)) evt.return_value = 0;
  });
  return each_sync(source, cb, false, false);
}

}  // namespace nubrix
