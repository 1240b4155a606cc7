#include "kiv/mox/view_point_file.hpp"

#include <sys/stat.h>

#include "kiv/log/raise.hpp"
#include "kiv/mox/progress.hpp"
#include "kiv/rkf/rkfile.hpp"

namespace KivMox {

namespace {

const char* const kMethod = "KivMox::Tree::LoadViewPoints";

[[noreturn]] void RaiseDamaged(const std::string& path, const std::string& what) {
  KIV_RAISE(ReadError, "\"" + path + "\" is a damaged view point file: " + what, kMethod);
}

}  // namespace

ViewPointFile ReadViewPointFile(const std::string& path) {
  if (ProgressListener* progress = GetProgressListener()) progress->Reading(path);
  ViewPointFile read{path, {}, {}};
  KivRkf::RkFile file;
  file.OpenFile(path, "rb");
  struct stat st;
  if (fstat(fileno(file.Stream()), &st) == 0) read.identity = {st.st_dev, st.st_ino};
  KIV_CHECK(file.IsContainerFile(), FormatNotSupported, path + " is not a Mox file", kMethod);
  if (file.ReadVersion() == "0.1") return read;
  try {
    file.EnsureIndex();
  } catch (const std::exception& e) {
    RaiseDamaged(path, "its block table cannot be read: " + Kiv::Util::DescriptionOf(e));
  }
  if (!file.Reader().HasName(kViewPoints)) return read;
  std::string failure;
  // Whatever the header says, the records are read as those of the containers written here.
  ReadViewPoints(file, read.views, KivRkf::kWrittenVersion, &failure);
  if (!failure.empty()) RaiseDamaged(path, "section \"View Points\": " + failure);
  file.CloseFile();
  return read;
}

void AppendViewPoints(ViewPoints& views, ViewPoints&& read) {
  if (!read.present) return;
  views.current = std::move(read.current);
  for (auto& group : read.groups) views.groups.push_back(std::move(group));
  views.actions.entries = std::move(read.actions.entries);
  views.actions.keyedTriples = std::move(read.actions.keyedTriples);
  views.actions.text = std::move(read.actions.text);
  for (auto& action : read.actions.actions) views.actions.actions.push_back(std::move(action));
  views.present = true;
}

}  // namespace KivMox
