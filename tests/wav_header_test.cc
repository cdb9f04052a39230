#include <gtest/gtest.h>

#include "scratch_dir.h"
#include "wav/wav.h"

namespace {

struct header_outcome {
  run_status status;
  std::string out;
  std::uint64_t data_size = 0;
  int is_float = 0;
  long long position = -1;
  int frame_bytes = 0;
};

header_outcome read_header_of(const bytes& b) {
  scratch_dir dir;
  track_slot slot;
  header_info info;
  const std::string name = dir.put("in.wav", b);
  testing::internal::CaptureStdout();
  const run_status status = read_wav_header(slot, name.c_str(), info);
  std::string out = testing::internal::GetCapturedStdout();
  if (out.find(name) != std::string::npos) out.replace(out.find(name), name.size(), "in.wav");
  header_outcome o{status, out, info.data_size, slot.t.is_float, -1, slot.t.frame_bytes};
  if (slot.file != nullptr) {
    o.position = position_of(slot.file);
    EXPECT_TRUE(status != STATUS_OK || o.position == slot.t.data_start);
    std::fclose(slot.file);
  }
  return o;
}

const bytes ONE_FRAME(8, 0x11);

wav_chunk chunk(const std::string& id, int size) { return {id, bytes(static_cast<std::size_t>(size), 0xAB)}; }

wav_spec with_chunks(int before, int between) {
  wav_spec s{.data = ONE_FRAME};
  for (int i = 0; i < before; ++i) s.before_fmt.push_back(chunk("LIST", 2));
  for (int i = 0; i < between; ++i) s.between.push_back(chunk("fact", 4));
  return s;
}

std::string skipped(const std::string& id, const std::string& wanted, int times = 1) {
  std::string out;
  for (int i = 0; i < times; ++i) out += "skipped unknown chunk '" + id + "' while searching '" + wanted + "'.\r\n";
  return out;
}

const std::string NOTE = "Note: using sample rate other than 44.1kHz is not recommended.\r\n";
const std::string BAD_SIZE = "This is not a 16, 24 or 32bit integer or 32bit float wave file.\r\n";
const std::string NOT_PCM = "This is not a linear(integer) or float PCM. ";
const std::string LONGER = "Note: data chunk is longer than the file; using 80 bytes : in.wav.\r\n";

struct header_row {
  const char* label;
  wav_spec layout;
  run_status status;
  std::string out;
  std::uint64_t data_size = 8;
  int is_float = 0;
  long long position = 44;
  int frame_bytes = 8;
};

TEST(WavHeader, EachLayoutGivesItsStatusWarningsKindSizeAndPosition) {
  const wav_spec extensible_float{.format_tag = 0xFFFE, .fmt_extra = extensible_extra(3), .data = ONE_FRAME};
  const wav_spec extensible_int{.format_tag = 0xFFFE, .fmt_extra = extensible_extra(1), .data = ONE_FRAME};
  // The sample size comes from the byte rate; block align and bits say otherwise here.
  const auto sized = [](std::uint16_t tag, std::int64_t byte_rate, bytes extra = {}) {
    return wav_spec{.format_tag = tag, .byte_rate = byte_rate, .fmt_extra = extra, .data = ONE_FRAME};
  };
  // A GUID that begins as integer PCM's but ends otherwise names no format eqalign knows.
  bytes foreign_tail = extensible_extra(1);
  foreign_tail.back() = 0x72;
  const wav_spec odd{
      .before_fmt = {chunk("junk", 3)}, .fmt_extra = {0, 0, 0}, .between = {chunk("LIST", 5)}, .data = ONE_FRAME};
  const wav_spec control{.riff = std::string("\x1b[2J", 4),
                         .before_fmt = {chunk(std::string("a\0bc", 4), 2)},
                         .between = {chunk("\xff\x07xy", 2)},
                         .data = ONE_FRAME};
  // clang-format off
  const header_row rows[] = {
    {"common layout", {.data = bytes(80, 1)}, STATUS_OK, "", 80},
    {"float", {.format_tag = 3, .data = ONE_FRAME}, STATUS_OK, "", 8, 1},
    {"extensible, no extension", {.format_tag = 0xFFFE, .data = ONE_FRAME}, STATUS_OK, ""},
    {"extensible float", extensible_float, STATUS_OK, "", 8, 1, 68},
    {"extensible integer", extensible_int, STATUS_OK, "", 8, 0, 68},
    {"fmt of 18 bytes", {.format_tag = 0xFFFE, .fmt_extra = {0, 0}, .data = ONE_FRAME}, STATUS_OK, "", 8, 0, 46},
    {"tag 2, mono", {.format_tag = 2, .channels = 1}, STATUS_NOT_PCM, NOT_PCM + "2\r\n"},
    {"tag 65535", {.format_tag = 65535}, STATUS_NOT_PCM, NOT_PCM + "65535\r\n"},
    {"mono, 16-bit", {.channels = 1, .byte_rate = 176400}, STATUS_NOT_STEREO, "This is not a stereo file.\r\n"},
    {"six channels", {.channels = 6}, STATUS_NOT_STEREO, "This is not a stereo file.\r\n"},
    {"16-bit", sized(1, 176400), STATUS_OK, "", 8, 0, 44, 4},
    {"24-bit", sized(1, 264600), STATUS_OK, "", 8, 0, 44, 6},
    {"24-bit extensible", sized(0xFFFE, 264600, extensible_extra(1, 24)), STATUS_OK, "", 8, 0, 68, 6},
    {"16-bit, extensible of 18 bytes", sized(0xFFFE, 176400, {0, 0}), STATUS_OK, "", 8, 0, 46, 4},
    {"8-bit", sized(1, 88200), STATUS_BAD_SAMPLE_SIZE, BAD_SIZE},
    {"64-bit float", sized(3, 705600), STATUS_BAD_SAMPLE_SIZE, BAD_SIZE},
    {"16-bit float", sized(3, 176400), STATUS_BAD_SAMPLE_SIZE, BAD_SIZE},
    {"24-bit extensible float", sized(0xFFFE, 264600, extensible_extra(3, 24)), STATUS_BAD_SAMPLE_SIZE, BAD_SIZE},
    {"extensible A-law", sized(0xFFFE, 352800, extensible_extra(6)), STATUS_NOT_PCM, NOT_PCM + "6\r\n"},
    {"extensible, foreign GUID", sized(0xFFFE, 352800, foreign_tail), STATUS_NOT_PCM, NOT_PCM + "1\r\n"},
    // The byte rate is tested before the sub-format.
    {"extensible A-law, 8-bit", sized(0xFFFE, 88200, extensible_extra(6, 8)), STATUS_BAD_SAMPLE_SIZE, BAD_SIZE},
    {"48 kHz, wrong byte rate", {.rate = 48000, .byte_rate = 352800}, STATUS_BAD_SAMPLE_SIZE, NOTE + BAD_SIZE},
    // 8 x 536875000 wraps to 32704 in 32 bits; the test must not be fooled.
    {"byte rate that wraps", {.rate = 536875000, .byte_rate = 32704}, STATUS_BAD_SAMPLE_SIZE, NOTE + BAD_SIZE},
    {"48 kHz", {.rate = 48000, .data = ONE_FRAME}, STATUS_OK, NOTE},
    {"chunks before and after fmt", {.before_fmt = {chunk("LIST", 26)}, .between = {chunk("fact", 4)}, .data = ONE_FRAME},
     STATUS_OK, skipped("LIST", "fmt ") + skipped("fact", "data"), 8, 0, 44 + 34 + 12},
    {"odd bodies with their pad byte", odd, STATUS_OK, skipped("junk", "fmt ") + skipped("LIST", "data"), 8, 0,
     12 + 12 + 28 + 14 + 8},
    {"bodies of 0 and 1 bytes", {.before_fmt = {chunk("zero", 0), chunk("one ", 1)}, .data = ONE_FRAME}, STATUS_OK,
     skipped("zero", "fmt ") + skipped("one ", "fmt "), 8, 0, 12 + 8 + 10 + 24 + 8},
    {"nine other chunks", with_chunks(4, 5), STATUS_OK, skipped("LIST", "fmt ", 4) + skipped("fact", "data", 5), 8, 0,
     44 + 4 * 10 + 5 * 12},
    {"ten before fmt", with_chunks(10, 0), STATUS_CHUNKS_TOO_MUCH, skipped("LIST", "fmt ", 10) + "Chunks too much.\r\n"},
    {"ten in all", with_chunks(3, 7), STATUS_NO_DATA_CHUNK,
     skipped("LIST", "fmt ", 3) + skipped("fact", "data", 7) + "There are no data chunk.\r\n"},
    {"RIFX and AVI", {.riff = "RIFX", .wave = "AVI ", .data = ONE_FRAME}, STATUS_OK, "RIFF != RIFX\r\nWAVE != AVI \r\n"},
    {"control bytes in ids", control, STATUS_OK, "RIFF != ?[2J\r\n" + skipped("a", "fmt ") + skipped("??xy", "data"),
     8, 0, 44 + 10 + 10},
    {"data size beyond the file", {.data_size = 81, .data = bytes(80, 1)}, STATUS_OK, LONGER, 80},
    {"data size 2^31", {.data_size = 2147483648LL, .data = bytes(80, 1)}, STATUS_OK, LONGER, 80},
    {"data size 0", {.data_size = 0, .data = bytes(80, 1)}, STATUS_OK, "", 0},
    {"data size 7", {.data_size = 7, .data = bytes(80, 1)}, STATUS_OK, "", 7},
  };
  // clang-format on
  for (const header_row& r : rows) {
    const header_outcome o = read_header_of(wav_bytes(r.layout));
    EXPECT_EQ(o.status, r.status) << r.label;
    EXPECT_EQ(o.out, r.out) << r.label;
    if (r.status != STATUS_OK) continue;
    EXPECT_EQ(o.data_size, r.data_size) << r.label;
    EXPECT_EQ(o.is_float, r.is_float) << r.label;
    EXPECT_EQ(o.position, r.position) << r.label;
    EXPECT_EQ(o.frame_bytes, r.frame_bytes) << r.label;
  }
}

TEST(WavHeader, ATruncatedHeaderFailsAtTheFirstShortRead) {
  const bytes full = wav_bytes({.data = ONE_FRAME});
  for (std::size_t cut = 0; cut < 44; ++cut) {
    const header_outcome o = read_header_of(bytes(full.begin(), full.begin() + static_cast<long>(cut)));
    const bool before_fmt = cut < 16;  // up to the fmt id
    EXPECT_EQ(o.status, before_fmt ? STATUS_CHUNKS_TOO_MUCH : STATUS_NO_DATA_CHUNK) << cut;
    EXPECT_EQ(o.out, before_fmt ? "Chunks too much.\r\n" : "There are no data chunk.\r\n") << cut;
  }
  // A field read whole is still tested before a later read comes up short.
  bytes bad_tag = wav_bytes({.format_tag = 7, .data = ONE_FRAME});
  bad_tag.resize(30);
  EXPECT_EQ(read_header_of(bad_tag).status, STATUS_NOT_PCM);
  // Cut inside a skipped chunk, and inside the id after it.
  const bytes cut_chunk = wav_bytes({.before_fmt = {chunk("LIST", 40)}, .data = ONE_FRAME});
  for (std::size_t cut : {30u, 62u}) {
    const header_outcome o = read_header_of(bytes(cut_chunk.begin(), cut_chunk.begin() + static_cast<long>(cut)));
    EXPECT_EQ(o.status, STATUS_CHUNKS_TOO_MUCH) << cut;
    EXPECT_EQ(o.out, skipped("LIST", "fmt ") + "Chunks too much.\r\n");
  }
}

}  // namespace
