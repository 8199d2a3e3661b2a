#include "tools/project.h"

#include <signal.h>
#include <unistd.h>
#include <uv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/driver.h"
#include "utils/codec.h"
#include "utils/console.h"
#include "utils/error.h"
#include "utils/fs.h"
#include "utils/path.h"
#include "utils/util.h"

namespace nubrix {

const char* const kManifestName = ".jsxc-manifest";

namespace {

// A source modified this soon before its content was last checked may have changed
// again within the same file-system time step; its record is not trusted. Two seconds
// cover the coarsest common time stamps (FAT).
constexpr int64_t kRacyWindowUs = 2000000;
// The progress line appears once a build has run this long, and is redrawn this often.
constexpr uint64_t kProgressDelayUs = 1000000;
constexpr uint64_t kProgressEveryUs = 200000;

const char* const kManifestHeader = "jsxc-manifest 1";

// "base/rel", with one slash between.
String join(const String& base, const String& rel) {
  if (rel.is_empty()) return base;
  if (base.is_empty() || base.ends_with("/")) return base + rel;
  return base + String("/") + rel;
}

// The real path of a path that may not exist yet: the real path of its longest existing
// prefix followed by the rest.
String real_or_planned(const String& path) {
  String abs = Path::strip_scheme(Path::resolve(path));
  String rest;
  String head = abs;
  for (;;) {
    uv_fs_t req;
    int r = uv_fs_realpath(uv_default_loop(), &req, head.c_str(), nullptr);
    if (r >= 0) {
      String real((const char*)req.ptr);
      uv_fs_req_cleanup(&req);
      return join(real, rest);
    }
    uv_fs_req_cleanup(&req);
    int64_t slash = head.last_index_of('/');
    if (slash <= 0) return abs;
    rest = join(head.substring((uint32_t)slash + 1, head.length()), rest);
    head = head.substring(0, (uint32_t)slash);
  }
}

// Whether `path` lies below the folder `folder` (both real paths).
bool is_below(const String& path, const String& folder) {
  String prefix = folder.ends_with("/") ? folder : folder + String("/");
  return path.starts_with(prefix);
}

// Manifest fields are separated by spaces: bytes up to the space, "%" and DEL are
// written as "%XX".
String escape_field(const String& text) {
  String out;
  for (uint32_t i = 0; i < text.length(); i++) {
    unsigned char c = (unsigned char)text[i];
    if (c <= 0x20 || c == '%' || c == 0x7f) {
      out.push(String::format("%%%02X", c));
    } else {
      out.push((char)c);
    }
  }
  return out;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool unescape_field(const String& text, String& out) {
  out = String();
  for (uint32_t i = 0; i < text.length(); i++) {
    char c = text[i];
    if (c != '%') {
      out.push(c);
      continue;
    }
    if (i + 2 >= text.length() || hex_digit(text[i + 1]) < 0 || hex_digit(text[i + 2]) < 0) {
      return false;
    }
    out.push((char)(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2])));
    i += 2;
  }
  return true;
}

bool parse_int(const String& text, int64_t& value) {
  if (text.is_empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.length()) return false;
  value = v;
  return true;
}

// The identity of this compiler: the framework version and the size and modification
// time of the program file, so that a rebuilt compiler never trusts the records of
// another.
String compiler_version() {
  String text = String("jsxc ") + version();
  char exe[4096];
  size_t size = sizeof exe;
  if (uv_exepath(exe, &size) == 0) {
    try {
      FileStat st = FileHelper::stat_sync(String(exe));
      text.push(String::format(" %llu %lld", (unsigned long long)st.size(), (long long)st.mtime()));
    } catch (const Error&) {
      // Without the program's stat the version alone stands.
    }
  }
  return text;
}

// One manifest line: what the compiler knew about one output when it last wrote or
// checked it.
struct Record {
  String rel;   // path relative to SRC (and OUT)
  String hash;  // digest of the source bytes
  int64_t size = -1;
  int64_t mtime = -1;
  int64_t checked = 0;  // wall-clock microseconds when the content was last compiled
  String config;        // digest of the options and the compiler version
  int64_t out_size = -1;
  int64_t out_mtime = -1;
};

String record_line(const Record& r) {
  return String::format("%s %s %lld %lld %lld %s %lld %lld\n", escape_field(r.rel).c_str(),
                        r.hash.c_str(), (long long)r.size, (long long)r.mtime, (long long)r.checked,
                        r.config.c_str(), (long long)r.out_size, (long long)r.out_mtime);
}

bool parse_record(const String& line, Record& r) {
  Array<String> f = line.split(String(" "));
  if (f.length() != 8) return false;
  if (!unescape_field(f[0], r.rel) || r.rel.is_empty()) return false;
  r.hash = f[1];
  r.config = f[5];
  return !r.hash.is_empty() && !r.config.is_empty() && parse_int(f[2], r.size) &&
         parse_int(f[3], r.mtime) && parse_int(f[4], r.checked) && parse_int(f[6], r.out_size) &&
         parse_int(f[7], r.out_mtime);
}

// The manifest text: the header, the source root, one line per record in path order,
// and a last line with the count and the digest of everything before it.
String manifest_text(const String& root, const Array<const Record*>& records) {
  String body =
      String(kManifestHeader) + String("\n") + String("root ") + escape_field(root) + String("\n");
  for (const Record* r : records) body.push(record_line(*r));
  body.push(String::format("end %u %s\n", records.length(), hash(body).c_str()));
  return body;
}

enum class ManifestState { kMissing, kLoaded, kDamaged, kForeign };

// Reads the manifest into `records`; anything short of a whole, matching manifest
// leaves `records` empty.
ManifestState parse_manifest(const String& text, const String& root, Map<String, Record>& records) {
  records.clear();
  Array<String> lines = text.split(String("\n"));
  // The text ends with a line feed, so the last piece is empty.
  if (lines.length() < 4 || !lines[lines.length() - 1].is_empty() ||
      lines[0] != String(kManifestHeader)) {
    return ManifestState::kDamaged;
  }
  uint32_t last = lines.length() - 2;
  Array<String> end = lines[last].split(String(" "));
  int64_t count = 0;
  if (end.length() != 3 || end[0] != String("end") || !parse_int(end[1], count) ||
      count != (int64_t)last - 2) {
    return ManifestState::kDamaged;
  }
  uint32_t body_length = text.length() - lines[last].length() - 1;
  if (hash(text.substring(0, body_length)) != end[2]) return ManifestState::kDamaged;
  String stored_root;
  if (!lines[1].starts_with(String("root ")) ||
      !unescape_field(lines[1].substring(5, lines[1].length()), stored_root)) {
    return ManifestState::kDamaged;
  }
  for (uint32_t i = 2; i < last; i++) {
    Record r;
    if (!parse_record(lines[i], r)) {
      records.clear();
      return ManifestState::kDamaged;
    }
    records.set(r.rel, r);
  }
  if (stored_root != root) {
    records.clear();
    return ManifestState::kForeign;
  }
  return ManifestState::kLoaded;
}

enum class JobState { kPending, kCompiled, kUnchanged, kFailed, kSkipped };

// One source file of a build. The coordinating thread fills the first part; the job
// on the thread pool fills the result, which the coordinating thread reads once the
// job's done callback has fired.
struct Job {
  String rel;
  String source;  // SRC as typed joined with rel: read, and named in messages
  String output;  // OUT as typed joined with rel
  bool is_jsx = false;
  bool has_old = false;
  Record old;
  int64_t size = 0;  // the source's stat, taken before it is read
  int64_t mtime = 0;
  bool fresh_folder = false;  // the output folder was made by this build: no output yet

