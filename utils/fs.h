// FileHelper: the framework's blocking file-system operations. Each one is a
// synchronous libuv request on libuv's default loop (issued without a completion
// callback, so it runs at once on the calling thread). Paths may be given in any form
// that Path accepts; the scheme is stripped before the path reaches the system.
// Failures are thrown as Error with the libuv result as code and the message
// "<error name>, <description>, <path>" (the path as the caller gave it).
//
// The operations may be called from any thread, but not concurrently with the
// asynchronous users of the default loop on another thread.
#ifndef NUBRIX_UTILS_FS_H
#define NUBRIX_UTILS_FS_H

#include <uv.h>

#include <atomic>
#include <cstdint>

#include "utils/buffer.h"
#include "utils/cb.h"
#include "utils/object.h"
#include "utils/string.h"

namespace nubrix {

// Mode of the folders created without an explicit mode: 0777 & ~umask. The umask is
// read once, on the first call (the start-up code calls it first).
uint32_t default_mode();
// Mode of the files created without an explicit mode: 0666 & ~umask, so that new
// files are not executable.
uint32_t default_file_mode();

// Kinds of directory entries, numbered as libuv's directory-entry types.
enum FileType : int32_t {
  FTYPE_UNKNOWN = 0,
  FTYPE_FILE = 1,
  FTYPE_DIR = 2,
  FTYPE_LINK = 3,
  FTYPE_FIFO = 4,
  FTYPE_SOCKET = 5,
  FTYPE_CHAR = 6,
  FTYPE_BLOCK = 7,
};

// The FileType of a stat mode (0 for an unknown type).
FileType file_type_of_mode(uint64_t mode);

// Flags of open_sync, passed to the system unchanged.
enum FileOpenFlag : int {
  FOPEN_R = 0,      // read
  FOPEN_RW = 2,     // read and write
  FOPEN_W = 577,    // write, create, truncate
  FOPEN_RWC = 578,  // read and write, create, truncate
  FOPEN_A = 1089,   // append, create
  FOPEN_RA = 1090,  // read and append, create
};

// One entry of a directory listing.
class Dirent : public Object {
 public:
  Dirent() : type(FTYPE_UNKNOWN) {}
  Dirent(const String& name_, const String& pathname_, FileType type_)
      : name(name_), pathname(pathname_), type(type_) {}

  String name;      // the entry's own name
  String pathname;  // the full path, resolved ("file:///...")
  FileType type;
};

// A copy of a stat record, or nothing (then every query answers as if all fields
// were 0). Times are microseconds since the epoch.
class FileStat : public Object {
 public:
  FileStat() : stat_(nullptr) {}
  explicit FileStat(const uv_stat_t* stat);
  FileStat(const FileStat& o);
  FileStat(FileStat&& o) noexcept : Object(), stat_(o.stat_) { o.stat_ = nullptr; }
  FileStat& operator=(const FileStat& o);
  FileStat& operator=(FileStat&& o) noexcept;
  ~FileStat() override;

  [[nodiscard]] bool is_valid() const { return stat_ != nullptr; }
  [[nodiscard]] bool is_file() const;
  [[nodiscard]] bool is_directory() const;
  [[nodiscard]] bool is_symbolic_link() const;
  [[nodiscard]] bool is_socket() const;
  [[nodiscard]] FileType type() const { return file_type_of_mode(mode()); }

