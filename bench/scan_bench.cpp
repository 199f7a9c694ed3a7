// The two searches' inner work on in-memory blocks: frames judged per
// second, mono and stereo, on loud material and on silence.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "detect/LoudScan.h"

namespace {

const corvella::detect::LoudRule kFloor{corvella::wave::SampleType::S16, 104};
constexpr std::size_t kBlockSamples = 65536;  // one read of the scanner

std::vector<std::int16_t> Silence() {
  std::vector<std::int16_t> s(kBlockSamples);
  std::mt19937 random(1);
  for (auto& v : s) v = static_cast<std::int16_t>(static_cast<int>(random() % 201) - 100);
  return s;
}

std::vector<std::int16_t> Music() {
  std::vector<std::int16_t> s(kBlockSamples);
  for (std::size_t i = 0; i < s.size(); ++i) {
    s[i] = static_cast<std::int16_t>(8000 * std::sin(static_cast<double>(i) * 0.0314));
  }
  return s;
}

// Start search over a silent block: every sample is judged.
void StartSearchSilence(benchmark::State& state) {
  const auto block = Silence();
  const int channels = static_cast<int>(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(corvella::detect::FirstLoudSample(block.data(), block.size(), kFloor));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(block.size() / channels));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size() * 2));
  state.SetLabel("frames");
}

// End search over music: stretches of G + 1 frames, each settled by its last
// loud frame. G is 22050 frames, half a second at 44.1 kHz.
void EndSearchMusic(benchmark::State& state) {
  const auto block = Music();
  const int channels = static_cast<int>(state.range(0));
  const std::size_t frames = block.size() / channels;
  const std::size_t gap = 22050;
  for (auto _ : state) {
    std::size_t q = 0;
    while (q < frames) {
      const std::size_t last = std::min(q + gap, frames - 1);
      benchmark::DoNotOptimize(corvella::detect::LastLoudSample(block.data() + q * channels,
                                                                (last - q + 1) * channels, kFloor));
      q = last + 1;
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(frames));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size() * 2));
}

// End search through a long silence inside a part: the whole stretch is judged.
void EndSearchSilence(benchmark::State& state) {
  const auto block = Silence();
  const int channels = static_cast<int>(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(corvella::detect::LastLoudSample(block.data(), block.size(), kFloor));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(block.size() / channels));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(block.size() * 2));
}

// Start search into music: found at once.
void StartSearchMusic(benchmark::State& state) {
  const auto block = Music();
  const int channels = static_cast<int>(state.range(0));
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        corvella::detect::FirstLoudSample(block.data() + 64, block.size() - 64, kFloor));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(block.size() / channels));
}

}  // namespace

BENCHMARK(StartSearchSilence)->ArgName("channels")->Arg(1)->Arg(2);
BENCHMARK(StartSearchMusic)->ArgName("channels")->Arg(1)->Arg(2);
BENCHMARK(EndSearchMusic)->ArgName("channels")->Arg(1)->Arg(2);
BENCHMARK(EndSearchSilence)->ArgName("channels")->Arg(1)->Arg(2);
BENCHMARK_MAIN();
