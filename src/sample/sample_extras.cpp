// Save history and view points of the sample model (sample_extras.hpp).
#include "sample/sample_extras.hpp"

#include <string>

#include "kiv/rkf/block.hpp"
#include "sample/sample_random.hpp"

namespace MoxSample {

namespace {

// Weekday and date texts of real days, so the times read like those a save writes.
constexpr const char* kEarlierTimes[] = {
    "Tue Jan 10 08:31:12 2017 UTC",
    "Wed Feb 15 14:02:45 2017 UTC",
    "Mon Mar 06 09:15:00 2017 UTC",
    "Fri Apr 21 17:48:30 2017 UTC",
};

KivMox::GlobalInfoRecord EarlierSave(const char* application, const char* version,
                                     const char* format, SampleRandom& random) {
  KivMox::GlobalInfoRecord record;
  record.applicationName = application;
  record.applicationVersion = version;
  record.formatVersion = format;
  record.saveTime = kEarlierTimes[random.Below(std::size(kEarlierTimes))];
  record.computerName = "WS-ANALYSIS-" + std::to_string(random.Between(1, 40));
  record.userName = random.Below(2) ? "analyst" : "engineer";
  return record;
}

// The nested view point record: camera position, target and up vector, then the name of
// the view it was captured from.
KivMox::RawFrame CameraFrame(const std::string& name, SampleRandom& random) {
  KivRkf::Block block;
  for (int i = 0; i < 3; ++i) block.Put(random.RangeF(-500.0f, 500.0f));
  for (int i = 0; i < 3; ++i) block.Put(random.RangeF(-50.0f, 50.0f));
  for (float up : {0.0f, 0.0f, 1.0f}) block.Put(up);
  block.Put(name);
  return KivMox::RawFrame::WithPayload(
      "0.5", std::vector<std::uint8_t>(block.Data(), block.Data() + block.Size()));
}

KivMox::ViewPointEntry SampleEntry(const std::string& name, SampleRandom& random) {
  KivMox::ViewPointEntry entry;
  entry.name = name;
  for (auto& v : entry.valuesA) v = random.Between(0, 1000);
  for (auto& v : entry.valuesB) v = random.Between(0, 255);
  for (auto& v : entry.valuesC) v = random.Between(0, 1000);
  entry.fieldOfView = random.RangeF(0.5f, 1.1f);
  entry.aspect = random.Below(2) ? 0.75f : 0.5625f;
  entry.matrix = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
  for (int i = 12; i < 15; ++i) entry.matrix[i] = random.RangeF(-200.0f, 200.0f);
  entry.nearValue = random.RangeF(0.1f, 2.0f);
  entry.farValue = random.RangeF(500.0f, 5000.0f);
  for (auto& v : entry.valuesD) v = random.Between(0, 10);
  for (auto& v : entry.valuesE) v = random.Between(0, 10);
  entry.viewPoint = CameraFrame(name, random);
  return entry;
}

void FillSampleActions(KivMox::ActionCollection& actions, const KivMox::ViewPoints& views,
                       SampleRandom& random) {
  auto rotate = std::make_unique<KivMox::RotateAction>();
  rotate->vector = {0, 0, 1};
  rotate->amount = random.RangeF(10.0f, 90.0f);
  auto move = std::make_unique<KivMox::MoveAction>();
  move->vector = {random.RangeF(-1, 1), random.RangeF(-1, 1), 0};
  move->amount = random.RangeF(5.0f, 50.0f);
  auto transform = std::make_unique<KivMox::TransformAction>();
  transform->translation = {random.RangeF(-20, 20), random.RangeF(-20, 20), 0};
  transform->rotation = {0, 0, 1, random.RangeF(0.0f, 3.14f)};
  auto color = std::make_unique<KivMox::ApplyColorAction>();
  for (int i = 0; i < 4; ++i) color->values.push_back(random.Between(0, 0xFFFFFF));
  auto apply = std::make_unique<KivMox::ApplyViewPointAction>();
  apply->text = views.groups.empty() ? views.current.name : views.groups[0].entries[0].name;
  auto audio = std::make_unique<KivMox::PlayAudioAction>();
  audio->text = "chime.wav";
  actions.actions.push_back(std::move(rotate));
  actions.actions.push_back(std::move(move));
  actions.actions.push_back(std::move(transform));
  actions.actions.push_back(std::move(color));
  actions.actions.push_back(std::move(apply));
  actions.actions.push_back(std::move(audio));
  for (const auto& group : views.groups) {
    KivMox::ActionEntry entry;
    entry.first = group.name;
    entry.second = group.entries.back().name;
    entry.bytes = {1, 0, static_cast<std::uint8_t>(random.Below(2))};
    entry.values = {0, 1, 2};
    entry.state.third = random.Between(100, 2000);
    entry.state.fourth = 1;
    actions.entries.push_back(std::move(entry));
  }
  auto& tour = actions.keyedTriples["Tour"];
  for (std::uint32_t i = 0; i < 3; ++i) tour.push_back({{i, random.Between(0, 5), 500 * (i + 1)}});
  actions.text = "Sample tour";
}

}  // namespace

std::vector<KivMox::GlobalInfoRecord> SampleHistory(SampleRandom& random) {
  std::vector<KivMox::GlobalInfoRecord> history;
  history.push_back(EarlierSave("ModelPrep", "4.2.1", "1.2", random));
  if (random.Below(2)) history.push_back(EarlierSave("MoxMerge", "2017 R1", "1.3", random));
  return history;
}

void FillSampleViewPoints(KivMox::ViewPoints& views, std::uint32_t groups, SampleRandom& random) {
  views.current = SampleEntry("Home", random);
  for (std::uint32_t g = 0; g < groups; ++g) {
    KivMox::ViewPointGroup group;
    group.name = g == 0 ? "Overview" : "Details " + std::to_string(g);
    const std::uint32_t entries = random.Between(2, 4);
    for (std::uint32_t e = 0; e < entries; ++e)
      group.entries.push_back(SampleEntry(group.name + " View " + std::to_string(e + 1), random));
    views.groups.push_back(std::move(group));
  }
  FillSampleActions(views.actions, views, random);
  views.present = true;
}

}  // namespace MoxSample
