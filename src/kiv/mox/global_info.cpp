#include "kiv/mox/global_info.hpp"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <ctime>

#include "kiv/log/log_manager.hpp"
#include "kiv/rkf/rkfile.hpp"

namespace KivMox {

namespace {
const char* const kSaveMethod = "KivMox::Tree::SaveGlobalInfo";

std::string ComputerName() {
  char buf[80] = {};
  return gethostname(buf, sizeof buf - 1) == 0 ? std::string(buf) : std::string();
}

std::string UserName() {
  struct passwd pw;
  struct passwd* found = nullptr;
  std::array<char, 4096> scratch;
  if (getpwuid_r(getuid(), &pw, scratch.data(), scratch.size(), &found) != 0 || !found) return {};
  std::string name = found->pw_name ? found->pw_name : "";
  return name.substr(0, 79);
}
}  // namespace

std::string SaveTimeText() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  char buf[120] = {};
  if (localtime_r(&now, &local)) std::strftime(buf, sizeof buf, "%a %b %d %H:%M:%S %Y %Z", &local);
  return buf;
}

void ReadGlobalInfo(KivRkf::RkFile& file, std::vector<GlobalInfoRecord>& history) {
  file.EnsureIndex();
  KivRkf::IndexReader& index = file.Reader();
  if (!index.HasName(kGlobalInformation)) return;
  std::uint32_t count = 0;
  index.Get(kGlobalInformation, count);
  for (std::uint32_t i = 0; i < count; ++i) {
    GlobalInfoRecord record;
    index.Get(kGlobalInformation, record);
    history.push_back(std::move(record));
  }
}

void WriteGlobalInfo(KivRkf::RkFile& file, GlobalInfoRecord& current,
                     std::vector<GlobalInfoRecord>& history, const std::string& formatVersion,
                     const std::string& callerText) {
  KIV_LOG_INFO(kSaveMethod, "Saving global information ...");
  current.saveTime = SaveTimeText();
  current.formatVersion = formatVersion;
  if (current.recordMachineDetails) {
    current.computerName = ComputerName();
    current.userName = UserName();
  }
  current.callerText = callerText;
  history.push_back(current);
  KivRkf::IndexWriter& index = file.Writer();
  index.Put(kGlobalInformation, static_cast<std::uint32_t>(history.size()));
  for (const auto& record : history) index.Put(kGlobalInformation, record);
  file.SetBlockFlags(kGlobalInformation, KivRkf::kFlagZlib);
  KIV_LOG_INFO(kSaveMethod, "Global information saved.");
}

}  // namespace KivMox