  JobState state = JobState::kPending;
  String message;
  Record record;
};

bool job_less(const Job* a, const Job* b) {
  return strcmp(a->rel.c_str(), b->rel.c_str()) < 0;
}

// A message and the path it belongs to.
struct Message {
  String rel;
  String text;
};

// Whether the file at `path` holds exactly `data`.
bool same_content(const String& path, const Buffer& data) {
  try {
    Buffer old = FileHelper::read_file_sync(path, (int64_t)data.length() + 1);
    return old.length() == data.length() &&
           (data.length() == 0 || memcmp(old.data(), data.data(), data.length()) == 0);
  } catch (const Error&) {
    return false;
  }
}

// The work of one job, on a thread of the pool: read, compile, then write the output
// unless it already holds the same bytes.
void run_job(Job& job, bool clean_comment, SourceMapMode source_map, const String& config,
             int64_t run_started, const std::atomic<bool>& stop) {
  if (stop.load(std::memory_order_acquire)) {
    job.state = JobState::kSkipped;
    return;
  }
  Buffer bytes;
  if (!read_source_bytes(job.source, bytes, job.message)) {
    job.state = JobState::kFailed;
    return;
  }
  Buffer out;
  String16 text = decode_source(bytes);
  SourceMapBuilder map;
  if (!compile_source(job.source, text, job.is_jsx, clean_comment, out, job.message, nullptr,
                      source_map == SourceMapMode::kNone ? nullptr : &map)) {
    job.state = JobState::kFailed;
    return;
  }
  String map_text;
  if (source_map != SourceMapMode::kNone) {
    // As for a single file: the map beside the output, naming the source from there.
    String name = Path::basename(job.output);
    Buffer content = utf16_to_utf8(text.data(), text.length());
    map_text = source_map_json(name, source_name_for_map(job.source, job.output),
                               String(content.data(), content.length()), map);
    String link = source_map_link(source_map, name, map_text);
    if (out.length() > 0 && out[out.length() - 1] != '\n') out.append("\n", 1);
    out.append(link.data(), link.length());
  }
  Record& r = job.record;
  r.rel = job.rel;
  r.hash = hash(bytes.data(), bytes.length());
  r.size = job.size;
  r.mtime = job.mtime;
  r.checked = run_started;
  r.config = config;
  try {
    FileStat existing;
    if (!job.fresh_folder) {
      try {
        existing = FileHelper::stat_sync(job.output);
      } catch (const Error&) {
        // No output yet.
      }
    }
    if (source_map == SourceMapMode::kFile) {
      // The map first, so an output never names a map that is not there.
      String map_path = job.output + String(".map");
      Buffer map_bytes;
      map_bytes.append(map_text.data(), map_text.length());
      try {
        if (!same_content(map_path, map_bytes))
          FileHelper::write_file_safe_sync(map_path, map_bytes);
      } catch (const Error& e) {
        job.message = String::format("Cannot write %s: %s", map_path.c_str(), e.message().c_str());
        job.state = JobState::kFailed;
        return;
      }
    }
    if (existing.is_valid() && existing.type() == FTYPE_FILE &&
        existing.size() == (uint64_t)out.length() && same_content(job.output, out)) {
      job.state = JobState::kUnchanged;
    } else {
      FileHelper::write_file_safe_sync(job.output, out);
      existing = FileHelper::stat_sync(job.output);
      job.state = JobState::kCompiled;
    }
    r.out_size = (int64_t)existing.size();
    r.out_mtime = existing.mtime();
  } catch (const Error& e) {
    job.message = String::format("Cannot write %s: %s", job.output.c_str(), e.message().c_str());
    job.state = JobState::kFailed;
  }
}

bool is_terminal_stderr() {
  return isatty(2) == 1;
}

}  // namespace

