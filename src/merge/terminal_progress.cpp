#include "merge/terminal_progress.hpp"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace MoxMerge {

TerminalProgress::TerminalProgress() : start_(std::chrono::steady_clock::now()) {}

TerminalProgress::~TerminalProgress() {
  Finished();
}

void TerminalProgress::Show(const std::string& text) {
  if (std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
  std::string line = text.size() > 78 ? text.substr(0, 75) + "..." : text;
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  shown_ = true;
}

void TerminalProgress::Reading(const std::string& path) {
  Show("moxmerge: reading " + path);
}

void TerminalProgress::Writing(std::uint64_t done, std::uint64_t total) {
  char text[128];
  std::snprintf(text, sizeof text, "moxmerge: writing output %.1f of %.1f MiB (%d%%)",
                done / 1048576.0, total / 1048576.0,
                total ? static_cast<int>(100.0 * double(done) / double(total)) : 100);
  Show(text);
}

void TerminalProgress::Finished() {
  if (!shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
}

ProgressScope::ProgressScope() {
  if (isatty(STDERR_FILENO)) {
    progress_ = std::make_unique<TerminalProgress>();
    KivMox::SetProgressListener(progress_.get());
  }
}

ProgressScope::~ProgressScope() {
  if (!progress_) return;
  KivMox::SetProgressListener(nullptr);
}

void ReportCause(const std::string& line) {
  if (KivMox::ProgressListener* progress = KivMox::GetProgressListener()) progress->Finished();
  std::cerr << line << std::endl;
}

int ReportFailure(const std::exception& failure) {
  if (KivMox::ProgressListener* progress = KivMox::GetProgressListener()) progress->Finished();
  std::cerr << failure.what() << std::endl;
  return 2;
}

}  // namespace MoxMerge
