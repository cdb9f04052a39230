// The files of a listening test beside the passages: the blind order, its key, the webMUSHRA page and its
// refusals, and the key moved into place together with the folder or not at all.
#include "output/output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "platform/platform.h"
#include "scratch_dir.h"

namespace {

namespace fs = std::filesystem;

// The expected orders were computed once by a separate ten-line Python script of SplitMix64 and the
// shuffle; its first output for seed 0, 0xE220A8397B1DCDAF, is the generator's published first value.
TEST(Blind, OneSeedGivesOneOrder) {
  const struct {
    std::uint64_t seed;
    std::vector<int> order;
  } rows[] = {{0, {2, 3, 1, 4, 0}},
              {0, {8, 7, 6, 5, 3, 9, 2, 4, 10, 0, 1}},
              {2026, {3, 0, 2, 4, 1}},
              {2026, {5, 0, 7, 10, 9, 6, 3, 2, 8, 1, 4}},
              {18446744073709551615u, {1, 0}},
              {18446744073709551615u, {5, 7, 3, 8, 0, 6, 10, 2, 4, 9, 1}},
              {1, {0}}};
  for (const auto& r : rows) EXPECT_EQ(blind_order(r.seed, static_cast<int>(r.order.size())), r.order) << r.seed;
}

TEST(Blind, TheKeyInCOrderQuotedAsCsvAsks) {
  const std::vector<key_entry> stimuli = {{"dir/a.wav", 12, 0.5},
                                          {"b,c.wav", -3, 2.0},
                                          {"say \"hi\".wav", 0, 1.0},
                                          {"two\nlines.wav", 7, 1.0},
                                          {ANCHOR35_NAME}};
  EXPECT_EQ(key_text(stimuli, {2, 0, 4, 1, 3}),
            "name,input,delay,gain_db\n"
            "C1,\"say \"\"hi\"\".wav\",0,0.000\n"
            "C2,dir/a.wav,12,-6.021\n"
            "C3,anchor35,0,0.000\n"
            "C4,\"b,c.wav\",-3,6.021\n"
            "C5,\"two\nlines.wav\",7,0.000\n");
  EXPECT_EQ(blind_name(11), "C12.wav");
}

TEST(Blind, DecibelsWithoutTheLibrarysLogarithm) {
  for (double factor : {1e-6, 0.001, 0.5, 0.70710678, 0.7071068, 0.999999, 1.0, 1.000001, 1.41421356, 1.5, 3.98, 1e6})
    EXPECT_NEAR(portable_decibels(factor), 20 * std::log10(factor), 1e-12) << factor;
}

TEST(WebMushra, OnePageOfTheFolder) {
  EXPECT_EQ(webmushra_yaml({.folder = "tests/pack", .reference = "reference.wav", .stimuli = {"C1.wav", "C2.wav"}}),
            "testname: \"pack\"\ntestId: \"pack\"\nbufferSize: 2048\nstopOnErrors: true\nshowButtonPreviousPage: true\n"
            "remoteService: \"service/write.php\"\npages:\n"
            "  - type: \"mushra\"\n    id: \"trial1\"\n    name: \"pack\"\n"
            "    content: \"Rate the basic audio quality of each condition against the reference.\"\n"
            "    showWaveform: true\n    enableLooping: true\n    randomize: true\n    showConditionNames: false\n"
            "    reference: \"configs/resources/audio/pack/reference.wav\"\n"
            "    createAnchor35: true\n    createAnchor70: true\n    stimuli:\n"
            "      \"C1\": \"configs/resources/audio/pack/C1.wav\"\n"
            "      \"C2\": \"configs/resources/audio/pack/C2.wav\"\n"
            "  - type: \"finish\"\n    name: \"Thank you\"\n    content: \"Thank you for taking part.\"\n"
            "    popupContent: \"Your ratings were saved.\"\n    showResults: false\n    writeResults: true\n"
            "    questionnaire: []\n");
}

// Any name is one quoted scalar, and a URL that fetches that very file.
TEST(WebMushra, NamesQuotedAndEscaped) {
  const std::pair<const char*, const char*> rows[] = {
      {"a\"b\\c.wav", "      \"a\\\"b\\\\c\": \"configs/resources/audio/d/a\\\"b%5Cc.wav\"\n"},
      {"x#1?50%.wav", "      \"x#1?50%\": \"configs/resources/audio/d/x%231%3F50%25.wav\"\n"},
      {"tab\there\x7f.wav", "      \"tab\\x09here\\x7F\": \"configs/resources/audio/d/tab\\x09here\\x7F.wav\"\n"},
      {"anchor35.wav", "    createAnchor35: false\n"},
  };
  for (const auto& [file, line] : rows) {
    const std::string y =
        webmushra_yaml({.folder = "d", .reference = "r.wav", .stimuli = {file}, .anchors_made = true});
    EXPECT_NE(y.find(line), std::string::npos) << y;
  }
}

TEST(WebMushra, RefusesPassagesAndPagesWebMushraWouldNot) {
  const struct {
    std::int64_t length;
    int stimuli;
    const char* line;
  } rows[] = {
      {12 * 44100, 12, ""},
      {12 * 44100 + 1, 2,
       "--webmushra takes a passage of at most 12 s; this one is 12.001 s (529201 frames). Choose a shorter one "
       "(--length).\n"},
      {44100, 13, "--webmushra takes at most 12 stimuli (decodes and anchors); this pack has 13.\n"},
      {20 * 44100, 13,
       "--webmushra takes a passage of at most 12 s; this one is 20.000 s (882000 frames). Choose a shorter one "
       "(--length).\n"},
  };
  for (const auto& r : rows) EXPECT_EQ(webmushra_refusal(r.length, 44100, r.stimuli), r.line);
}

// The obstacle stands at the key's name or the folder's after the early check, as another run may make it.
TEST(KeyAndFolder, BothMoveOrNeither) {
  const struct {
    const char* obstacle;
    bool is_folder;
  } rows[] = {{nullptr, false}, {"out.key.csv", true}, {"out.key.csv", false}, {"out", true}};
  for (const auto& r : rows) {
    const scratch_dir dir;
    const std::string key = key_name(dir / "out");
    std::string folder;
    std::string key_temporary;
    ASSERT_TRUE(create_temporary_folder(dir / "out", folder));
    std::FILE* files[] = {create_file_in(folder + "/reference.wav"), create_temporary(key, key_temporary)};
    for (std::FILE* f : files) ASSERT_TRUE(f != nullptr && std::fclose(f) == 0);
    if (r.obstacle != nullptr) {
      EXPECT_EQ(key_taken(key), "");
      if (r.is_folder) fs::create_directory(dir.path / r.obstacle);
      if (!r.is_folder) write_bytes(dir / r.obstacle, {'k'});
    }
    EXPECT_EQ(rename_folder_with_file(folder, dir / "out", key_temporary, key), r.obstacle == nullptr);
    // The run's clean-up finds every temporary left where it was made.
    remove_temporaries();
    const bool both = fs::exists(dir.path / "out/reference.wav") && !key_taken(key).empty();
    EXPECT_EQ(both, r.obstacle == nullptr) << (r.obstacle ? r.obstacle : "");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 2 - (r.obstacle != nullptr));
  }
}

}  // namespace
