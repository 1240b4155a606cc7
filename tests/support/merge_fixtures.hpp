// Helpers of the moxmerge tests: distinct values, short views of trees, raw containers,
// moxmerge run in a child process or its merges in this one.
#pragma once

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>

#include "kiv/mox/group.hpp"
#include "kiv/mox/sections.hpp"
#include "kiv/mox/view_points.hpp"
#include "kiv/rkf/rkfile.hpp"
#include "support/model_builder.hpp"
#include "support/test_support.hpp"

namespace AppTest {

using namespace TestSupport;
using Names = std::vector<std::string>;

inline const char kSep = '\x1E';  // the instance tag separator

// Floats that differ from seed to seed and include values that only a bitwise copy
// keeps: negative zero, a subnormal, a huge value and a quiet NaN with a payload; then
// seed + i up to count values.
inline std::vector<float> Distinct(float seed, std::size_t count = 7) {
  std::vector<float> values = {-0.0f, 1.0e-40f, 3.0e38f, seed, seed + 0.125f, seed * 3.0f};
  const std::uint32_t nan = 0x7FC01234u + std::uint32_t(seed * 16.0f);
  std::memcpy(&values.emplace_back(), &nan, 4);
  while (values.size() < count) values.push_back(seed + float(values.size()));
  return values;
}
inline Names ChildNames(const KivMox::Tree& tree, std::uint32_t id) {
  Names names;
  for (std::uint32_t c : Children(tree, id)) names.push_back(tree.GetNode(c)->name);
  return names;
}
// The arrays of every geometry, "<id>: <name>@<seed> ..." (values Distinct(seed) bit for
// bit, else "@?") or "<name>-><node>:<index>"; the tag separator as '|'.
inline std::string Arrays(const KivMox::Tree& tree) {
  std::ostringstream out;
  for (const auto& [id, entry] : tree.Entries()) {
    const auto* geometry = KivMox::NodeAs<KivMox::Geometry>(entry.data);
    if (!geometry) continue;
    out << id << ":";
    for (const auto& a : geometry->arrays) {
      std::string name = a.name;
      std::replace(name.begin(), name.end(), kSep, '|');
      out << " " << name;
      const std::size_t n = a.data.Bytes() ? a.data.byteSize / 4 : 0;
      float seed = 0.0f;
      if (n >= 7) std::memcpy(&seed, a.data.Bytes() + 12, 4);
      if (a.linked)
        out << "->" << a.linkNode << ":" << a.linkIndex;
      else if (n >= 7 && std::memcmp(a.data.Bytes(), Distinct(seed, n).data(), 4 * n) == 0)
        out << "@" << seed;
      else
        out << "@?";
    }
    out << "\n";
  }
  return out.str();
}
inline bool Has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}
inline std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}
inline Names DirectoryEntries(const std::string& dir) {
  Names names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// moxmerge with its trace log in logDir, and further environment entries.
inline Outcome RunMoxMerge(const TempDir& logDir, const Names& args, Names env = {}) {
  env.push_back("TESSARA_TEMP_PATH=" + logDir.Path());
  return Execute({"moxmerge", args, env});
}

// Standard error less the line that tells where the trace log goes.
inline std::string ErrorsOf(const Outcome& run) {
  std::string kept, line;
  for (std::istringstream in(run.err); std::getline(in, line);)
    if (line.rfind("Writing log to \"", 0) != 0) kept += line + "\n";
  return kept;
}

// Runs a merge operation in this process; its status and what it printed on std::cerr.
template <class F>
std::pair<int, std::string> InProcess(F&& merge) {
  std::ostringstream err;
  std::streambuf* before = std::cerr.rdbuf(err.rdbuf());
  const int status = merge();
  std::cerr.rdbuf(before);
  return {status, err.str()};
}

using u8 = std::uint8_t;
using u32 = std::uint32_t;

// A container of any version ("0.6", of 32-bit light positions, unless told) for records
// no sound writer produces; written out when it goes.
class RawMox {
 public:
  explicit RawMox(const std::string& path, const std::string& version = "0.6")
      : wide_(KivRkf::VersionNumber(version) > 6) {
    file_.OpenFile(path, "wb+");
    std::fwrite(KivRkf::kMagic, 1, 8, file_.Stream());
    std::fwrite((version + std::string(4, '\0')).data(), 1, 4, file_.Stream());
  }
  ~RawMox() {
    if (file_.IsOpen()) Ix().WriteAllBuffersToFileStream(file_.Stream()), file_.CloseFile();
  }
  KivRkf::IndexWriter& Ix() { return file_.Writer(); }
  template <class... T>
  void Put(const char* section, const T&... values) {
    (Ix().Put(section, values), ...);
  }
  void Header(u32 id, u32 parent, u32 next, const std::string& type, const std::string& version,
              u32 light, u32 firstChild = 0, u32 lastChild = 0) {
    for (u32 v : {id, parent, 0u, next, firstChild, lastChild}) Put(KivMox::kMoxTree, v);
    Put(KivMox::kMoxTree, "node " + std::to_string(id), type, version);
    wide_ ? Put(KivMox::kMoxTree, std::uint64_t{light}) : Put(KivMox::kMoxTree, light);
  }
  u32 LightSize() { return static_cast<u32>(Ix().GetSize(KivMox::kLightData)); }
  KivRkf::RkFile file_;
  bool wide_;
};
template <class F>
void Write06(const std::string& path, std::int32_t count, F&& body,
             const std::string& version = "0.6") {
  RawMox raw(path, version);
  raw.Put(KivMox::kMoxTree, count);
  raw.Header(1, 0, 0, "", "", 0);
  body(raw);
}
// A "0.6" geometry record of one float array of byteSize bytes at heavy position.
inline void Geometry06(RawMox& raw, u32 byteSize, u32 position) {
  raw.Put(KivMox::kLightData, u32{1}, std::string("values"), u32{1}, u8{0}, byteSize, u8{1}, u8{0},
          u8{0}, u32{0}, u32{0}, u8{0}, position, u8{0});
  for (int i = 0; i < 6; ++i) raw.Put(KivMox::kAttributes, u32{0});
}

}  // namespace AppTest
