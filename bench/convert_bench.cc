// Conversion of a three-minute stereo WAV to 16-bit raw: eqalign's writer on
// float and on 32-, 16- and 24-bit integer samples, and sox doing the same job on the float
// file when it is installed. Rates count the input as 32-bit samples, 8 bytes
// a frame, so that every sample size is measured on the same work.
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
    for (int size : {4, 3, 2}) {
      dir.put("three_minutes" + std::to_string(8 * size) + ".wav",
              wav_bytes({.byte_rate = 44100 * 2 * size, .data = as_int_frames(s, size)}));
    }
    made = true;
  }
  return dir;
}

constexpr double INPUT_BYTES = static_cast<double>(MINUTES_3) * FRAME_BYTES;

void BM_convert_eqalign(benchmark::State& state, const char* name) {
  const std::string path = bench_dir() / name;
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
BENCHMARK_CAPTURE(BM_convert_eqalign, float, "three_minutes.wav")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_convert_eqalign, int32, "three_minutes32.wav")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_convert_eqalign, int16, "three_minutes16.wav")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_convert_eqalign, int24, "three_minutes24.wav")->Unit(benchmark::kMillisecond)->UseRealTime();

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
