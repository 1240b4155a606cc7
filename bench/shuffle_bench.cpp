// Heavy value encoding: byte-plane shuffling of a 256 MiB array of smooth floats with one
// component (scalars) and three components (vectors), encoded and decoded between two
// buffers, reported as bytes per second of array data.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "kiv/mox/component_codec.hpp"

namespace {

constexpr std::uint64_t kBytes = 256ull * 1024 * 1024;

// Smooth values as a solver writes them: neighbouring values close to each other, a
// vector field's three components interleaved.
std::unique_ptr<std::uint8_t[]> MakeSmoothFloats() {
  auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kBytes);
  const std::uint64_t n = kBytes / 4;
  for (std::uint64_t i = 0; i < n; ++i) {
    float v = 100.0f + 20.0f * std::sin(0.0007f * float(i % 100003)) + 0.001f * float(i % 7);
    std::memcpy(bytes.get() + 4 * i, &v, 4);
  }
  return bytes;
}

const std::uint8_t* Values() {
  static std::unique_ptr<std::uint8_t[]> values = MakeSmoothFloats();
  return values.get();
}

void Run(benchmark::State& state, bool encode) {
  const auto components = static_cast<std::uint8_t>(state.range(0));
  const std::uint8_t* values = Values();
  auto in = std::make_unique_for_overwrite<std::uint8_t[]>(kBytes);
  auto out = std::make_unique_for_overwrite<std::uint8_t[]>(kBytes);
  if (encode)
    std::memcpy(in.get(), values, kBytes);
  else
    KivMox::EncodeComponents(values, in.get(), kBytes, components);
  std::memset(out.get(), 0, kBytes);  // no page faults inside the timed loop
  for (auto _ : state) {
    if (encode)
      KivMox::EncodeComponents(in.get(), out.get(), kBytes, components);
    else
      KivMox::DecodeComponents(in.get(), out.get(), kBytes, components);
    benchmark::DoNotOptimize(out.get());
    benchmark::ClobberMemory();
  }
  if (!encode && std::memcmp(out.get(), values, kBytes) != 0)
    state.SkipWithError("decoding did not restore the values");
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kBytes));
}

void BM_Encode(benchmark::State& state) {
  Run(state, true);
}
void BM_Decode(benchmark::State& state) {
  Run(state, false);
}

BENCHMARK(BM_Encode)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Decode)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