// The state that lives as long as the project: the manifest as last read or written.
class Project::Inl {
 public:
  String config;
  String manifest_path;
  String manifest_loaded;  // the text on disk, empty when there is none
  bool manifest_exists = false;
  bool first_build = true;
  Map<String, Record> records;
};

// An output folder of a build: made by it (so it holds no output yet), or why it could
// not be made.
struct OutputFolder {
  bool fresh = false;
  String error;
};

// One build in flight.
struct BuildRun {
  Project* project;
  Project::Inl* inl;
  RunLoop* loop;
  bool quiet_if_idle = false;
  std::function<void(const BuildResult&)> done;
  int64_t started = 0;       // monotonic
  int64_t started_wall = 0;  // wall clock, for the records
  Array<Job*> jobs;          // sorted by path
  Array<Message> messages;
  Map<String, OutputFolder> folders;  // the output folders of the jobs
  uint32_t pending = 0;
  uint32_t finished = 0;
  uint32_t progress_id = 0;
  bool progress_shown = false;
  BuildResult result;

  ~BuildRun() {
    for (Job* job : jobs) delete job;
  }
};

namespace {

void show_progress(BuildRun* run) {
  fprintf(stderr, "\r\033[Kjsxc: %u of %u files...", run->finished, run->pending);
  fflush(stderr);
  run->progress_shown = true;
}

void schedule_progress(BuildRun* run, uint64_t delay) {
  run->progress_id = run->loop->post(
      [run](SimpleEvent&) {
        run->progress_id = 0;
        show_progress(run);
        schedule_progress(run, kProgressEveryUs);
      },
      delay);
}

}  // namespace

