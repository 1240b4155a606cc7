// Comparison of view points (view_compare.hpp).
#include "diff/view_compare.hpp"

#include <algorithm>

#include "kiv/util/display_text.hpp"

namespace MoxDiff {

namespace {

// "version 0.5, 16 bytes", then the first byte within both frames where they differ, if
// any: ", byte 15 is 5".
std::string FrameText(const KivMox::RawFrame& frame, const KivMox::RawFrame& other) {
  std::string text =
      "version " + frame.Version() + ", " + std::to_string(frame.bytes.size()) + " bytes";
  const std::size_t n = std::min(frame.bytes.size(), other.bytes.size());
  const auto at = static_cast<std::size_t>(
      std::mismatch(frame.bytes.begin(), frame.bytes.begin() + n, other.bytes.begin()).first -
      frame.bytes.begin());
  if (at < n) text += ", byte " + std::to_string(at) + " is " + std::to_string(frame.bytes[at]);
  return text;
}

void CompareEntries(const KivMox::ViewPointEntry& a, const KivMox::ViewPointEntry& b,
                    const std::string& p, bool versions, Fields& f) {
  if (versions) f.Text(p + "record version", a.storedVersion, b.storedVersion);
  f.Integer(p + "flag", a.flag, b.flag);
  f.Text(p + "name", a.name, b.name);
  f.Integers(p + "valuesA", a.valuesA, b.valuesA);
  f.Integers(p + "valuesB", a.valuesB, b.valuesB);
  f.Integers(p + "valuesC", a.valuesC, b.valuesC);
  f.Float(p + "fieldOfView", a.fieldOfView, b.fieldOfView);
  f.Float(p + "aspect", a.aspect, b.aspect);
  f.Floats(p + "matrix", a.matrix, b.matrix);
  f.Float(p + "near", a.nearValue, b.nearValue);
  f.Float(p + "far", a.farValue, b.farValue);
  f.Integers(p + "valuesD", a.valuesD, b.valuesD);
  f.Integers(p + "valuesE", a.valuesE, b.valuesE);
  if (!(a.viewPoint == b.viewPoint))
    f.Add(p + "view point record", FrameText(a.viewPoint, b.viewPoint),
          FrameText(b.viewPoint, a.viewPoint));
}

// "(1, 2, 3)", at most shown values and the count of the others.
template <class Values>
std::string ListText(const Values& values, std::size_t shown = 8) {
  std::string text = "(";
  for (std::size_t i = 0; i < values.size() && i < shown; ++i)
    text += (i ? ", " : "") + std::to_string(values[i]);
  if (values.size() > shown) text += ", ... " + std::to_string(values.size()) + " in all";
  return text + ")";
}

std::string EntryText(const KivMox::ActionEntry& e) {
  const auto& s = e.state;
  return Kiv::Util::Quoted(e.first) + " " + Kiv::Util::Quoted(e.second) + " bytes (" +
         std::to_string(e.bytes[0]) + ", " + std::to_string(e.bytes[1]) + ", " +
         std::to_string(e.bytes[2]) + ") values " + ListText(e.values) + " state " +
         ListText(s.first, s.first.size()) + " " + ListText(s.second, s.second.size()) + " " +
         std::to_string(s.third) + "/" + std::to_string(s.fourth) + "/" + std::to_string(s.fifth);
}

template <class T>
const T* As(const KivMox::BasicAction& action) {
  return dynamic_cast<const T*>(&action);
}

void CompareActions(const KivMox::BasicAction& a, const KivMox::BasicAction& b,
                    const std::string& p, Fields& f) {
  f.Integer(p + "type", a.GetTypeCode(), b.GetTypeCode());
  if (a.GetTypeCode() != b.GetTypeCode()) return;
  using namespace KivMox;
  if (const auto* x = As<RotateAction>(a), *y = As<RotateAction>(b); x && y) {
    f.Floats(p + "vector", x->vector, y->vector);
    f.Float(p + "amount", x->amount, y->amount);
  } else if (const auto* x = As<MoveAction>(a), *y = As<MoveAction>(b); x && y) {
    f.Floats(p + "vector", x->vector, y->vector);
    f.Float(p + "amount", x->amount, y->amount);
  } else if (const auto* x = As<TransformAction>(a), *y = As<TransformAction>(b); x && y) {
    f.Floats(p + "translation", x->translation, y->translation);
    f.Floats(p + "rotation", x->rotation, y->rotation);
  } else if (const auto* x = As<ApplyColorAction>(a), *y = As<ApplyColorAction>(b); x && y) {
    if (x->values != y->values) f.Add(p + "values", ListText(x->values), ListText(y->values));
  } else if (const auto* x = As<ApplyViewPointAction>(a), *y = As<ApplyViewPointAction>(b);
             x && y) {
    f.Text(p + "text", x->text, y->text);
  } else if (const auto* x = As<PlayAudioAction>(a), *y = As<PlayAudioAction>(b); x && y) {
    f.Text(p + "text", x->text, y->text);
  }
}

void CompareCollections(const KivMox::ActionCollection& a, const KivMox::ActionCollection& b,
                        Fields& f) {
  f.Integer("action count", a.actions.size(), b.actions.size());
  for (std::size_t i = 0; i < std::min(a.actions.size(), b.actions.size()); ++i)
    CompareActions(*a.actions[i], *b.actions[i], "action " + std::to_string(i) + " ", f);
  f.Integer("action entry count", a.entries.size(), b.entries.size());
  for (std::size_t i = 0; i < std::min(a.entries.size(), b.entries.size()); ++i)
    if (!(a.entries[i] == b.entries[i]))
      f.Add("action entry " + std::to_string(i), EntryText(a.entries[i]), EntryText(b.entries[i]));
  if (a.keyedTriples != b.keyedTriples)
    f.Add("action keyed triples", std::to_string(a.keyedTriples.size()) + " keys",
          std::to_string(b.keyedTriples.size()) + " keys, not the same");
  f.Text("action text", a.text, b.text);
}

}  // namespace

void CompareViewPoints(const KivMox::ViewPoints& a, const KivMox::ViewPoints& b, bool versions,
                       Fields& f) {
  if (a.present != b.present) {
    f.Add("present", a.present ? "yes" : "no", b.present ? "yes" : "no");
    return;
  }
  if (!a.present) return;
  CompareEntries(a.current, b.current, "current ", versions, f);
  f.Integer("group count", a.groups.size(), b.groups.size());
  for (std::size_t g = 0; g < std::min(a.groups.size(), b.groups.size()); ++g) {
    const KivMox::ViewPointGroup& x = a.groups[g];
    const KivMox::ViewPointGroup& y = b.groups[g];
    const std::string p = "group " + std::to_string(g) + " ";
    f.Text(p + "name", x.name, y.name);
    f.Integer(p + "entry count", x.entries.size(), y.entries.size());
    for (std::size_t e = 0; e < std::min(x.entries.size(), y.entries.size()); ++e)
      CompareEntries(x.entries[e], y.entries[e], p + "entry " + std::to_string(e) + " ", versions,
                     f);
  }
  CompareCollections(a.actions, b.actions, f);
}

}  // namespace MoxDiff
