// The save history of a Mox file, section "Global Information":
//   u32 count, then count GlobalInfoRecord records, each a versioned record "0.1" whose
//   payload is seven strings: application name, application version, format version,
//   save time, computer name, user name, caller text.
#pragma once

#include <string>
#include <vector>

#include "kiv/rkf/versioned.hpp"

namespace KivRkf {
class RkFile;
}

namespace KivMox {

inline constexpr const char* kGlobalInformation = "Global Information";

struct GlobalInfoRecord {
  bool recordMachineDetails = false;  // not stored
  std::string applicationName;
  std::string applicationVersion;
  std::string formatVersion;
  std::string saveTime;
  std::string computerName;
  std::string userName;
  std::string callerText;
  // The version of the record as read (empty for a record made here); a save writes "0.1".
  std::string storedVersion;

  bool operator==(const GlobalInfoRecord& other) const = default;
};

// Appends the records of the file's history; a file without the section adds nothing.
void ReadGlobalInfo(KivRkf::RkFile& file, std::vector<GlobalInfoRecord>& history);
// Completes current (time, format version, caller text, machine details when asked),
// appends it to history and writes the whole history.
void WriteGlobalInfo(KivRkf::RkFile& file, GlobalInfoRecord& current,
                     std::vector<GlobalInfoRecord>& history, const std::string& formatVersion,
                     const std::string& callerText);
// The local time as "%a %b %d %H:%M:%S %Y %Z".
std::string SaveTimeText();

}  // namespace KivMox

namespace KivRkf {

template <>
struct VersionedRecord<KivMox::GlobalInfoRecord> {
  static std::string Version(const KivMox::GlobalInfoRecord&) { return "0.1"; }
  static constexpr int kGroups = 1;
  template <class Io, class R>
  static void Fields(Io& io, R& r, int /*group*/) {
    io(r.applicationName, r.applicationVersion, r.formatVersion, r.saveTime, r.computerName,
       r.userName, r.callerText);
  }
  static void KeepVersion(KivMox::GlobalInfoRecord& r, const std::string& v) {
    r.storedVersion = v;
  }
};

}  // namespace KivRkf
