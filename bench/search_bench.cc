// The search of one track, fast and plain; the capture of one track and of
// many side by side; the whole-file check of one decode.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "analysis/kernels.h"
#include "plain_search.h"
#include "scratch_dir.h"
#include "signals.h"
#include "wav/wav.h"

namespace {

std::vector<double> analysis_of(std::uint64_t seed, int offset) {
  const std::vector<double> m = music(ANALYSIS_LENGTH + 8000, seed);
  std::vector<double> s(ANALYSIS_LENGTH);
  for (int i = 0; i < ANALYSIS_LENGTH; ++i)
    s[static_cast<std::size_t>(i)] = m[2 * static_cast<std::size_t>(i + offset)];
  return s;
}

// Arguments: lanes, and 1 for the CPU's own instructions or 0 for the generic form.
void BM_search_fast(benchmark::State& state) {
  const std::vector<double> ref = analysis_of(1, 3000);
  const std::vector<double> test = analysis_of(1, 3576);
  const search_kernel k{static_cast<int>(state.range(0)), state.range(1) != 0};
  if (!kernel_runs_here(k)) {
    state.SkipWithError("not on this CPU");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(search_delays_with(ref.data(), test.data(), k));
  state.SetLabel(std::to_string(k.lanes) + (k.native ? " lanes, native" : " lanes, generic"));
}
BENCHMARK(BM_search_fast)->ArgsProduct({{2, 4, 8}, {0, 1}})->Unit(benchmark::kMillisecond);

void BM_search_plain(benchmark::State& state) {
  const std::vector<double> ref = analysis_of(1, 3000);
  const std::vector<double> test = analysis_of(1, 3576);
  for (auto _ : state) benchmark::DoNotOptimize(plain_search(ref.data(), test.data()));
}
BENCHMARK(BM_search_plain)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_capture(benchmark::State& state) {
  scratch_dir dir;
  const std::string path =
      dir.put("capture.wav", wav_bytes({.format_tag = 3, .data = as_float_frames(music(ANALYSIS_FRAMES, 2))}));
  track_slot slot;
  if (!init_track(slot.t)) state.SkipWithError("no memory");
  header_info info;
  if (read_wav_header(slot, path.c_str(), info) != STATUS_OK) state.SkipWithError("header");
  for (auto _ : state) benchmark::DoNotOptimize(capture_analysis(slot, 0));
  std::fclose(slot.file);
}
BENCHMARK(BM_capture)->Unit(benchmark::kMillisecond);

// FILTER_LANES captures side by side, as the whole-file check makes them;
// argument: lanes of the vectors, native.
void BM_capture_lanes(benchmark::State& state) {
  scratch_dir dir;
  track_slot slot;
  if (open_track(dir, "lanes.wav", wav_bytes({.format_tag = 3, .data = as_float_frames(music(2 * ANALYSIS_FRAMES, 2))}),
                 slot) != STATUS_OK)
    state.SkipWithError("header");
  const search_kernel k{static_cast<int>(state.range(0)), state.range(1) != 0};
  if (!kernel_runs_here(k)) state.SkipWithError("not on this CPU");
  std::vector<std::vector<double>> out(FILTER_LANES, std::vector<double>(ANALYSIS_LENGTH));
  std::vector<capture_job> jobs;
  for (int i = 0; i < FILTER_LANES; ++i) jobs.push_back({&slot, 1000 * i, PICK_SUM, false, out[static_cast<std::size_t>(i)].data()});
  int failed = 0;
  for (auto _ : state) benchmark::DoNotOptimize(capture_jobs_with(jobs.data(), FILTER_LANES, failed, k));
  std::fclose(slot.file);
}
BENCHMARK(BM_capture_lanes)->ArgsProduct({{2, 4, 8}, {0, 1}})->Unit(benchmark::kMillisecond);

// The whole-file check of one decode of a 10-minute reference, which
// matches everywhere: 29 places, each two captures and 63 lags scored.
void BM_whole_file_check(benchmark::State& state) {
  constexpr int FRAMES = 10 * 60 * 44100;
  scratch_dir dir;
  const std::vector<double> piece = music(20 * 44100, 10);
  std::vector<double> s(static_cast<std::size_t>(FRAMES) * 2);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = piece[i % piece.size()];
  const bytes wav = wav_bytes({.format_tag = 3, .data = as_float_frames(s)});
  track_slot slots[2];
  for (int i = 0; i < 2; ++i) {
    if (open_track(dir, std::to_string(i) + ".wav", wav, slots[i]) != STATUS_OK) state.SkipWithError("header");
    slots[i].t.measured = true;
  }
  whole_file_result check;
  for (auto _ : state) benchmark::DoNotOptimize(check_whole_files(slots, 2, check));
  for (track_slot& slot : slots) std::fclose(slot.file);
}
BENCHMARK(BM_whole_file_check)->Unit(benchmark::kMillisecond);

}  // namespace
