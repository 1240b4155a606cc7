// Container layer benchmarks: typed values put one by one into a block, a whole vector
// put at once, and a large stream of smooth float data written through the index in zlib
// blocks to a file and read back, against libdeflate level 6 on the same bytes alone.
//
// MOX_BENCH_MIB sets the stream size in MiB (default 1024); MOX_BENCH_DIR the directory
// of the scratch container (default: the system temporary directory).
#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "kiv/rkf/rkfile.hpp"

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
// The index closes a stream's block at 200 MiB; the direct runs use the same chunks.
constexpr std::uint64_t kBlockBytes = 200 * kMiB;
// Writers put arrays of this size, so a block holds a whole number of them.
constexpr std::uint32_t kPutBytes = 1 * kMiB;
constexpr const char* kStreamName = "Heavy Data";

std::uint64_t StreamBytes() {
  const char* mib = std::getenv("MOX_BENCH_MIB");
  std::uint64_t n = mib ? std::strtoull(mib, nullptr, 10) : 1024;
  return (n ? n : 1) * kMiB;
}

// A scalar field sampled on a 3-D grid, as a solver writes it: smooth in every direction,
// built from sums of sines, so it compresses like real results and not like zeros or noise.
std::vector<float> MakeField(std::uint64_t count) {
  constexpr std::uint32_t nx = 256, ny = 256;
  const std::uint64_t nz = (count + nx * ny - 1) / (nx * ny);
  std::vector<float> ax(nx), bx(nx), ay(ny), by(ny), cz(nz), wave(nx + ny + nz);
  for (std::uint32_t i = 0; i < nx; ++i) {
    ax[i] = 12.0f * std::sin(0.031f * i);
    bx[i] = 0.7f + 0.3f * std::cos(0.043f * i);
  }
  for (std::uint32_t j = 0; j < ny; ++j) {
    ay[j] = 5.0f * std::cos(0.017f * j + 0.4f);
    by[j] = std::sin(0.021f * j) + 1.5f;
  }
  for (std::uint64_t k = 0; k < nz; ++k) cz[k] = 20.0f + 8.0f * std::sin(0.0123f * float(k));
  for (std::size_t t = 0; t < wave.size(); ++t) wave[t] = 0.25f * std::sin(0.05f * float(t));
  std::vector<float> field(count);
  std::uint64_t n = 0;
  for (std::uint64_t k = 0; k < nz && n < count; ++k)
    for (std::uint32_t j = 0; j < ny && n < count; ++j)
      for (std::uint32_t i = 0; i < nx && n < count; ++i)
        field[n++] = cz[k] * by[j] + ax[i] * bx[i] * ay[j] + wave[i + j + k];
  return field;
}

const std::vector<float>& Field() {
  static const std::vector<float> field = MakeField(StreamBytes() / sizeof(float));
  return field;
}