  [[nodiscard]] uint64_t dev() const { return stat_ ? stat_->st_dev : 0; }
  [[nodiscard]] uint64_t ino() const { return stat_ ? stat_->st_ino : 0; }
  [[nodiscard]] uint64_t mode() const { return stat_ ? stat_->st_mode : 0; }
  [[nodiscard]] uint64_t nlink() const { return stat_ ? stat_->st_nlink : 0; }
  [[nodiscard]] uint64_t uid() const { return stat_ ? stat_->st_uid : 0; }
  [[nodiscard]] uint64_t gid() const { return stat_ ? stat_->st_gid : 0; }
  [[nodiscard]] uint64_t rdev() const { return stat_ ? stat_->st_rdev : 0; }
  [[nodiscard]] uint64_t size() const { return stat_ ? stat_->st_size : 0; }
  [[nodiscard]] uint64_t blksize() const { return stat_ ? stat_->st_blksize : 0; }
  [[nodiscard]] uint64_t blocks() const { return stat_ ? stat_->st_blocks : 0; }
  [[nodiscard]] uint64_t flags() const { return stat_ ? stat_->st_flags : 0; }
  [[nodiscard]] uint64_t gen() const { return stat_ ? stat_->st_gen : 0; }
  [[nodiscard]] int64_t atime() const { return micros(stat_ ? &stat_->st_atim : nullptr); }
  [[nodiscard]] int64_t mtime() const { return micros(stat_ ? &stat_->st_mtim : nullptr); }
  [[nodiscard]] int64_t ctime() const { return micros(stat_ ? &stat_->st_ctim : nullptr); }
  [[nodiscard]] int64_t birthtime() const { return micros(stat_ ? &stat_->st_birthtim : nullptr); }

 private:
  static int64_t micros(const uv_timespec_t* t) {
    return t ? (int64_t)t->tv_sec * 1000000 + (int64_t)t->tv_nsec / 1000 : 0;
  }
  uv_stat_t* stat_;
};

class FileHelper {
 public:
  // The largest whole file read_file_sync accepts by default: every length is 32-bit
  // and the data is followed by a 0 byte.
  static constexpr int64_t kMaxFileSize = (int64_t)kMaxLength - 1;

  // Access tests; they never throw.
  [[nodiscard]] static bool exists_sync(const String& path);
  [[nodiscard]] static bool is_readable_sync(const String& path);
  [[nodiscard]] static bool is_writable_sync(const String& path);
  [[nodiscard]] static bool is_executable_sync(const String& path);
  // True when stat succeeds and the entry is not a directory (devices, sockets and
  // FIFOs count as files).
  [[nodiscard]] static bool is_file_sync(const String& path);
  [[nodiscard]] static bool is_directory_sync(const String& path);

  static void chmod_sync(const String& path, uint32_t mode);
  static void chown_sync(const String& path, uint32_t owner, uint32_t group);
  // An existing entry is an error.
  static void mkdir_sync(const String& path, uint32_t mode = default_mode());
  // Creates every missing folder of the path ("/" and "\" separate; empty and "."
  // pieces are skipped). An existing folder is fine; an existing non-folder throws.
  static void mkdir_p_sync(const String& path, uint32_t mode = default_mode());
  static void unlink_sync(const String& path);
  static void rmdir_sync(const String& path);
  // Failures name "rename <from> to <to>" / "link <from> to <to>" as the path.
  static void rename_sync(const String& from, const String& to);
  static void link_sync(const String& from, const String& to);
  [[nodiscard]] static FileStat stat_sync(const String& path);

  // Descriptor operations. The mode applies to files the open creates.
  [[nodiscard]] static int open_sync(const String& path, int flag = FOPEN_R,
                                     uint32_t mode = default_file_mode());
  static void close_sync(int fd);
  // One request; offset -1 is the current position. Returns the count.
  static int64_t read_sync(int fd, void* dest, uint32_t size, int64_t offset = -1);
  static int64_t write_sync(int fd, const void* src, uint32_t size, int64_t offset = -1);

