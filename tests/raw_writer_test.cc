#include "output/raw_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "analysis/filter.h"
#include "scratch_dir.h"
#include "wav/wav_header.h"

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

TEST(ConvertFrames, FullScaleIntegersAtTheReferenceScaleAndTheByteOrder) {
  // The reference of a run whose biggest gain is 1.0: scale 32768 / 1.1.
  const double scale = 1.0 * 32768 / (1.0 * 1.1);
  std::int16_t out[4];
  EXPECT_EQ(convert_frames(int_frames({2147483647, -2147483647 - 1}).data(), 1, 0, scale, out), 0);
  EXPECT_EQ(out[0], 29789);
  EXPECT_EQ(out[1], -29790);

  // The writer writes the block as it stands in memory.
  EXPECT_EQ(convert_frames(float_frames({-2.0f, 32700.0f, -32700.0f, 5.0f}).data(), 2, 1, 1.0, out), 2);
  bytes written(8);
  std::memcpy(written.data(), out, 8);
  EXPECT_EQ(written, (bytes{0xFE, 0xFF, 0xBC, 0x7F, 0x44, 0x80, 0x05, 0x00}));
}

// The header pass trusts each file's length; a file that then loses its tail
// ends the run, and leaves no output, at the capture and at the writer alike.
TEST(ShrinkingInput, EndsTheRunWithoutAnOutput) {
  scratch_dir dir;
  for (bool at_capture : {true, false}) {
    const std::string path = dir.put("gone.32b.wav", wav_bytes({.data = bytes(50000 * 8, 1)}));
    track_slot slot;
    ASSERT_TRUE(init_track(slot.t));
    header_info info;
    ASSERT_EQ(read_wav_header(slot, path.c_str(), info), STATUS_OK);
    slot.output_name = dir / "gone.raw";
    std::filesystem::resize_file(utf8_path(path), 44 + 8 * 30000);
    testing::internal::CaptureStdout();
    EXPECT_EQ(at_capture ? capture_pass(&slot, 1, 50000) : output_pass(&slot, 1, alignment{}, 50000),
              STATUS_CANNOT_OPEN);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot read this file : " + path + ".\r\n");
    std::fclose(slot.file);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1);
  }
}

}  // namespace
