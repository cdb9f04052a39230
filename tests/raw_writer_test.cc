#include "output/raw_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "scratch_dir.h"
#include "wav/wav_header.h"

namespace {

TEST(OutputName, TheFirstDotThirtyTwoBitWavIsCutAndRawAppended) {
  EXPECT_EQ(output_name("song.32b.wav"), "song.raw");
  EXPECT_EQ(output_name("song.wav"), "song.wav.raw");
  EXPECT_EQ(output_name("a.32b.wav.b.32b.wav"), "a.raw");
  EXPECT_EQ(output_name("x.32B.WAV"), "x.32B.WAV.raw");
  EXPECT_EQ(output_name("dir.32b.wav/take.32b.wav"), "dir.raw");
  EXPECT_EQ(output_name(std::string(5000, 'n') + ".32b.wav"), std::string(5000, 'n') + ".raw");
}

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

TEST(WriteRawOutput, AnInputThatShrinksLeavesNoOutputAndNoRepeatedSamples) {
  scratch_dir dir;
  const std::string path = dir.put("gone.32b.wav", wav_bytes({.data = bytes(50000 * 8, 1)}));
  track_slot slots[1];
  std::uint64_t size = 0;
  ASSERT_EQ(read_wav_header(slots[0], path.c_str(), size), STATUS_OK);
  slots[0].t.data_start = ftello(slots[0].file);
  ASSERT_EQ(truncate(path.c_str(), 44 + 8 * 30000), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(write_raw_output(slots, 1, 0, alignment{}, 50000), STATUS_CANNOT_OPEN);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot read this file : " + path + ".\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir / "gone.raw"));
  std::fclose(slots[0].file);
}

}  // namespace