  // Reads up to `size` bytes (all of the file for -1), until the end of the file,
  // also from pipes and growing files. The result keeps a 0 byte after its data. More
  // than max_size bytes of data throw EFBIG (for regular files before anything is
  // allocated); a directory throws EISDIR.
  [[nodiscard]] static Buffer read_file_sync(const String& path, int64_t size = -1,
                                             int64_t max_size = kMaxFileSize);
  // Reads a whole UTF-8 text file as UTF-16 (as utf8_to_utf16 decodes it), a block at
  // a time, so the bytes and the units never stand in memory together. Errors as for
  // read_file_sync.
  [[nodiscard]] static String16 read_utf8_file_sync(const String& path,
                                                    int64_t max_size = kMaxFileSize);
  // Creates or truncates the file and writes all of the data (a negative size counts
  // as 0). Returns the count written; a failed write or close throws.
  static int64_t write_file_sync(const String& path, const void* data, int64_t size);
  static int64_t write_file_sync(const String& path, const Buffer& data);
  // Replaces the file only once all of the data is written: the data goes to a new
  // temporary file beside it, which is then renamed over it (keeping the old file's
  // permission bits; a symbolic link keeps pointing at the replaced file). On any
  // failure the old file stays as it was and the temporary is removed. An output that
  // is not a regular file (a device, a FIFO) is written directly. The data is not
  // synced to the disk: a reader or a killed writer never sees a partial file, but a
  // system crash soon after may leave the old file or an empty one.
  static int64_t write_file_safe_sync(const String& path, const void* data, int64_t size);
  static int64_t write_file_safe_sync(const String& path, const Buffer& data);
  // The bytes of a streamed write, one block at a time: `fill` writes up to `room`
  // bytes into `block` and returns their count; 0 ends the file.
  class ChunkSource {
   public:
    virtual ~ChunkSource() = default;
    virtual uint64_t fill(char* block, uint64_t room) = 0;
  };
  // write_file_safe_sync over the bytes of `source`, written through one block of
  // `block_size` bytes, so that the whole output is never held at once.
  static int64_t write_file_safe_sync(const String& path, ChunkSource& source,
                                      uint64_t block_size = 262144);

  // Copies one file: regular files inside the kernel (copy_file_range, as cp does),
  // anything else, and whatever the kernel cannot copy, in 512 KiB chunks through one
  // buffer; with a stop flag the kernel copies 512 KiB chunks too. Returns false when the stop flag
  // (may be null) was set after a chunk; it is read atomically, so another thread may set it with
  // an atomic store (__atomic_store_n). Copying a file onto itself throws and changes nothing.
  static bool cp_sync(const String& source, const String& target, const bool* stop = nullptr);
  // The entries of a folder in byte order of their names, without "." and "..".
  [[nodiscard]] static Array<Dirent> ls_sync(const String& path);

  // The tree walk. Fires the callback once for every entry of the tree with the entry's
  // Dirent as the event's data: a folder before its entries (parents first) or after
  // them (children first). A return_value left at 0 ends the walk with false; errors
  // thrown by the callback pass through. The root's type is read without following a
  // symbolic link, and links below it are never followed either, so the walk stays
  // inside the tree. A missing root returns false when tolerated, else throws.
  // Parents first, a folder's callback that sets kWalkSkip leaves out its entries.
  static constexpr int32_t kWalkSkip = 2;
  static bool each_sync(const String& path, const Callback& cb, bool children_first = false,
                        bool tolerate_missing_root = false);

  // Recursive operations over the walk. Each returns false when it was ended early by
  // the stop flag (may be null; another thread may set it) and throws at the first
  // failing entry (entries already handled stay handled). None follows a symbolic link:
  // chmod leaves links alone (a link has no mode of its own on Linux), chown changes
  // the link itself, remove unlinks it.
  static bool chmod_r_sync(const String& path, uint32_t mode,
                           const std::atomic<bool>* stop = nullptr);
  static bool chown_r_sync(const String& path, uint32_t owner, uint32_t group,
                           const std::atomic<bool>* stop = nullptr);
  // A missing path returns false.
  static bool remove_r_sync(const String& path, const std::atomic<bool>* stop = nullptr);
  // Copies a file to the target path, or a folder tree to a new folder at the target
  // path (an existing target throws). Symbolic links are copied as links with the same
  // text. Returns false without touching anything when the target's folder does not
  // exist, and false after the entry that met another kind of file (a FIFO, a socket,
  // a device), which is not copied. A target inside the source folder throws.
  // The stop flag is also read between the chunks of a file.
  static bool copy_r_sync(const String& source, const String& target,
                          const std::atomic<bool>* stop = nullptr);
};

}  // namespace nubrix

#endif
