// Helpers of the moxmerge tests: values that only a bitwise copy keeps, moxmerge run in
// a child process or its merges called in this one, raw containers, and short views of
// loaded trees.
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

// The instance tag separator, as a string so that it never runs into a hex escape.
inline const std::string kSep = "\x1E";
inline std::string Tagged(const std::string& name, const std::string& tag) {
  return name + kSep + tag;
}

inline Bytes BytesOf(const KivMox::NumericArray& data) {
  return data.HasBytes() ? Bytes(data.Bytes(), data.Bytes() + data.byteSize) : Bytes{};
}

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
inline Bytes DistinctBytes(float seed, std::size_t count = 7) {
  const auto values = Distinct(seed, count);
  Bytes bytes(values.size() * 4);
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

inline KivMox::Geometry* GeometryOf(const KivMox::Tree& tree, std::uint32_t id) {
  return KivMox::NodeAs<KivMox::Geometry>(tree.GetNode(id));
}
inline Names ChildNames(const KivMox::Tree& tree, std::uint32_t id) {
  Names names;
  for (std::uint32_t c : Children(tree, id)) names.push_back(tree.GetNode(c)->name);
  return names;
}
inline Names GroupNames(const KivMox::ViewPoints& views) {
  Names names;
  for (const auto& group : views.groups) names.push_back(group.name);
  return names;
}
// The arrays of every geometry, a line each: "<id>: <name>@<seed> ..." where the values
// are Distinct(seed) bit for bit ("@?" otherwise, "@-" when there are none) and
// "<name>-><node>:<index>" for a linked array; the tag separator shows as '|'.
inline std::string Arrays(const KivMox::Tree& tree) {
  std::ostringstream out;
  for (const auto& [id, entry] : tree.Entries()) {
    const auto* geometry = KivMox::NodeAs<KivMox::Geometry>(entry.data);
    if (!geometry) continue;
    out << id << ":";
    for (const auto& a : geometry->arrays) {
      std::string name = a.name;
      std::replace(name.begin(), name.end(), kSep[0], '|');
      out << " " << name;
      const auto v = FloatsOf(a.data);
      if (a.linked)
        out << "->" << a.linkNode << ":" << a.linkIndex;
      else if (v.empty())
        out << "@-";
      else if (v.size() >= 7 && BytesOf(a.data) == DistinctBytes(v[3], v.size()))
        out << "@" << v[3];
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
// The names of the entries of a directory, sorted.
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

// Runs one of the merge operations in this process; returns its status and what it
// printed on std::cerr.
template <class F>
std::pair<int, std::string> InProcess(F&& merge) {
  std::ostringstream err;
  std::streambuf* before = std::cerr.rdbuf(err.rdbuf());
  const int status = merge();
  std::cerr.rdbuf(before);
  return {status, err.str()};
}

// A container written through the container layer, for records that no sound writer
// produces: with the current header, or with version "0.6" (32-bit light positions).
class RawMox {
 public:
  explicit RawMox(const std::string& path, bool v06 = false) {
    file_.OpenFile(path, "wb+");
    if (!v06) {
      file_.WriteHeader();
    } else {
      std::fwrite(KivRkf::kMagic, 1, 8, file_.Stream());
      std::fwrite("0.6", 1, 4, file_.Stream());
    }
  }
  KivRkf::Index& Ix() { return file_.GetIndex(); }
  template <class... T>
  void Put(const char* section, const T&... values) {
    (Ix().Put(section, values), ...);
  }
  // A tree record header whose light position is given.
  void Header(std::uint32_t id, std::uint32_t parent, std::uint32_t next, const std::string& type,
              const std::string& version, std::uint32_t light) {
    for (std::uint32_t v : {id, parent, 0u, next, 0u, 0u}) Put(KivMox::kMoxTree, v);
    Put(KivMox::kMoxTree, "node " + std::to_string(id), type, version, light);
  }
  std::uint32_t LightSize() { return static_cast<std::uint32_t>(Ix().GetSize(KivMox::kLightData)); }
  void Finish() {
    Ix().WriteAllBuffersToFileStream(file_.Stream());
    file_.CloseFile();
  }

 private:
  KivRkf::RkFile file_;
};

}  // namespace AppTest
