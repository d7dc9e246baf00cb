// One command over many files: the shared options, the worker threads, the
// output in the walk's order and the summary.
//
// The main thread walks and prints; workers look at each file and run the
// command's task on it. At most a window of files is in flight between the
// walk and the output, so memory does not grow with the number of files, and
// the output is the same byte for byte whatever the number of threads.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <iostream>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "cli.h"
#include "tlx_system.h"

namespace tagkit_cli {
namespace {

constexpr unsigned kMaxJobs = 256;
constexpr std::size_t kWindowPerThread = 64;
constexpr int kWaitMs = 200;  // how often a waiting main thread redraws progress
constexpr std::size_t kOutputBuffer = 1 << 16;

bool ParseJobs(const std::string& text, unsigned& jobs) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  if (text.empty() || text[0] < '0' || text[0] > '9' || *end != '\0' || value < 1 ||
      value > kMaxJobs) {
    return false;
  }
  jobs = static_cast<unsigned>(value);
  return true;
}

// A file's result as the workers hand it to the main thread, with what the
// summary counts.
struct Result {
  FileOutcome outcome;
  bool skipped = false;      // found by the walk but not MP3
  bool walk_failed = false;  // an entry the walk could not read: no file to count
  bool head_read = false;
  int id3v2 = 0;
  bool id3v1 = false;
};

Result Process(const RunItem& item, const FileTask& task) {
  Result result;
  if (FAILED(item.error)) {
    const Failure failure{item.path, item.error, item.what};
    result.outcome.output = task.FailureOutput(failure);
    result.outcome.failure = failure;
    result.walk_failed = true;
    return result;
  }
  FileLook look;
  look.found = item.found;
  if (!task.ReadsHeadItself()) {
    const HRESULT hr = LookAt(item.path, look);
    if (FAILED(hr)) {
      const Failure failure{item.path, hr, "cannot open the file"};
      result.outcome.output = task.FailureOutput(failure);
      result.outcome.failure = failure;
      return result;
    }
    if (look.skipped) {
      result.skipped = true;
      return result;
    }
  }
  try {
    result.outcome = task.Run(item.path, look);
    if (look.skipped) {
      result.outcome = FileOutcome();
      result.skipped = true;
      return result;
    }
  } catch (const std::bad_alloc&) {
    result.outcome = FileOutcome();
    result.outcome.failure = Failure{item.path, E_OUTOFMEMORY, "cannot read the file"};
  } catch (const std::exception&) {
    result.outcome = FileOutcome();
    result.outcome.failure = Failure{item.path, E_FAIL, "cannot read the file"};
  }
  result.head_read = look.head_read;
  if (look.head_read) {
    result.id3v2 = Id3v2Version(look.head);
    result.id3v1 = look.head.has_trailer;
  }
  return result;
}

class Summary {
 public:
  void Count(const Result& result) {
    if (result.skipped) {
      ++skipped_;
      return;
    }
    if (result.outcome.failure) ++failures_[result.outcome.failure->code];
    if (result.walk_failed) return;
    ++files_;
    if (result.outcome.changed) ++changed_;
    if (!result.head_read) return;
    if (result.id3v2 != 0) ++id3v2_[result.id3v2 - 2];
    if (result.id3v1) ++id3v1_;
    if (result.id3v2 == 0 && !result.id3v1) ++none_;
  }

  std::size_t files() const { return files_; }

  void Print(const std::string& command, bool counts_changes, bool dry_run) const {
    std::size_t failed = 0;
    std::string codes;
    for (const auto& failure : failures_) {
      failed += failure.second;
      codes += (codes.empty() ? ": " : ", ") + ResultName(failure.first) + " " +
               std::to_string(failure.second);
    }
    std::string out = "tagkit " + command + ": " + std::to_string(files_) +
                      (files_ == 1 ? " file" : " files");
    if (skipped_ > 0) out += ", " + std::to_string(skipped_) + " more skipped (not MP3)";
    out += "\n  tags     none " + std::to_string(none_) + ", ID3v1 " + std::to_string(id3v1_) +
           ", ID3v2.2 " + std::to_string(id3v2_[0]) + ", ID3v2.3 " + std::to_string(id3v2_[1]) +
           ", ID3v2.4 " + std::to_string(id3v2_[2]) + "\n";
    if (counts_changes) {
      out += (dry_run ? "  would change " : "  changed  ") + std::to_string(changed_) + "\n";
    }
    out += "  failed   " + std::to_string(failed) + codes + "\n";
    std::cerr << out << std::flush;
  }

 private:
  std::size_t files_ = 0, skipped_ = 0, changed_ = 0, none_ = 0, id3v1_ = 0;
  std::size_t id3v2_[3] = {0, 0, 0};
  std::map<HRESULT, std::size_t> failures_;
};

// Prints results in order and keeps the summary and the progress line.
class Printer {
 public:
  Printer(const FileTask& task, bool progress) : task_(task), progress_(progress) {}

  void Print(const Result& result) {
    summary_.Count(result);
    ++done_;
    const FileOutcome& outcome = result.outcome;
    if (!outcome.output.empty()) {
      progress_.Clear();
      if (task_.BlankLineBetween() && printed_) std::cout << '\n';
      std::cout << outcome.output;
      printed_ = true;
    }
    if (outcome.failure) {
      std::cout.flush();
      ReportFailure(*outcome.failure, &progress_);
      failed_ = true;
    }
  }

  void Tick(std::size_t total) { progress_.Update(done_, total); }
  void Finish() {
    std::cout.flush();
    progress_.Clear();
  }
  bool failed() const { return failed_; }
  const Summary& summary() const { return summary_; }