bool parse_project_options(int argc, char** argv, ProjectOptions& options, String& message) {
  for (int i = 3; i < argc; i++) {
    if (parse_shared_option(argv[i], options.clean_comment, options.source_map)) continue;
    if (strcmp(argv[i], "--watch") != 0) {
      message = String::format("Bad argument. unknown option %s", argv[i]);
      return false;
    }
    options.watch = true;
  }
  return true;
}

Project::Project(const ProjectOptions& options)
    : options_(options), stop_(false), building_(false), inl_(new Inl()) {
  inl_->config = hash(String(options.clean_comment ? "--clean-comment\n" : "\n") +
                      String(options.source_map == SourceMapMode::kFile     ? "--sourcemap\n"
                             : options.source_map == SourceMapMode::kInline ? "--sourcemap=inline\n"
                                                                            : "") +
                      compiler_version());
}

Project::~Project() {
  delete inl_;
}

bool Project::prepare() {
  const String& src = options_.source;
  const String& out = options_.output;
  source_real_ = real_or_planned(src);
  output_real_ = real_or_planned(out);
  if (output_real_ == source_real_) {
    log("Bad argument. the output folder %s is the source folder %s", out.c_str(), src.c_str());
    return false;
  }
  if (FileHelper::exists_sync(out) && !FileHelper::is_directory_sync(out)) {
    log("Bad argument. %s is not a folder", out.c_str());
    return false;
  }
  inl_->manifest_path = join(out, String(kManifestName));
  if (!FileHelper::exists_sync(inl_->manifest_path)) return true;
  inl_->manifest_exists = true;
  try {
    Buffer bytes = FileHelper::read_file_sync(inl_->manifest_path);
    inl_->manifest_loaded = String(bytes.data(), bytes.length());
  } catch (const Error& e) {
    log("jsxc: cannot read the manifest %s (%s); building every file", inl_->manifest_path.c_str(),
        e.message().c_str());
    return true;
  }
  ManifestState state = parse_manifest(inl_->manifest_loaded, source_real_, inl_->records);
  if (state == ManifestState::kDamaged) {
    log("jsxc: the manifest %s is damaged; building every file", inl_->manifest_path.c_str());
  }
  return true;
}