const std::uint8_t* FieldBytes() {
  return reinterpret_cast<const std::uint8_t*>(Field().data());
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// CPU time of the process (every thread, the writer's second thread included): on a shared
// machine the fairer measure of the work done.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Throughputs of the last runs (wall clock and process CPU time), for the comparison line.
double gDirectBytesPerSecond = 0;
double gIndexBytesPerSecond = 0;
double gDirectCpuSeconds = 0;
double gIndexCpuSeconds = 0;

// The block is reused from run to run (position back to 0), so the figures are those of
// the put path and not of the page faults of a fresh buffer.
void BM_BlockPutUint32(benchmark::State& state) {
  const std::uint32_t count = static_cast<std::uint32_t>(state.range(0));
  KivRkf::Block block;
  for (auto _ : state) {
    block.SetPosition(0u);
    for (std::uint32_t i = 0; i < count; ++i) block.Put(i);
    benchmark::DoNotOptimize(block.Data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * count);
}
BENCHMARK(BM_BlockPutUint32)->Arg(1 << 24)->Unit(benchmark::kMillisecond);

void BM_BlockPutVector(benchmark::State& state) {
  const std::vector<std::uint32_t> values(static_cast<std::size_t>(state.range(0)), 7u);
  KivRkf::Block block;
  for (auto _ : state) {
    block.SetPosition(0u);
    block.Put(values);
    benchmark::DoNotOptimize(block.Data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(values.size() * 4));
}
BENCHMARK(BM_BlockPutVector)->Arg(1 << 24)->Unit(benchmark::kMillisecond);

// libdeflate level 6 compression and decompression of the stream in 200 MiB chunks,
// each checked against its source.
void BM_LibdeflateDirect(benchmark::State& state) {
  const std::uint64_t total = StreamBytes();
  const std::uint8_t* source = FieldBytes();
  libdeflate_compressor* c = libdeflate_alloc_compressor(6);
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  std::vector<std::uint8_t> packed(libdeflate_zlib_compress_bound(c, kBlockBytes));
  std::vector<std::uint8_t> unpacked(kBlockBytes);
  std::uint64_t packedTotal = 0;
  double seconds = 0, compressCpu = 0, decompressCpu = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    packedTotal = 0;
    compressCpu = decompressCpu = 0;
    for (std::uint64_t at = 0; at < total; at += kBlockBytes) {
      const std::size_t n = std::min<std::uint64_t>(kBlockBytes, total - at);
      double cpu = CpuSeconds();
      std::size_t p = libdeflate_zlib_compress(c, source + at, n, packed.data(), packed.size());
      compressCpu += CpuSeconds() - cpu;
      cpu = CpuSeconds();
      std::size_t out = 0;
      const bool same = p != 0 &&
                        libdeflate_zlib_decompress(d, packed.data(), p, unpacked.data(), n, &out) ==
                            LIBDEFLATE_SUCCESS &&
                        out == n && std::memcmp(unpacked.data(), source + at, n) == 0;
      decompressCpu += CpuSeconds() - cpu;
      if (!same) {
        state.SkipWithError("libdeflate round trip failed");
        break;
      }
      packedTotal += p;
    }
    seconds = Seconds(start);
  }
  libdeflate_free_compressor(c);
  libdeflate_free_decompressor(d);
  gDirectBytesPerSecond = double(total) / seconds;
  gDirectCpuSeconds = compressCpu + decompressCpu;
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(total));
  state.counters["ratio_packed"] = double(packedTotal) / double(total);
  state.counters["compress_cpu_s"] = compressCpu;
  state.counters["decompress_cpu_s"] = decompressCpu;
}

// The same stream put through the index in 1 MiB arrays into a streaming zlib stream,
// written to a container file, then read back array by array and checked.
void BM_IndexZlibFile(benchmark::State& state) {
  const std::uint64_t total = StreamBytes();
  const std::uint8_t* source = FieldBytes();
  const char* dirEnv = std::getenv("MOX_BENCH_DIR");
  std::filesystem::path dir = dirEnv ? dirEnv : std::filesystem::temp_directory_path();
  const std::string path = (dir / ("rkf_bench_" + std::to_string(getpid()) + ".rkf")).string();
  std::vector<std::uint8_t> back(kPutBytes);
  double writeSeconds = 0, readSeconds = 0, writeCpu = 0, readCpu = 0;
  std::uint64_t fileBytes = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    double cpu = CpuSeconds();
    {
      KivRkf::RkFile file;
      file.OpenFile(path, "wb+");
      file.WriteHeader();
      KivRkf::IndexWriter& index = file.Writer();
      for (std::uint64_t at = 0; at < total; at += kPutBytes) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kPutBytes, total - at));
        index.Put(kStreamName, source + at, n);
        file.SetBlockFlags(kStreamName, KivRkf::kFlagZlib | KivRkf::kFlagStreaming);
        index.FlushFrozen(file.Stream());
      }
      index.WriteAllBuffersToFileStream(file.Stream());
      file.CloseFile();
    }
    writeSeconds = Seconds(start);
    writeCpu = CpuSeconds() - cpu;
    fileBytes = std::filesystem::file_size(path);
    start = std::chrono::steady_clock::now();
    cpu = CpuSeconds();
    bool same = true;
    {
      KivRkf::RkFile file;
      file.OpenFile(path, "rb");
      file.ReadIndex();
      KivRkf::IndexReader& index = file.Reader();
      for (std::uint64_t at = 0; at < total && same; at += kPutBytes) {
        const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(kPutBytes, total - at));
        index.Get(kStreamName, back.data(), n);
        same = std::memcmp(back.data(), source + at, n) == 0;
      }
      file.CloseFile();
    }
    readSeconds = Seconds(start);
    readCpu = CpuSeconds() - cpu;
    if (!same) state.SkipWithError("the stream read back differs from what was written");
  }
  std::filesystem::remove(path);
  gIndexBytesPerSecond = double(total) / (writeSeconds + readSeconds);
  gIndexCpuSeconds = writeCpu + readCpu;
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(total));
  state.counters["write_s"] = writeSeconds;
  state.counters["read_s"] = readSeconds;
  state.counters["write_cpu_s"] = writeCpu;
  state.counters["read_cpu_s"] = readCpu;
  state.counters["ratio_packed"] = double(fileBytes) / double(total);
  if (gDirectBytesPerSecond > 0) {
    state.counters["vs_libdeflate"] = gIndexBytesPerSecond / gDirectBytesPerSecond;
    state.counters["vs_libdeflate_cpu"] = gDirectCpuSeconds / gIndexCpuSeconds;
  }
}

BENCHMARK(BM_LibdeflateDirect)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_IndexZlibFile)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (gDirectBytesPerSecond > 0 && gIndexBytesPerSecond > 0) {
    const double mib = double(StreamBytes()) / kMiB;
    std::printf(
        "stream of %.0f MiB: libdeflate alone %.1f MiB/s, through the index and a file %.1f "
        "MiB/s, ratio %.3f (wall clock)\n",
        mib, gDirectBytesPerSecond / kMiB, gIndexBytesPerSecond / kMiB,
        gIndexBytesPerSecond / gDirectBytesPerSecond);
    std::printf(
        "stream of %.0f MiB: libdeflate alone %.1f MiB/s, through the index and a file %.1f "
        "MiB/s, ratio %.3f (process CPU time)\n",
        mib, mib / gDirectCpuSeconds, mib / gIndexCpuSeconds, gDirectCpuSeconds / gIndexCpuSeconds);
  }
  return 0;
}
