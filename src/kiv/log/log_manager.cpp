#include "kiv/log/log_manager.hpp"

#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "kiv/log/record_hold.hpp"

namespace Kiv::Log {

std::string DefaultFormatter::operator()(const Kiv::Util::LogRecord& record) const {
  std::string path = record.file ? record.file : "";
  auto cut = path.find_last_of("/\\");
  std::string line = cut == std::string::npos ? path : path.substr(cut + 1);
  line += " : ";
  line += std::to_string(record.line);
  line += " @ ";
  line += record.message;
  line += '\n';
  return line;
}

FilePublisher::FilePublisher(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {}

FilePublisher::~FilePublisher() {
  if (file_) std::fclose(file_);
}

void FilePublisher::Write(const char* text) {
  if (file_) std::fputs(text, file_);
}

void FilePublisher::Flush() {
  if (file_) std::fflush(file_);
}

LogManager::LogManager() {
  AddFilter("__Default__", std::make_unique<LevelFilter<2000>>());
  formatters_.push_back(std::make_unique<DefaultFormatter>());
  formatterNames_["__Default__"] = 0;
}

LogManager& LogManager::Instance() {
  // Made on first use and never destroyed: records may be published during static
  // destruction of other objects.
  static LogManager* manager = new LogManager();
  return *manager;
}

void LogManager::AddFilter(const std::string& name, std::unique_ptr<Filter> filter) {
  if (filterNames_.count(name)) return;
  filters_.push_back(std::move(filter));
  filterNames_[name] = filters_.size() - 1;
}

void LogManager::AddPublisher(const std::string& name, std::unique_ptr<Publisher> publisher) {
  publishers_.push_back(std::move(publisher));
  std::size_t index = publishers_.size() - 1;
  publisherNames_[name] = index;
  routes_.push_back({index, filterNames_.at("__Default__"), formatterNames_.at("__Default__")});
}

void LogManager::SetFilter(const std::string& publisherName, const std::string& filterName) {
  auto p = publisherNames_.find(publisherName);
  auto f = filterNames_.find(filterName);
  if (p == publisherNames_.end() || f == filterNames_.end()) return;
  for (auto& route : routes_)
    if (route.publisher == p->second) route.filter = f->second;
}

void LogManager::Publish(const Kiv::Util::LogRecord& record) {
  if (HoldRecord(record)) return;
  for (const auto& route : routes_) {
    if (!(*filters_[route.filter])(record)) continue;
    std::string text = (*formatters_[route.formatter])(record);
    publishers_[route.publisher]->Write(text.c_str());
    publishers_[route.publisher]->Flush();
  }
}

namespace {
std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}
}  // namespace

void SetUpLog() {
  std::string dir = EnvOrEmpty("TESSARA_TEMP_PATH");
  if (dir.empty()) dir = EnvOrEmpty("USERPROFILE");
  if (dir.empty()) dir = EnvOrEmpty("HOME");
  dir += "/";
  auto& manager = LogManager::Instance();
  if (access(dir.c_str(), W_OK) != 0) {
    std::cerr << "Unable to set log file."
              << "Log information will be discorded." << std::endl;
    manager.AddFilter("trace log", std::make_unique<LevelFilter<1000>>());
    if (!manager.HasPublisher("log to null"))
      manager.AddPublisher("log to null", std::make_unique<NullPublisher>());
    manager.SetFilter("log to null", "trace log");
    return;
  }
  std::string path = dir + "MoxMerge_trace.log";
  std::cerr << "Writing log to \"" << path << "\"" << std::endl;
  manager.AddFilter("trace log", std::make_unique<LevelFilter<1000>>());
  if (!manager.HasPublisher("log file"))
    manager.AddPublisher("log file", std::make_unique<FilePublisher>(path));
  manager.SetFilter("log file", "trace log");
}

void Info(const char* file, std::uint32_t line, const char* method, const std::string& message) {
  Kiv::Util::LogRecord record(Kiv::Util::LogRecord::kInfo, file, line, method);
  record.Append(message);
  LogManager::Instance().Publish(record);
}

}  // namespace Kiv::Log