void Project::build(const Map<String, int>* changed, bool quiet_if_idle,
                    std::function<void(const BuildResult&)> done) {
  building_ = true;
  stop_.store(false, std::memory_order_release);
  BuildRun* run = new BuildRun();
  run->project = this;
  run->inl = inl_;
  run->loop = RunLoop::current();
  run->quiet_if_idle = quiet_if_idle;
  run->done = std::move(done);
  run->started = time_monotonic();
  run->started_wall = time_micro();

  // The walk: every .js and .jsx file below SRC, leaving out OUT when it lies inside.
  String root = Path::resolve(source_real_);
  String out_rel;
  if (is_below(output_real_, source_real_)) {
    out_rel = output_real_.substring(source_real_.length() + (source_real_.ends_with("/") ? 0 : 1),
                                     output_real_.length());
  }
  Array<String> folders;
  Array<Job*>& jobs = run->jobs;
  Callback visit([&](SimpleEvent& evt) {
    Dirent* e = static_cast<Dirent*>(evt.data);
    String rel = e->pathname.substring(root.length(), e->pathname.length());
    if (rel.starts_with(String("/"))) rel = rel.substring(1, rel.length());
    evt.return_value = 1;
    if (e->type == FTYPE_DIR) {
      if (!out_rel.is_empty() && rel == out_rel) {
        evt.return_value = FileHelper::kWalkSkip;
      } else {
        folders.push(rel);
      }
      return;
    }
    if (e->type != FTYPE_FILE) return;  // links are never followed; other kinds are no sources
    String ext = Path::extname(e->name);
    bool js = ext == String(".js");
    if (!js && ext != String(".jsx")) return;
    Job* job = new Job();
    job->rel = rel;
    job->source = join(options_.source, rel);
    job->output = join(options_.output, rel);
    job->is_jsx = !js;
    jobs.push(job);
  });
  try {
    FileHelper::each_sync(source_real_, visit);
  } catch (const Error& e) {
    run->messages.push(Message{
        String(),
        String::format("Cannot read %s: %s", options_.source.c_str(), e.message().c_str())});
    run->result.fatal = true;
  }
  std::sort(jobs.begin(), jobs.end(), job_less);
  // A walk that failed half-way keeps the folders of the last whole one.
  if (!run->result.fatal) folders_ = std::move(folders);

  if (!run->result.fatal && jobs.length() == 0 && inl_->first_build && !inl_->manifest_exists) {
    run->messages.push(Message{
        String(), String::format("No .js or .jsx file found in %s", options_.source.c_str())});
    run->result.fatal = true;
  }
  inl_->first_build = false;
  if (run->result.fatal) {
    for (Job* job : jobs) delete job;
    jobs.clear();
    finish_build(run);
    return;
  }

  // Which files need a job: a record that still matches the source, the options, the
  // compiler and the output on disk is trusted as it is.
  Array<Job*> work;
  for (Job* job : jobs) {
    Record* old = inl_->records.get(job->rel);
    if (old) {
      job->has_old = true;
      job->old = *old;
    }
    FileStat st;
    try {
      st = FileHelper::stat_sync(job->source);
    } catch (const Error& e) {
      job->message = String::format("Cannot read %s: %s", job->source.c_str(), e.message().c_str());
      job->state = JobState::kFailed;
      continue;
    }
    job->size = (int64_t)st.size();
    job->mtime = st.mtime();
    if (old && !(changed && changed->get(job->rel)) && old->size == job->size &&
        old->mtime == job->mtime && old->config == inl_->config &&
        old->mtime + kRacyWindowUs <= old->checked) {
      FileStat out_st;
      try {
        out_st = FileHelper::stat_sync(job->output);
      } catch (const Error&) {
        // A missing output is rebuilt.
      }
      if (out_st.is_valid() && out_st.type() == FTYPE_FILE &&
          (int64_t)out_st.size() == old->out_size && out_st.mtime() == old->out_mtime) {
        job->state = JobState::kUnchanged;
        job->record = *old;
        continue;
      }
    }
    // When SRC lies inside OUT, an output that would land inside SRC could overwrite a
    // source. (An OUT inside SRC is left out of the walk instead.)
    if (out_rel.is_empty() && is_below(join(output_real_, job->rel), source_real_)) {
      job->message = String::format("Cannot write %s: it lies inside the source folder %s",
                                    job->output.c_str(), options_.source.c_str());
      job->state = JobState::kFailed;
      continue;
    }
    // Output folders are made here, one at a time, before any job runs.
    String folder = Path::dirname(job->output);
    if (folder.is_empty()) folder = options_.output;
    OutputFolder* made = run->folders.get(folder);
    if (!made) {
      OutputFolder f;
      f.fresh = !FileHelper::exists_sync(folder);
      try {
        if (f.fresh) FileHelper::mkdir_p_sync(folder);
      } catch (const Error& e) {
        f.error = e.message();
      }
      made = &run->folders.set(folder, f);
    }
    if (!made->error.is_empty()) {
      job->message =
          String::format("Cannot write %s: %s", job->output.c_str(), made->error.c_str());
      job->state = JobState::kFailed;
      continue;
    }
    job->fresh_folder = made->fresh;
    work.push(job);
  }

  run->pending = work.length();
  if (run->pending == 0) {
    finish_build(run);
    return;
  }
  if (is_terminal_stderr()) schedule_progress(run, kProgressDelayUs);
  bool clean_comment = options_.clean_comment;
  SourceMapMode source_map = options_.source_map;
  const String config = inl_->config;
  int64_t started_wall = run->started_wall;
  const std::atomic<bool>* stop = &stop_;
  for (Job* job : work) {
    run->loop->work(
        [job, clean_comment, source_map, config, started_wall, stop](SimpleEvent&) {
          run_job(*job, clean_comment, source_map, config, started_wall, *stop);
        },
        [this, run](SimpleEvent&) {
          if (++run->finished == run->pending) finish_build(run);
        },
        job->rel);
  }
}

