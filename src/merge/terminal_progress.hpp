// One updating status line on a terminal for merges that run longer than about a second:
// which input is being read, then how much of the output's heavy data is written. Shown
// only when stderr is a terminal, never on stdout, and cleared at the end.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "kiv/mox/progress.hpp"

namespace MoxMerge {

class TerminalProgress : public KivMox::ProgressListener {
 public:
  TerminalProgress();
  ~TerminalProgress() override;
  void Reading(const std::string& path) override;
  void Writing(std::uint64_t done, std::uint64_t total) override;
  void Finished() override;

 private:
  void Show(const std::string& text);

  std::chrono::steady_clock::time_point start_;
  bool shown_ = false;
};

// Installs a TerminalProgress for its lifetime when stderr is a terminal.
class ProgressScope {
 public:
  ProgressScope();
  ~ProgressScope();
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;

 private:
  std::unique_ptr<TerminalProgress> progress_;
};

// Clears the progress line and prints line and a line end on stderr: a line of our own
// that tells what caused the failure reported next.
void ReportCause(const std::string& line);

// Clears the progress line, prints the failure's text and a line end on stderr, and
// returns the failure status 2.
int ReportFailure(const std::exception& failure);

}  // namespace MoxMerge
