// Test helper: a publisher registered once on the process-wide log manager that keeps,
// while a LogCapture object lives, every record of level 1000 or higher as the default
// formatter renders it.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "kiv/log/log_manager.hpp"

namespace TestSupport {

struct CapturedLine {
  std::string text;
  int uncaughtExceptions;  // exceptions in flight when the line was published
};

class LogCapture {
 public:
  // Starts with no lines; the publisher stays registered for the rest of the run.
  LogCapture() {
    Lines().clear();
    Active() = true;
    static bool registered = false;
    if (!registered) {
      auto& manager = Kiv::Log::LogManager::Instance();
      manager.AddFilter("test capture", std::make_unique<Kiv::Log::LevelFilter<1000>>());
      manager.AddPublisher("test capture", std::make_unique<Sink>());
      manager.SetFilter("test capture", "test capture");
      registered = true;
    }
  }
  ~LogCapture() {
    Active() = false;
    Lines().clear();
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  const std::vector<CapturedLine>& Captured() const { return Lines(); }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& l : Lines()) texts.push_back(l.text);
    return texts;
  }
  // Number of lines whose text ends with " @ " + message + "\n".
  int Count(const std::string& message) const {
    int n = 0;
    std::string tail = " @ " + message + "\n";
    for (const auto& l : Lines())
      if (l.text.size() >= tail.size() &&
          l.text.compare(l.text.size() - tail.size(), tail.size(), tail) == 0)
        ++n;
    return n;
  }

 private:
  class Sink : public Kiv::Log::Publisher {
   public:
    void Write(const char* text) override {
      if (Active()) Lines().push_back({text, std::uncaught_exceptions()});
    }
    void Flush() override {}
  };
  static bool& Active() {
    static bool active = false;
    return active;
  }
  static std::vector<CapturedLine>& Lines() {
    static std::vector<CapturedLine> lines;
    return lines;
  }
};

}  // namespace TestSupport