void Project::finish_build(BuildRun* run) {
  Inl* inl = run->inl;
  BuildResult& result = run->result;
  if (run->progress_id) run->loop->cancel(run->progress_id);
  run->progress_id = 0;

  Map<String, int> seen;
  Map<String, Record> records;
  for (Job* job : run->jobs) {
    seen.set(job->rel, 1);
    switch (job->state) {
      case JobState::kCompiled:
      case JobState::kUnchanged:
        if (job->state == JobState::kCompiled) {
          result.compiled++;
        } else {
          result.unchanged++;
        }
        records.set(job->rel, job->record);
        break;
      case JobState::kFailed:
      case JobState::kSkipped:
      case JobState::kPending:
        if (job->state == JobState::kFailed) {
          result.failed++;
          run->messages.push(Message{job->rel, job->message});
        } else {
          result.skipped++;
        }
        // The old output stays, and so does the claim on it.
        if (job->has_old) records.set(job->rel, job->old);
        break;
    }
  }

  if (!result.fatal) {
    // Outputs of sources that are gone: removed where the record says the compiler
    // wrote them and they are still as written.
    for (auto it = inl->records.begin(); it != inl->records.end(); ++it) {
      const Record& old = it.value();
      if (seen.get(old.rel)) continue;
      String output = join(options_.output, old.rel);
      FileStat st;
      try {
        st = FileHelper::stat_sync(output);
      } catch (const Error&) {
        continue;  // gone already
      }
      if (st.type() != FTYPE_FILE || (int64_t)st.size() != old.out_size ||
          st.mtime() != old.out_mtime) {
        continue;  // changed by someone else: no longer ours
      }
      try {
        FileHelper::unlink_sync(output);
        result.removed++;
      } catch (const Error& e) {
        result.failed++;
        run->messages.push(Message{
            old.rel, String::format("Cannot remove %s: %s", output.c_str(), e.message().c_str())});
        records.set(old.rel, old);
      }
    }

    Array<const Record*> sorted;
    for (auto it = records.begin(); it != records.end(); ++it) sorted.push(&it.value());
    std::sort(sorted.begin(), sorted.end(), [](const Record* a, const Record* b) {
      return strcmp(a->rel.c_str(), b->rel.c_str()) < 0;
    });
    String text = manifest_text(source_real_, sorted);
    // Written only when it changed, and only into an OUT that exists (a build that
    // made no output has nothing to record).
    if (text != inl->manifest_loaded && (records.length() > 0 || inl->manifest_exists) &&
        FileHelper::is_directory_sync(options_.output)) {
      try {
        FileHelper::write_file_safe_sync(inl->manifest_path, text.data(), text.length());
        inl->manifest_loaded = text;
        inl->manifest_exists = true;
      } catch (const Error& e) {
        result.failed++;
        run->messages.push(
            Message{String(), String::format("Cannot write %s: %s", inl->manifest_path.c_str(),
                                             e.message().c_str())});
      }
    }
    inl->records = std::move(records);
  }

  if (run->progress_shown) {
    fprintf(stderr, "\r\033[K");
    fflush(stderr);
  }
  // Messages by path; those of the whole build (no path) come first.
  std::stable_sort(
      run->messages.begin(), run->messages.end(),
      [](const Message& a, const Message& b) { return strcmp(a.rel.c_str(), b.rel.c_str()) < 0; });
  for (const Message& m : run->messages) log(m.text);
  result.elapsed_us = time_monotonic() - run->started;
  bool idle = result.compiled == 0 && result.failed == 0 && result.removed == 0 && !result.fatal;
  if (!result.fatal && !(run->quiet_if_idle && idle)) {
    String line = String::format("jsxc: %u compiled, %u unchanged, %u failed", result.compiled,
                                 result.unchanged, result.failed);
    if (result.removed) line.push(String::format(", %u removed", result.removed));
    if (result.skipped) line.push(String::format(", %u not built (interrupted)", result.skipped));
    line.push(String::format(" in %lld ms", (long long)((result.elapsed_us + 500) / 1000)));
    log(line);
  }
  fflush(stdout);

  building_ = false;
  std::function<void(const BuildResult&)> done = std::move(run->done);
  BuildResult copy = result;
  delete run;
  if (done) done(copy);
}

