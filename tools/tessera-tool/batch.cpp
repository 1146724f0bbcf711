// The batch form of convert: one worker process a file, up to N at a time. The library
// keeps process-wide state (its session, profiles and caches) and allows one thread, so
// files are converted side by side in processes, never in threads. A worker that fails or
// dies costs only its own file.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "commands.h"
#include "status_text.h"

namespace tool {

namespace {

struct Job {
  std::string input, output;
  std::string refusal;  // why the file is not even tried, or empty
};

struct Worker {
  size_t job;
  int fd;  // read end of the worker's report
};

// Runs in the worker: converts one file and writes "STATUS\nNOTE\n..." to fd.
[[noreturn]] void RunWorker(const Job& job, const ConvertOptions& options, const Profiles& profiles, int fd) {
  std::vector<std::string> notes;
  long status;
  {
    LibrarySession session(profiles);
    status = session.status() != 0 ? session.status() : ConvertFile(job.input, job.output, options, notes, true);
  }
  std::string report = std::to_string(status) + "\n";
  for (const std::string& note : notes) report += note + "\n";
  const char* p = report.data();
  size_t left = report.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n, left -= static_cast<size_t>(n);
  }
  ::_exit(status == 0 ? 0 : 1);
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

class BatchBar {
 public:
  explicit BatchBar(size_t total) : total_(total), terminal_(::isatty(2) != 0) {}
  // A line above the bar.
  void Line(const std::string& text) {
    if (terminal_) std::fputs("\r\033[K", stderr);
    std::fprintf(stderr, "%s\n", text.c_str());
    Draw();
  }
  void Advance() {
    ++done_;
    Draw();
  }
  void Finish() {
    if (terminal_ && total_ > 0) std::fputc('\n', stderr);
  }

 private:
  void Draw() {
    if (!terminal_ || total_ == 0) return;
    const int width = 40;
    const int filled = static_cast<int>(done_ * width / total_);
    std::fprintf(stderr, "\rconvert  [%.*s%*s] %zu/%zu", filled, "########################################",
                 width - filled, "", done_, total_);
    std::fflush(stderr);
  }
  size_t total_, done_ = 0;
  bool terminal_;
};

}  // namespace

int CommandConvertBatch(const std::vector<std::string>& inputs, const std::string& folder,
                        const ConvertOptions& options, const Profiles& profiles, int jobs) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder)) {
    std::fprintf(stderr, "tessera-tool: %s: %s (the output folder)\n", folder.c_str(),
                 orvax::tools::TesseraStatusLine(TES_ERR_OUT_CREATE).c_str());
    return 1;
  }

  // Each input becomes FOLDER/NAME.EXT; two inputs that would share an output are refused
  // after the first, so neither overwrites the other's result.
  std::vector<Job> list;
  std::map<std::string, std::string> claimed;  // output -> input
  for (const std::string& input : inputs) {
    Job job{input, (fs::path(folder) / fs::path(input).stem()).string() + FormatExtension(options.format), {}};
    const auto [it, fresh] = claimed.emplace(job.output, input);
    if (!fresh) job.refusal = "would be written to " + job.output + ", as " + it->second + " is";
    list.push_back(std::move(job));
  }

  std::fflush(stdout);
  std::fflush(stderr);
  const auto start = std::chrono::steady_clock::now();
  BatchBar bar(list.size());
  std::map<pid_t, Worker> running;
  size_t next = 0, converted = 0, failed = 0;
  auto fail = [&](const Job& job, const std::string& why) {
    ++failed;
    bar.Line("tessera-tool: " + job.input + ": " + why);
  };

  while (next < list.size() || !running.empty()) {
    while (next < list.size() && static_cast<int>(running.size()) < jobs) {
      const Job& job = list[next];
      const size_t index = next++;
      if (!job.refusal.empty()) {
        fail(job, "not converted: it " + job.refusal);
        bar.Advance();
        continue;
      }
      int pipeFds[2];
      if (::pipe(pipeFds) != 0) {
        fail(job, orvax::tools::TesseraStatusLine(TES_ERR_NO_MEMORY) + " (no pipe for a worker)");
        bar.Advance();
        continue;
      }
      const pid_t pid = ::fork();
      if (pid == 0) {
        ::close(pipeFds[0]);
        for (const auto& [other, worker] : running) ::close(worker.fd);
        RunWorker(job, options, profiles, pipeFds[1]);
      }
      ::close(pipeFds[1]);
      if (pid < 0) {
        ::close(pipeFds[0]);
        fail(job, orvax::tools::TesseraStatusLine(TES_ERR_NO_MEMORY) + " (no worker process)");
        bar.Advance();
        continue;
      }
      running[pid] = Worker{index, pipeFds[0]};
    }
    if (running.empty()) continue;

    int wstatus = 0;
    const pid_t pid = ::waitpid(-1, &wstatus, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      break;
    }
    const auto it = running.find(pid);
    if (it == running.end()) continue;
    const Worker worker = it->second;
    running.erase(it);
    // The worker has ended, so what it wrote is all in the pipe.
    const std::string report = ReadAll(worker.fd);
    ::close(worker.fd);
    const Job& job = list[worker.job];
    if (WIFSIGNALED(wstatus)) {
      fail(job, "the worker converting it was ended by signal " + std::to_string(WTERMSIG(wstatus)) + " (" +
                    strsignal(WTERMSIG(wstatus)) + "); the output was not written");
    } else if (report.empty()) {
      fail(job, "the worker converting it reported nothing; the output was not written");
    } else {
      const long status = std::strtol(report.c_str(), nullptr, 10);
      size_t line = report.find('\n');
      while (line != std::string::npos && line + 1 < report.size()) {
        const size_t end = report.find('\n', line + 1);
        bar.Line("tessera-tool: " + job.input + ": " + report.substr(line + 1, end - line - 1));
        line = end;
      }
      if (status == 0)
        ++converted;
      else
        fail(job, orvax::tools::TesseraStatusLine(status));
    }
    bar.Advance();
  }
  bar.Finish();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("converted %zu of %zu files into %s", converted, list.size(), folder.c_str());
  if (failed > 0) std::printf(", %zu failed", failed);
  std::printf(" (%.1f s, %d worker%s)\n", seconds, jobs, jobs == 1 ? "" : "s");
  return failed == 0 ? 0 : 1;
}

}  // namespace tool
