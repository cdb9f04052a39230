#include "wav/wav_header.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "test_support.h"

namespace {

struct header_outcome {
  run_status status;
  std::string out;
  std::uint64_t data_size = 0;
  int is_float = 0;
  long long position = -1;
};

header_outcome read_header_of(const bytes& b) {
  scratch_dir dir;
  const std::string path = dir.put("in.wav", b);
  track_slot slot;
  header_outcome o{};
  testing::internal::CaptureStdout();
  o.status = read_wav_header(slot, path.c_str(), o.data_size);
  o.out = testing::internal::GetCapturedStdout();
  o.is_float = slot.t.is_float;
  if (slot.file != nullptr) {
    o.position = ftello(slot.file);
    std::fclose(slot.file);
  }
  return o;
}

bytes frames_of(int n) { return bytes(static_cast<std::size_t>(n) * 8, 0x11); }

wav_chunk chunk(const std::string& id, int size) { return {id, bytes(static_cast<std::size_t>(size), 0xAB)}; }

TEST(WavHeader, CommonLayoutIsReadSilentlyToTheFirstFrame) {
  header_outcome o = read_header_of(wav_bytes({.data = frames_of(10)}));
  EXPECT_EQ(o.status, STATUS_OK);
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.is_float, 0);
  EXPECT_EQ(o.data_size, 80u);
  EXPECT_EQ(o.position, 44);
}

TEST(WavHeader, FormatTagsDecideTheSampleKind) {
  struct row {
    std::uint16_t tag;
    bytes extra;
    int is_float;
  };
  const row rows[] = {
      {1, {}, 0},
      {3, {}, 1},
      {0xFFFE, {}, 0},                       // no extension to read
      {0xFFFE, extensible_extra(true), 1},   // as ffmpeg and Opus decoders write float
      {0xFFFE, extensible_extra(false), 0},  // integer sub-format
      {0xFFFE, bytes{0, 0}, 0},              // 18-byte body: too short to name a sub-format
  };
  for (const row& r : rows) {
    header_outcome o = read_header_of(wav_bytes({.format_tag = r.tag, .fmt_extra = r.extra, .data = frames_of(3)}));
    EXPECT_EQ(o.status, STATUS_OK) << r.tag;
    EXPECT_EQ(o.out, "") << r.tag;
    EXPECT_EQ(o.is_float, r.is_float) << r.tag << " with " << r.extra.size() << " extra bytes";
    EXPECT_EQ(o.position, 44 + static_cast<long long>(r.extra.size()));
  }
}

TEST(WavHeader, FormatTestsRunInOrderAndReportTheFirstFault) {
  struct row {
    wav_spec layout;
    run_status status;
    std::string out;
  };
  const row rows[] = {
      {{.format_tag = 2, .channels = 1}, STATUS_NOT_PCM, "This is not a linear(integer) or float PCM. 2\r\n"},
      {{.format_tag = 65535}, STATUS_NOT_PCM, "This is not a linear(integer) or float PCM. 65535\r\n"},
      {{.format_tag = 85}, STATUS_NOT_PCM, "This is not a linear(integer) or float PCM. 85\r\n"},
      {{.channels = 1, .byte_rate = 176400}, STATUS_NOT_STEREO, "This is not a stereo file.\r\n"},
      {{.channels = 6}, STATUS_NOT_STEREO, "This is not a stereo file.\r\n"},
      {{.byte_rate = 176400, .bits = 16}, STATUS_NOT_32BIT, "This is not a 32bit depth wave file.\r\n"},
      {{.format_tag = 3, .byte_rate = 705600, .bits = 64},
       STATUS_NOT_32BIT,
       "This is not a 32bit depth wave file.\r\n"},
      {{.rate = 48000, .byte_rate = 352800},
       STATUS_NOT_32BIT,
       "Note: using sample rate other than 44.1kHz is not recommended.\r\n"
       "This is not a 32bit depth wave file.\r\n"},
      // 8 x 536875000 wraps to 32704 in 32 bits; the test must not be fooled.
      {{.rate = 536875000, .byte_rate = 32704},
       STATUS_NOT_32BIT,
       "Note: using sample rate other than 44.1kHz is not recommended.\r\n"
       "This is not a 32bit depth wave file.\r\n"},
      {{.rate = 48000}, STATUS_OK, "Note: using sample rate other than 44.1kHz is not recommended.\r\n"},
  };
  for (const row& r : rows) {
    wav_spec s = r.layout;
    s.data = frames_of(2);
    header_outcome o = read_header_of(wav_bytes(s));
    EXPECT_EQ(o.status, r.status) << r.out;
    EXPECT_EQ(o.out, r.out);
  }
}

TEST(WavHeader, OtherChunksAreSkippedWithAWarning) {
  header_outcome o = read_header_of(
      wav_bytes({.before_fmt = {chunk("LIST", 26)}, .between = {chunk("fact", 4)}, .data = frames_of(1)}));
  EXPECT_EQ(o.status, STATUS_OK);
  EXPECT_EQ(o.out,
            "skipped unknown chunk 'LIST' while searching 'fmt '.\r\n"
            "skipped unknown chunk 'fact' while searching 'data'.\r\n");
  EXPECT_EQ(o.position, 44 + 34 + 12);
}

TEST(WavHeader, OddBodiesArePassedWithTheirPadByte) {
  header_outcome o = read_header_of(wav_bytes({.before_fmt = {chunk("junk", 3)},
                                               .fmt_extra = bytes{0, 0, 0},  // 19-byte fmt body
                                               .between = {chunk("LIST", 5)},
                                               .data = frames_of(1)}));
  EXPECT_EQ(o.status, STATUS_OK);
  EXPECT_EQ(o.position, 12 + (8 + 4) + (8 + 20) + (8 + 6) + 8);
  EXPECT_EQ(o.data_size, 8u);
}

