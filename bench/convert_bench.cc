// Conversion of a three-minute stereo float WAV to 16-bit raw: eqalign's
// writer, and sox doing the same job on the same file when it is installed.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "output/output.h"
#include "scratch_dir.h"
#include "signals.h"
#include "wav/wav.h"

namespace {

constexpr int MINUTES_3 = 3 * 60 * 44100;

// One file for all benchmarks of the run, removed at exit.
const scratch_dir& bench_dir() {
  static const scratch_dir dir;
  static bool made = false;
  if (!made) {
    std::vector<double> m = music(44100, 3);
    std::vector<double> s(static_cast<std::size_t>(MINUTES_3) * 2);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = 0.8 * m[i % m.size()];
    dir.put("three_minutes.wav", wav_bytes({.format_tag = 3, .data = as_float_frames(s)}));
    made = true;
  }
  return dir;
}

constexpr double INPUT_BYTES = static_cast<double>(MINUTES_3) * FRAME_BYTES;

void BM_convert_eqalign(benchmark::State& state) {
  const std::string path = bench_dir() / "three_minutes.wav";
  for (auto _ : state) {
    track_slot slots[1];
    header_info info;
    if (read_wav_header(slots[0], path.c_str(), info) != STATUS_OK) state.SkipWithError("header");
    slots[0].t.gain = 0.9;
    slots[0].output_name = bench_dir() / "three_minutes.raw";
    if (output_pass(slots, 1, {.input_wav_length = MINUTES_3}) != STATUS_OK) state.SkipWithError("write");
  }
  state.counters["input"] = benchmark::Counter(INPUT_BYTES, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_convert_eqalign)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_convert_sox(benchmark::State& state) {
  const std::string in = bench_dir() / "three_minutes.wav";
  const std::string out = bench_dir() / "three_minutes.sox.raw";
  const std::string command = "sox -V1 -D '" + in + "' -t raw -e signed-integer -b 16 '" + out + "' vol 0.8181818";
  if (std::system("command -v sox > /dev/null") != 0) {
    state.SkipWithError("sox is not installed");
    return;
  }
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) state.SkipWithError("sox failed");
  }
  state.counters["input"] = benchmark::Counter(INPUT_BYTES, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_convert_sox)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
