#include <cstdio>
#include <cstring>

#include "core/out_of_memory.h"
#include "core/samples.h"
#include "core/say.h"
#include "platform/platform.h"
#include "wav/wav.h"

namespace {

// Chunks other than "fmt " and "data" that one file may hold before its data,
// shared by both searches; a search that ends with none left fails.
constexpr int CHUNK_BUDGET = 10;
constexpr std::uint16_t TAG_INTEGER = 1;
constexpr std::uint16_t TAG_FLOAT = 3;
constexpr std::uint16_t TAG_EXTENSIBLE = 0xFFFE;
// Bytes of the fmt body read before its remainder is skipped.
constexpr std::int64_t FMT_FIELDS_BYTES = 12;
// An extensible fmt body names its sample format in bytes 24..39.
constexpr std::int64_t FMT_EXTENSIBLE_BYTES = 40;
// An extensible sub-format GUID is the format tag in its first two bytes,
// little-endian, followed by this common tail.
constexpr unsigned char SUBFORMAT_GUID_TAIL[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Bytes of one stereo frame that the byte rate may give, per sample size:
// 32-bit, packed 24-bit and 16-bit. Tried in this order, so that a rate of 0
// keeps 32-bit samples.
constexpr int FRAME_SIZES[] = {8, 6, 4};
const char* const BAD_SAMPLE_SIZE = "This is not a 16, 24 or 32bit integer or 32bit float wave file.\r\n";

struct header_walk {
  std::FILE* in;
  unsigned char id[5];
  int budget;
  const track_slot* slot;
};

bool read_exact(std::FILE* in, void* out, std::size_t n) { return std::fread(out, 1, n, in) == n; }

bool read_u16(std::FILE* in, std::uint16_t& v) {
  unsigned char b[sizeof v];
  if (!read_exact(in, b, sizeof b)) return false;
  v = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
  return true;
}

bool read_u32(std::FILE* in, std::uint32_t& v) {
  unsigned char b[sizeof v];
  if (!read_exact(in, b, sizeof b)) return false;
  v = load_u32_le(b);
  return true;
}

// A seek past the end succeeds; the read after it then comes up short.
bool skip_bytes(std::FILE* in, std::int64_t n) { return n <= 0 || seek_to(in, n, SEEK_CUR); }

// RIFF pads an odd-sized body with one byte.
std::int64_t padded(std::int32_t size) { return size <= 0 ? 0 : std::int64_t{size} + (size & 1); }

bool read_id(header_walk& w) { return read_exact(w.in, w.id, 4); }

// On entry `w.id` holds the id just read and the stream stands at that
// chunk's size field. Skips other chunks while the budget lasts; whether
// the wanted one was found with budget left.
bool find_chunk(header_walk& w, const char* wanted) {
  while (std::memcmp(w.id, wanted, 4) != 0 && w.budget != 0) {
    say("skipped unknown chunk '%s' while searching '%s'.\r\n", printable_chunk_id(w.id).c_str(), wanted);
    std::uint32_t size{};
    if (!read_u32(w.in, size)) return false;
    if (!skip_bytes(w.in, padded(static_cast<std::int32_t>(size)))) return false;
    if (!read_id(w)) return false;
    --w.budget;
  }
  return w.budget != 0;
}

run_status fail(const char* message, run_status status) {
  say("%s", message);
  return status;
}

// A header that came up short: at the file's end, `message` and `status`; on
// a read error (EIO), the message of every read error.
run_status cut_short(const header_walk& w, const char* message, run_status status) {
  return std::ferror(w.in) != 0 ? cannot_read(*w.slot) : fail(message, status);
}

run_status not_pcm(unsigned tag) {
  say("This is not a linear(integer) or float PCM. %u\r\n", tag);
  return STATUS_NOT_PCM;
}

// The frame size that the byte rate gives, or 0 for none. In 64 bits, so that
// a rate near 2^32 cannot wrap into a match.
int frame_bytes_of(std::uint32_t byte_rate, std::uint32_t rate) {
  for (int size : FRAME_SIZES) {
    if (std::uint64_t{byte_rate} == std::uint64_t{rate} * static_cast<std::uint64_t>(size)) return size;
  }
  return 0;
}

// The extensible format's sub-format: the tag of integer or float PCM, or the
// refusal of any other.
run_status read_subformat(const unsigned char* guid, track& t) {
  const unsigned sub = guid[0] | (guid[1] << 8);
  if (std::memcmp(guid + 2, SUBFORMAT_GUID_TAIL, sizeof SUBFORMAT_GUID_TAIL) != 0 ||
      (sub != TAG_INTEGER && sub != TAG_FLOAT))
    return not_pcm(sub);
  if (sub == TAG_FLOAT && t.frame_bytes != FRAME_BYTES) return fail(BAD_SAMPLE_SIZE, STATUS_BAD_SAMPLE_SIZE);
  if (sub == TAG_FLOAT) t.is_float = 1;
  return STATUS_OK;
}

// From the fmt chunk's size field on; the stream stands there.
run_status read_format(header_walk& w, track& t) {
  const run_status cut = STATUS_NO_DATA_CHUNK;
  const char* cut_message = "There are no data chunk.\r\n";
  std::uint32_t fmt_size_field{};
  std::uint16_t tag{};
  std::uint16_t channels{};
  std::uint32_t byte_rate{};
  if (!read_u32(w.in, fmt_size_field) || !read_u16(w.in, tag)) return cut_short(w, cut_message, cut);
  if (tag != TAG_INTEGER && tag != TAG_FLOAT && tag != TAG_EXTENSIBLE) return not_pcm(tag);
  if (tag == TAG_FLOAT) t.is_float = 1;
  if (!read_u16(w.in, channels)) return cut_short(w, cut_message, cut);
  if (channels != 2) return fail("This is not a stereo file.\r\n", STATUS_NOT_STEREO);
  if (!read_u32(w.in, t.sample_rate)) return cut_short(w, cut_message, cut);
  if (t.sample_rate != 44100) say("%s", "Note: using sample rate other than 44.1kHz is not recommended.\r\n");
  if (!read_u32(w.in, byte_rate)) return cut_short(w, cut_message, cut);
  // The byte rate alone gives the sample size; the block align and bits
  // fields are not read, so they cannot change how any file is read.
  const int frame_bytes = frame_bytes_of(byte_rate, t.sample_rate);
  if (frame_bytes == 0 || (tag == TAG_FLOAT && frame_bytes != FRAME_BYTES))
    return fail(BAD_SAMPLE_SIZE, STATUS_BAD_SAMPLE_SIZE);
  t.frame_bytes = frame_bytes;
  std::int64_t body = padded(static_cast<std::int32_t>(fmt_size_field));
  std::int64_t done = FMT_FIELDS_BYTES;
  // A shorter extensible body names no sub-format; its samples are integers.
  if (tag == TAG_EXTENSIBLE && static_cast<std::int32_t>(fmt_size_field) >= FMT_EXTENSIBLE_BYTES) {
    unsigned char extension[FMT_EXTENSIBLE_BYTES - FMT_FIELDS_BYTES];
    if (!read_exact(w.in, extension, sizeof extension)) return cut_short(w, cut_message, cut);
    const run_status status = read_subformat(extension + 12, t);
    if (status != STATUS_OK) return status;
    done = FMT_EXTENSIBLE_BYTES;
  }
  if (!skip_bytes(w.in, body - done)) return cut_short(w, cut_message, cut);
  return STATUS_OK;
}

}  // namespace

std::string printable_chunk_id(const unsigned char* id) {
  std::string text;
  for (int i = 0; i < 4 && id[i] != 0; ++i) text += (id[i] >= 0x20 && id[i] <= 0x7E) ? static_cast<char>(id[i]) : '?';
  return text;
}

run_status read_wav_header(track_slot& slot, const char* name, header_info& info) {
  slot.path = name;
  std::int64_t file_size{};
  slot.file = open_input(slot.path, slot.input, file_size);
  if (slot.file == nullptr) {
    if (short_of_memory()) return not_enough_memory();
    say("Cannot open this file : %s.\r\nReason : %s.\r\n", name, failure_reason());
    return STATUS_INPUT_UNREADABLE;
  }

  header_walk w{slot.file, {}, CHUNK_BUDGET, &slot};
  const char* no_fmt = "Chunks too much.\r\n";
  std::uint32_t riff_size{};
  if (!read_id(w)) return cut_short(w, no_fmt, STATUS_CHUNKS_TOO_MUCH);
  if (std::memcmp(w.id, "RIFF", 4) != 0) say("RIFF != %s\r\n", printable_chunk_id(w.id).c_str());
  if (!read_u32(w.in, riff_size) || !read_id(w)) return cut_short(w, no_fmt, STATUS_CHUNKS_TOO_MUCH);
  if (std::memcmp(w.id, "WAVE", 4) != 0) say("WAVE != %s\r\n", printable_chunk_id(w.id).c_str());
  if (!read_id(w) || !find_chunk(w, "fmt ")) return cut_short(w, no_fmt, STATUS_CHUNKS_TOO_MUCH);

  run_status status = read_format(w, slot.t);
  if (status != STATUS_OK) return status;

  std::uint32_t size_field{};
  if (!read_id(w) || !find_chunk(w, "data") || !read_u32(w.in, size_field)) {
    return cut_short(w, "There are no data chunk.\r\n", STATUS_NO_DATA_CHUNK);
  }
  // The size field of a streamed or damaged file may promise more than is
  // there; only bytes that exist are ever read.
  slot.t.data_start = position_of(w.in);
  std::int64_t held = slot.t.data_start < 0 ? 0 : file_size - slot.t.data_start;
  if (held < 0) held = 0;
  info.data_size = size_field;
  if (static_cast<std::uint64_t>(held) < info.data_size) {
    info.data_size = static_cast<std::uint64_t>(held);
    say("Note: data chunk is longer than the file; using %llu bytes : %s.\r\n",
                static_cast<unsigned long long>(held), name);
  }
  slot.t.frames = static_cast<std::int64_t>(info.data_size / static_cast<std::uint64_t>(slot.t.frame_bytes));
  return STATUS_OK;
}
