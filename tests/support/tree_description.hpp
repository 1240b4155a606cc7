// A canonical text of everything a saved and reloaded tree must keep: every entry with
// its six links, every field of every node (floats as bit patterns, array values as a
// hash of their bytes) and the view points. Left out: the save history and the container
// version (a save changes both) and the positions of runs in the file.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <type_traits>

#include "kiv/mox/actions.hpp"
#include "kiv/mox/future_node.hpp"
#include "kiv/mox/geometry.hpp"
#include "kiv/mox/group.hpp"
#include "kiv/mox/nodesets.hpp"
#include "kiv/mox/shape.hpp"
#include "kiv/mox/tree.hpp"

namespace FuzzDescription {

class Writer {
 public:
  std::string Text() const { return out_.str(); }

  Writer& Key(const char* key) {
    out_ << ' ' << key << '=';
    return *this;
  }
  Writer& Bytes(const std::string& s) {
    out_ << s.size() << ':';
    for (unsigned char c : s) Hex(c, 2);
    return *this;
  }
  Writer& Hash(const std::uint8_t* p, std::uint64_t n) {
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint64_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    Hex(h, 16);
    return *this;
  }
  template <class T>
  Writer& Num(T v) {
    if constexpr (std::is_same_v<T, float>) {
      std::uint32_t bits;
      std::memcpy(&bits, &v, 4);
      Hex(bits, 8);
    } else {
      out_ << static_cast<std::uint64_t>(v);
    }
    return *this;
  }
  template <class A>
  Writer& Nums(const A& values) {
    out_ << '(';
    for (const auto& v : values) Num(v).out_ << ',';
    out_ << ')';
    return *this;
  }
  Writer& Line() {
    out_ << '\n';
    return *this;
  }

 private:
  template <class T>
  void Hex(T v, int digits) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%0*llx", digits, static_cast<unsigned long long>(v));
    out_ << buf;
  }
  std::ostringstream out_;
};

inline void Attributes(Writer& w, const KivMox::AttributeMap& map) {
  w.Key("attributes").Num(map.size());
  for (const auto& [name, a] : map) {
    w.Key("attr").Bytes(name).Key("type").Num(static_cast<std::int32_t>(a.type) & 0xFF);
    switch (a.type) {
      case KivMox::AttributeType::Int32:
        w.Num(static_cast<std::uint32_t>(a.int32));
        break;
      case KivMox::AttributeType::Float32:
        w.Num(a.float32);
        break;
      case KivMox::AttributeType::Text:
        w.Bytes(a.text);
        break;
      case KivMox::AttributeType::Value64:
        w.Num(a.value64);
        break;
    }
  }
}

inline void Array(Writer& w, const KivMox::GeometryArray& a) {
  // A linked array's vibration flag is recomputed on reading from its attribute map, which
  // the reader empties for linked arrays: it is not carried through a save, so it is left
  // out of the description.
  w.Line().Key("array").Bytes(a.name).Key("kind").Num(a.kind);
  if (!a.linked) w.Key("vibration").Num(a.vibration);
  Attributes(w, a.attributes);
  w.Key("subKind").Num(a.data.subKind).Key("linked").Num(a.linked);
  if (a.linked) {
    w.Key("link").Num(a.linkNode).Key("/").Num(a.linkIndex);
    return;
  }
  const KivMox::NumericArray& d = a.data;
  w.Key("bytes").Num(d.byteSize).Key("components").Num(d.componentCount);
  w.Key("tags").Nums(std::array<std::uint32_t, 5>{d.tagA, d.tagB, d.paramA, d.paramB, d.tagC});
  w.Key("values");
  if (d.HasBytes())
    w.Hash(d.Bytes(), d.byteSize);
  else
    w.Bytes("none");
}