 private:
  const FileTask& task_;
  Progress progress_;
  Summary summary_;
  std::size_t done_ = 0;
  bool printed_ = false;
  bool failed_ = false;
};

// The files in flight: the main thread queues them in the walk's order and
// takes the results back in that order; workers fill them in any order.
class Pipeline {
 public:
  Pipeline(const FileTask& task, unsigned jobs)
      : task_(task), window_(std::max<std::size_t>(jobs * kWindowPerThread, 2)) {
    const std::uint32_t code_page = tlx_get_thread_code_page();
    for (unsigned i = 0; i < jobs; ++i) {
      workers_.emplace_back([this, code_page] {
        tlx_set_thread_code_page(code_page);
        Work();
      });
    }
  }

  ~Pipeline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    }
    work_ready_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  // Queues the next file, printing finished ones while the window is full.
  void Push(RunItem item, Printer& printer) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (slots_.size() == window_) PrintReady(lock, printer, 0);
    slots_.emplace_back();
    queue_.emplace_back(pushed_++, std::move(item));
    work_ready_.notify_one();
  }

  // Prints everything still in flight.
  void Drain(Printer& printer) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!slots_.empty()) PrintReady(lock, printer, pushed_);
  }

 private:
  struct Slot {
    bool done = false;
    Result result;
  };

  // Half a window of finished files at the front, or all that are left.
  bool EnoughReady() const { return ready_ >= std::min(window_ / 2, slots_.size()); }

  // Waits a while for finished files at the front, then prints them; the
  // lock is released while printing. Waking once per half window rather
  // than once per file keeps the threads from trading places all the time.
  void PrintReady(std::unique_lock<std::mutex>& lock, Printer& printer, std::size_t total) {
    result_ready_.wait_for(lock, std::chrono::milliseconds(kWaitMs),
                           [this] { return EnoughReady(); });
    std::vector<Result> results;
    for (; ready_ > 0; --ready_) {
      results.push_back(std::move(slots_.front().result));
      slots_.pop_front();
      ++printed_;
    }
    lock.unlock();
    for (const Result& result : results) printer.Print(result);
    printer.Tick(total);
    lock.lock();
  }

  void Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      work_ready_.wait(lock, [this] { return closed_ || !queue_.empty(); });
      if (queue_.empty()) return;
      const std::size_t sequence = queue_.front().first;
      const RunItem item = std::move(queue_.front().second);
      queue_.pop_front();
      lock.unlock();
      Result result = Process(item, task_);
      lock.lock();
      Slot& slot = slots_[sequence - printed_];
      slot.result = std::move(result);
      slot.done = true;
      const bool was_enough = EnoughReady();
      while (ready_ < slots_.size() && slots_[ready_].done) ++ready_;
      if (!was_enough && EnoughReady()) result_ready_.notify_one();
    }
  }

  const FileTask& task_;
  const std::size_t window_;
  std::mutex mutex_;
  std::condition_variable work_ready_, result_ready_;
  std::deque<std::pair<std::size_t, RunItem>> queue_;
  std::deque<Slot> slots_;  // slots_[k] is file printed_ + k
  std::size_t ready_ = 0;   // finished slots at the front
  std::size_t pushed_ = 0, printed_ = 0;
  bool closed_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace

std::string FileTask::FailureOutput(const Failure&) const { return std::string(); }

int TakeRunOption(const std::string& command, const std::vector<std::string>& args,
                  std::size_t& i, RunOptions& options) {
  const std::string& arg = args[i];
  if (arg == "-r" || arg == "--recursive") {
    options.recursive = true;
  } else if (arg == "--follow") {
    options.follow_links = true;
  } else if (arg == "--quiet") {
    options.quiet = true;
  } else if (arg == "--strict") {
    options.strict = true;
  } else if (arg == "-j" || arg == "--jobs") {
    if (i + 1 >= args.size() || !ParseJobs(args[i + 1], options.jobs)) {
      return UsageError(command, arg + " needs a number of threads from 1 to " +
                                     std::to_string(kMaxJobs));
    }
    ++i;
  } else if (arg.compare(0, 2, "-j") == 0 || arg.compare(0, 7, "--jobs=") == 0) {
    const std::string value = arg.substr(arg[1] == 'j' ? 2 : 7);
    if (!ParseJobs(value, options.jobs)) {
      return UsageError(command, "-j needs a number of threads from 1 to " +
                                     std::to_string(kMaxJobs) + ", not '" + value + "'");
    }
  } else {
    return kNotRunOption;
  }
  return kExitOk;
}

std::int32_t OpenFlags(const RunOptions& options) {
  return options.strict ? 0 : TAGKIT_OPEN_V24;
}

int RunFiles(const std::string& command, const std::vector<std::string>& operands,
             const RunOptions& options, const FileTask& task) {
  unsigned jobs = options.jobs;
  if (jobs == 0) jobs = std::max(1u, std::min(std::thread::hardware_concurrency(), kMaxJobs));
  // Output for a pipe or a file goes out in large writes; a terminal keeps
  // seeing each file as it is done.
  static char output_buffer[kOutputBuffer];
  if (!StdoutIsTerminal()) std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
  FileWalk walk(operands, options.recursive, options.follow_links);
  Printer printer(task, !options.quiet && StderrIsTerminal());
  {
    Pipeline pipeline(task, jobs);
    RunItem item;
    while (walk.Next(item)) pipeline.Push(std::move(item), printer);
    pipeline.Drain(printer);
  }
  printer.Finish();
  const Summary& summary = printer.summary();
  if (!options.quiet && (summary.files() > 1 || walk.walked_a_directory())) {
    summary.Print(command, command == "set", options.dry_run);
  }
  return printer.failed() ? kExitFailed : kExitOk;
}

}  // namespace tagkit_cli
