// The process-wide log. Records pass along routes; each route joins a filter, a
// formatter and a publisher. Before SetUpLog there is no route and records are dropped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kiv/util/log_record.hpp"

namespace Kiv::Log {

class Formatter {
 public:
  virtual ~Formatter() = default;
  virtual std::string operator()(const Kiv::Util::LogRecord& record) const = 0;
};

// "<file name after the last slash or backslash> : <line> @ <message>\n"
class DefaultFormatter : public Formatter {
 public:
  std::string operator()(const Kiv::Util::LogRecord& record) const override;
};

class Filter {
 public:
  virtual ~Filter() = default;
  virtual bool operator()(const Kiv::Util::LogRecord& record) const = 0;
};

template <std::uint16_t N>
class LevelFilter : public Filter {
 public:
  bool operator()(const Kiv::Util::LogRecord& record) const override {
    return record.level >= N;
  }
};

class Publisher {
 public:
  virtual ~Publisher() = default;
  virtual void Write(const char* text) = 0;
  virtual void Flush() = 0;
};

// Writes into a file opened (and truncated) at construction. A file that cannot be
// opened loses every write without notice.
class FilePublisher : public Publisher {
 public:
  explicit FilePublisher(const std::string& path);
  ~FilePublisher() override;
  FilePublisher(const FilePublisher&) = delete;
  FilePublisher& operator=(const FilePublisher&) = delete;
  void Write(const char* text) override;
  void Flush() override;

 private:
  std::FILE* file_;
};

class NullPublisher : public Publisher {
 public:
  void Write(const char*) override {}
  void Flush() override {}
};

struct LogRoute {
  std::size_t publisher;
  std::size_t filter;
  std::size_t formatter;
};

class LogManager {
 public:
  static LogManager& Instance();

  void AddFilter(const std::string& name, std::unique_ptr<Filter> filter);
  void AddPublisher(const std::string& name, std::unique_ptr<Publisher> publisher);
  void SetFilter(const std::string& publisherName, const std::string& filterName);
  void Publish(const Kiv::Util::LogRecord& record);

  bool HasPublisher(const std::string& name) const { return publisherNames_.count(name) != 0; }
  const std::vector<LogRoute>& Routes() const { return routes_; }

 private:
  LogManager();

  std::vector<LogRoute> routes_;
  std::vector<std::unique_ptr<Publisher>> publishers_;
  std::vector<std::unique_ptr<Filter>> filters_;
  std::vector<std::unique_ptr<Formatter>> formatters_;
  std::map<std::string, std::size_t> publisherNames_;
  std::map<std::string, std::size_t> filterNames_;
  std::map<std::string, std::size_t> formatterNames_;
};

// Chooses the trace file from TESSARA_TEMP_PATH, USERPROFILE or HOME and registers the
// one route of the run; an unwritable directory selects the null publisher.
void SetUpLog();

// Publishes a level-1000 progress record.
void Info(const char* file, std::uint32_t line, const char* method, const std::string& message);

}  // namespace Kiv::Log

#define KIV_LOG_INFO(method, message) ::Kiv::Log::Info(__FILE__, __LINE__, method, message)