inline void Node(Writer& w, const KivMox::Node& node) {
  const std::string type = node.GetTypeName();
  w.Key("type").Bytes(type).Key("version").Bytes(node.GetVersion()).Key("name").Bytes(node.name);
  if (type == "Group") {
    const auto& g = static_cast<const KivMox::Group&>(node);
    w.Key("t").Nums(g.translation).Key("r").Nums(g.rotation).Key("s").Nums(g.scale);
    w.Key("mergeRoot").Num(g.mergeRoot);
    Attributes(w, g.attributes);
  } else if (type == "Shape") {
    const auto& m = static_cast<const KivMox::Shape&>(node).material;
    w.Key("a").Nums(m.colorA).Key("b").Nums(m.colorB).Key("c").Nums(m.colorC);
    w.Key("d").Nums(m.colorD).Key("e").Num(m.valueE).Key("f").Num(m.valueF);
    w.Key("g").Num(m.flagG);
  } else if (type == "Geometry") {
    for (const auto& a : static_cast<const KivMox::Geometry&>(node).arrays) Array(w, a);
  } else if (type == "NodeSets") {
    for (const auto& set : static_cast<const KivMox::NodeSets&>(node).sets) {
      w.Line().Key("set").Bytes(set.name).Key("members").Num(set.members.size()).Key("hash");
      w.Hash(reinterpret_cast<const std::uint8_t*>(set.members.data()),
             set.members.size() * sizeof(set.members[0]));
    }
  }
}

inline void ViewEntry(Writer& w, const KivMox::ViewPointEntry& e) {
  // An empty name is stored as a string of length 0, which reads as the default name of
  // a new entry: both describe alike.
  w.Line().Key("view").Bytes(e.name.empty() ? std::string("no name") : e.name);
  w.Key("flag").Num(e.flag).Key("a").Nums(e.valuesA);
  w.Key("b").Nums(e.valuesB).Key("c").Nums(e.valuesC).Key("fov").Num(e.fieldOfView);
  w.Key("aspect").Num(e.aspect).Key("m").Nums(e.matrix).Key("near").Num(e.nearValue);
  w.Key("far").Num(e.farValue).Key("d").Nums(e.valuesD).Key("e").Nums(e.valuesE);
  w.Key("frame").Hash(e.viewPoint.bytes.data(), e.viewPoint.bytes.size());
}

inline void Action(Writer& w, const KivMox::BasicAction& action) {
  const std::uint16_t code = action.GetTypeCode();
  w.Line().Key("action").Num(code);
  using namespace KivMox;
  if (const auto* a = dynamic_cast<const RotateAction*>(&action))
    w.Nums(a->vector).Num(a->amount);
  else if (const auto* a = dynamic_cast<const MoveAction*>(&action))
    w.Nums(a->vector).Num(a->amount);
  else if (const auto* a = dynamic_cast<const TransformAction*>(&action))
    w.Nums(a->translation).Nums(a->rotation);
  else if (const auto* a = dynamic_cast<const ApplyColorAction*>(&action))
    w.Nums(a->values);
  else if (const auto* a = dynamic_cast<const ApplyViewPointAction*>(&action))
    w.Bytes(a->text);
  else if (const auto* a = dynamic_cast<const PlayAudioAction*>(&action))
    w.Bytes(a->text);
}

inline void Views(Writer& w, const KivMox::ViewPoints& views) {
  w.Line().Key("viewPoints").Num(views.present);
  if (!views.present) return;
  ViewEntry(w, views.current);
  for (const auto& group : views.groups) {
    w.Line().Key("group").Bytes(group.name).Key("entries").Num(group.entries.size());
    for (const auto& e : group.entries) ViewEntry(w, e);
  }
  const KivMox::ActionCollection& c = views.actions;
  w.Line().Key("text").Bytes(c.text).Key("entries").Num(c.entries.size());
  for (const auto& e : c.entries) {
    w.Line().Key("entry").Bytes(e.first).Bytes(e.second).Nums(e.bytes).Nums(e.values);
    w.Nums(e.state.first).Nums(e.state.second).Num(e.state.third).Num(e.state.fourth);
    w.Num(e.state.fifth);
  }
  for (const auto& [key, triples] : c.keyedTriples) {
    w.Line().Key("key").Bytes(key);
    for (const auto& t : triples) w.Nums(t.values);
  }
  for (const auto& action : c.actions)
    if (action) Action(w, *action);
}

inline std::string DescribeTree(const KivMox::Tree& tree) {
  Writer w;
  for (const auto& [id, entry] : tree.Entries()) {
    w.Line().Key("entry").Num(id).Key("links");
    w.Nums(std::array<std::uint32_t, 6>{entry.id, entry.parentId, entry.prevSiblingId,
                                        entry.nextSiblingId, entry.firstChildId,
                                        entry.lastChildId});
    if (entry.data) Node(w, *entry.data);
  }
  Views(w, tree.views);
  return w.Text();
}

}  // namespace FuzzDescription
