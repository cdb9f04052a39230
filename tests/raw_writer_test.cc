#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "analysis/analysis.h"
#include "output/output.h"
#include "scratch_dir.h"

namespace {

TEST(ConvertSample, RoundsDownAndCountsAndHoldsClippedValues) {
  const float inf = std::numeric_limits<float>::infinity();
  struct row {
    float product;
    int written;
    int counted;
  };
  const row rows[] = {
      {0.999f, 0, 0},         {-0.001f, -1, 0},       {32500.9f, 32500, 0},   {32501.0f, 32501, 1},
      {32700.9f, 32700, 1},   {40000.0f, 32700, 1},   {-32500.0f, -32500, 0}, {-32500.5f, -32501, 1},
      {-32700.5f, -32700, 1}, {-99999.0f, -32700, 1}, {-1e6f, -32700, 1},     {3e38f, 32700, 1},
      {-3e38f, -32700, 1},    {inf, 32700, 1},        {-inf, -32700, 1},      {std::nanf(""), 0, 0},
  };
  for (const row& r : rows) {
    int clips = 0;
    EXPECT_EQ(convert_sample(r.product, 1.0, clips), r.written) << r.product;
    EXPECT_EQ(clips, r.counted) << r.product;
  }
}

TEST(ConvertFrames, FullScaleIntegersAtTheReferenceScaleAndFloatsAsTheyStand) {
  // The reference of a run whose biggest gain is 1.0: scale 32768 / 1.1.
  const double scale = 1.0 * 32768 / (1.0 * 1.1);
  for (bool native : {true, false}) {
    std::int16_t out[6] = {7, 7, 7, 7, 7, 7};
    EXPECT_EQ(convert_frames(int_frames({2147483647, -2147483647 - 1, 0, -65536}).data(), 2, 0, scale, out, native), 0);
    EXPECT_EQ(std::vector<std::int16_t>(out, out + 5), (std::vector<std::int16_t>{29789, -29790, 0, -1, 7}));
    // Float samples as they stand, counted when they clip.
    EXPECT_EQ(convert_frames(float_frames({-2.0f, 32700.0f, -32700.0f, 5.0f}).data(), 2, 1, 1.0, out, native), 2);
    EXPECT_EQ(std::vector<std::int16_t>(out, out + 4), (std::vector<std::int16_t>{-2, 32700, -32700, 5}));
  }
}

// The header pass trusts each file's length; a file that then loses its tail
// ends the run, and leaves no output, at the capture and at the writer alike.
TEST(OutputPass, AShrinkingInputEndsTheRunWithoutAnOutput) {
  scratch_dir dir;
  for (bool at_capture : {true, false}) {
    track_slot slot;
    ASSERT_EQ(open_track(dir, "gone.wav", wav_bytes({.data = bytes(50000 * 8, 1)}), slot), STATUS_OK);
    const std::string path = dir / "gone.wav";
    std::filesystem::resize_file(utf8_path(path), 44 + 8 * 30000);
    testing::internal::CaptureStdout();
    EXPECT_EQ(at_capture ? capture_pass(&slot, 1, 50000) : output_pass(&slot, 1, {.input_wav_length = 50000}),
              STATUS_INPUT_UNREADABLE);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot read this file : " + path + ".\r\n");
    std::fclose(slot.file);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);
  }
}

}  // namespace