// ---- the command ----------------------------------------------------------------------

SignalWatch::SignalWatch(RunLoop* loop, std::function<void(int)> on_signal)
    : on_signal_(std::move(on_signal)) {
  int signals[2] = {SIGINT, SIGTERM};
  for (int i = 0; i < 2; i++) {
    uv_signal_t* h = new uv_signal_t;
    uv_signal_init(loop->uv_loop(), h);
    h->data = this;
    uv_signal_start(
        h,
        [](uv_signal_t* handle, int signum) {
          SignalWatch* self = static_cast<SignalWatch*>(handle->data);
          if (self && self->on_signal_) self->on_signal_(signum);
        },
        signals[i]);
    handles_[i] = h;
  }
}

SignalWatch::~SignalWatch() {
  close();
}

void SignalWatch::close() {
  for (uv_signal_t*& h : handles_) {
    if (!h) continue;
    h->data = nullptr;
    uv_close((uv_handle_t*)h, [](uv_handle_t* handle) { delete (uv_signal_t*)handle; });
    h = nullptr;
  }
}

namespace {

// The whole command on the framework thread that owns the build's loop.
int run_project(const ProjectOptions& options) {
  RunLoop* loop = RunLoop::current();
  Project project(options);
  if (!project.prepare()) return 1;

  int status = 0;
  int signal_seen = 0;
  Watcher* watcher = nullptr;
  SignalWatch signals(loop, [&](int signum) {
    if (signal_seen) return;
    signal_seen = signum;
    project.stop();
    if (watcher) {
      watcher->close();  // its end closes the signal handles
    } else if (!project.is_building()) {
      signals.close();
    }
  });
  project.build(nullptr, false, [&](const BuildResult& r) {
    status = r.failed || r.fatal ? 1 : 0;
    if (options.watch && !r.fatal && !signal_seen) {
      watcher = new Watcher(project, [&] { signals.close(); });
      watcher->start();
      return;
    }
    signals.close();
  });
  loop->run(0);
  delete watcher;
  if (options.watch) return signal_seen ? 0 : status;
  if (signal_seen) return 128 + signal_seen;
  return status;
}

}  // namespace

int run_project_command(int argc, char** argv) {
  ProjectOptions options;
  options.source = String(argv[1]);
  options.output = String(argv[2]);
  String message;
  if (!parse_project_options(argc, argv, options, message)) {
    log(message);
    return 1;
  }
  int status = 1;
  // The build runs on a framework thread of its own, whose loop owns the jobs.
  std::thread::id id = Thread::spawn(
      [&](Thread&) {
        status = run_project(options);
        return 0;
      },
      String("jsxc build"));
  Thread::wait_for_end(id);
  return status;
}

}  // namespace nubrix