TEST(WavHeader, FmtBodiesOfEighteenAndFortyBytesAreSkippedToTheirEnd) {
  for (int extra : {2, 24}) {
    header_outcome o = read_header_of(wav_bytes(
        {.fmt_extra = bytes(static_cast<std::size_t>(extra), 0), .between = {chunk("fact", 4)}, .data = frames_of(1)}));
    EXPECT_EQ(o.status, STATUS_OK);
    EXPECT_EQ(o.out, "skipped unknown chunk 'fact' while searching 'data'.\r\n");
    EXPECT_EQ(o.position, 44 + extra + 12);
  }
}

TEST(WavHeader, TheChunkBudgetIsSharedByBothSearches) {
  struct row {
    int before, between;
    run_status status;
  };
  const row rows[] = {{4, 5, STATUS_OK},
                      {9, 0, STATUS_OK},
                      {0, 9, STATUS_OK},
                      {10, 0, STATUS_CHUNKS_TOO_MUCH},
                      {3, 7, STATUS_NO_DATA_CHUNK},
                      {0, 10, STATUS_NO_DATA_CHUNK}};
  for (const row& r : rows) {
    wav_spec s{.data = frames_of(1)};
    for (int i = 0; i < r.before; ++i) s.before_fmt.push_back(chunk("LIST", 2));
    for (int i = 0; i < r.between; ++i) s.between.push_back(chunk("fact", 4));
    header_outcome o = read_header_of(wav_bytes(s));
    EXPECT_EQ(o.status, r.status) << r.before << " before, " << r.between << " between";
    const std::string last = r.status == STATUS_CHUNKS_TOO_MUCH ? "Chunks too much.\r\n"
                             : r.status == STATUS_NO_DATA_CHUNK ? "There are no data chunk.\r\n"
                                                                : "";
    EXPECT_TRUE(o.out.ends_with(last));
  }
}

TEST(WavHeader, AWrongRiffOrWaveTagIsOnlyAWarning) {
  header_outcome o = read_header_of(wav_bytes({.riff = "RIFX", .wave = "AVI ", .data = frames_of(1)}));
  EXPECT_EQ(o.status, STATUS_OK);
  EXPECT_EQ(o.out, "RIFF != RIFX\r\nWAVE != AVI \r\n");
}

TEST(WavHeader, ChunkIdsCannotSendControlBytesToTheTerminal) {
  header_outcome o = read_header_of(wav_bytes({.riff = std::string("\x1b[2J", 4),
                                               .before_fmt = {chunk(std::string("a\0bc", 4), 2)},
                                               .between = {chunk("\xff\x07xy", 2)},
                                               .data = frames_of(1)}));
  EXPECT_EQ(o.status, STATUS_OK);
  EXPECT_EQ(o.out,
            "RIFF != ?[2J\r\n"
            "skipped unknown chunk 'a' while searching 'fmt '.\r\n"
            "skipped unknown chunk '??xy' while searching 'data'.\r\n");
}

TEST(WavHeader, ATruncatedHeaderFailsAtTheFirstShortRead) {
  const bytes full = wav_bytes({.data = frames_of(1)});
  for (std::size_t cut = 0; cut < 44; ++cut) {
    header_outcome o = read_header_of(bytes(full.begin(), full.begin() + static_cast<long>(cut)));
    if (cut < 20) {
      EXPECT_EQ(o.status, cut < 16 ? STATUS_CHUNKS_TOO_MUCH : STATUS_NO_DATA_CHUNK) << cut;
    } else {
      EXPECT_EQ(o.status, STATUS_NO_DATA_CHUNK) << cut;
    }
    EXPECT_EQ(o.out, o.status == STATUS_CHUNKS_TOO_MUCH ? "Chunks too much.\r\n" : "There are no data chunk.\r\n")
        << cut;
  }
  // A field read whole is still tested before a later read comes up short.
  bytes bad_tag = wav_bytes({.format_tag = 7, .data = frames_of(1)});
  bad_tag.resize(30);
  EXPECT_EQ(read_header_of(bad_tag).status, STATUS_NOT_PCM);
  // Cut inside a skipped chunk, and inside the id after it.
  bytes cut_chunk = wav_bytes({.before_fmt = {chunk("LIST", 40)}, .data = frames_of(1)});
  for (std::size_t cut : {20u, 30u, 60u, 62u}) {
    header_outcome o = read_header_of(bytes(cut_chunk.begin(), cut_chunk.begin() + static_cast<long>(cut)));
    EXPECT_EQ(o.status, STATUS_CHUNKS_TOO_MUCH) << cut;
    EXPECT_EQ(o.out, "skipped unknown chunk 'LIST' while searching 'fmt '.\r\nChunks too much.\r\n");
  }
}

TEST(WavHeader, TheDataSizeIsWhatTheFileReallyHolds) {
  struct row {
    std::int64_t field;
    int frames;
    std::uint64_t size;
    bool note;
  };
  const row rows[] = {
      {80, 10, 80, false},          {81, 10, 80, true},           {0, 10, 0, false},
      {2147483648LL, 10, 80, true}, {4294967295LL, 10, 80, true}, {7, 10, 7, false},
  };
  for (const row& r : rows) {
    header_outcome o = read_header_of(wav_bytes({.data_size = r.field, .data = frames_of(r.frames)}));
    EXPECT_EQ(o.status, STATUS_OK);
    EXPECT_EQ(o.data_size, r.size) << r.field;
    EXPECT_EQ(o.out, r.note ? "Note: data chunk is longer than the file; using 80 bytes.\r\n" : "") << r.field;
  }
}

}  // namespace
