// copy-tree: copies a folder tree (or one file) with FileHelper::copy_r_sync and
// prints what it did, entry by entry, from a walk of the copy.
//
//   copy-tree <source> <target>
//
// The target must not exist yet; its folder must. Symbolic links are copied as links.
// Ctrl-C sets the stop flag: the copy ends after the current chunk or entry.
#include <signal.h>

#include <atomic>

#include "utils/cb.h"
#include "utils/console.h"
#include "utils/error.h"
#include "utils/fs.h"
#include "utils/path.h"

using namespace nubrix;

namespace {

std::atomic<bool> stop_flag{false};

void on_interrupt(int) {
  stop_flag.store(true);
}

const char* kind(FileType type) {
  switch (type) {
    case FTYPE_FILE:
      return "file";
    case FTYPE_DIR:
      return "folder";
    case FTYPE_LINK:
      return "link";
    default:
      return "other";
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    print_err(String::format("usage: %s <source> <target>\n", argv[0]));
    return 2;
  }
  signal(SIGINT, on_interrupt);
  String source(argv[1]), target(argv[2]);
  try {
    bool complete = FileHelper::copy_r_sync(source, target, &stop_flag);
    if (!FileHelper::exists_sync(target) && !complete) {
      log("nothing copied: the folder of %s does not exist", target.c_str());
      return 1;
    }

    // List the copy, parents first, with paths relative to the target.
    uint32_t root_length = Path::resolve(target).length();
    uint32_t files = 0, folders = 0, links = 0;
    uint64_t bytes = 0;
    Callback report([&](SimpleEvent& evt) {
      Dirent* entry = static_cast<Dirent*>(evt.data);
      String rel = entry->pathname.substring(root_length, entry->pathname.length());
      String shown = rel.is_empty() ? target : target + rel;
      if (entry->type == FTYPE_FILE) {
        uint64_t size = FileHelper::stat_sync(entry->pathname).size();
        files++;
        bytes += size;
        log("%-6s %s (%llu bytes)", kind(entry->type), shown.c_str(), (unsigned long long)size);
      } else {
        if (entry->type == FTYPE_DIR) folders++;
        if (entry->type == FTYPE_LINK) links++;
        log("%-6s %s", kind(entry->type), shown.c_str());
      }
      evt.return_value = 1;
    });
    FileHelper::each_sync(target, report);
    log("%s: %u folders, %u files (%llu bytes), %u links", complete ? "copied" : "stopped early",
        folders, files, (unsigned long long)bytes, links);
    return complete ? 0 : 1;
  } catch (const Error& e) {
    log("copy-tree failed: %s (code %d)", e.message().c_str(), e.code());
    return 1;
  }
}
