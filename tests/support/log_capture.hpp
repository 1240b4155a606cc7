// Test helper: while a LogCapture lives, a publisher registered once on the process-wide
// log manager keeps every record of level 1000 or higher as the default formatter renders
// it, with the number of exceptions in flight when it was published.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kiv/log/log_manager.hpp"

namespace TestSupport {

class LogCapture {
 public:
  using Lines = std::vector<std::pair<std::string, int>>;
  LogCapture() {
    Active() = this;
    static const bool registered = [] {
      auto& manager = Kiv::Log::LogManager::Instance();
      manager.AddFilter("test capture", std::make_unique<Kiv::Log::LevelFilter<1000>>());
      manager.AddPublisher("test capture", std::make_unique<Sink>());
      manager.SetFilter("test capture", "test capture");
      return true;
    }();
    (void)registered;
  }
  ~LogCapture() { Active() = nullptr; }
  const Lines& Captured() const { return lines_; }
  // Number of lines whose text ends with " @ " + message + "\n".
  int Count(const std::string& message) const {
    const std::string tail = " @ " + message + "\n";
    int n = 0;
    for (const auto& [text, exceptions] : lines_)
      n += text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
    return n;
  }

 private:
  struct Sink : Kiv::Log::Publisher {
    void Write(const char* text) override {
      if (Active()) Active()->lines_.emplace_back(text, std::uncaught_exceptions());
    }
    void Flush() override {}
  };
  static LogCapture*& Active() {
    static LogCapture* active = nullptr;
    return active;
  }
  Lines lines_;
};

}  // namespace TestSupport
