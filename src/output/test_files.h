// The files of a listening test beside the passages: the blind names and
// their key, and a webMUSHRA configuration of the folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The anchors as the key and a webMUSHRA page name them.
constexpr const char* ANCHOR35_NAME = "anchor35";
constexpr const char* ANCHOR70_NAME = "anchor70";
// The configuration's name in the folder.
constexpr const char* WEBMUSHRA_NAME = "webmushra.yaml";
// webMUSHRA's limits of a MUSHRA page: conditions, and seconds of a stimulus.
constexpr int WEBMUSHRA_MAX_STIMULI = 12;
constexpr int WEBMUSHRA_MAX_SECONDS = 12;

// Under --blind SEED, the stimulus written at each shuffled position k as
// C<k+1>.wav, of `count` stimuli numbered in command-line order (decodes,
// then anchor35 and anchor70 when made): Fisher-Yates driven by SplitMix64,
// integers only, so one seed gives one order everywhere.
std::vector<int> blind_order(std::uint64_t seed, int count);

// "C<position + 1>.wav".
std::string blind_name(int position);

// A stimulus as the key tells it.
struct key_entry {
  // The input's name as given; ANCHOR35_NAME or ANCHOR70_NAME for an anchor.
  std::string input;
  // The lag at the passage in frames, and the passage gain as a factor (anchors 0 and 1).
  std::int64_t delay = 0;
  double gain = 1.0;
};

// The key: "name,input,delay,gain_db", then a line for each C-name in C
// order, `order` as blind_order gives it over `stimuli`; fields quoted as
// CSV asks (RFC 4180), lines ending in "\n".
std::string key_text(const std::vector<key_entry>& stimuli, const std::vector<int>& order);

// The key's name beside the folder: "DIR.key.csv".
std::string key_name(const std::string& folder);

// The line that refuses a key name already taken (a run then ends with
// STATUS_OUTPUT_FAILED, as for a folder that exists); empty when it is free.
std::string key_taken(const std::string& key);

// 20 log10(factor) for a factor above 0, from + - * / alone, so that the
// text written of it is the same on every platform.
double portable_decibels(double factor);

// A webMUSHRA test of the folder `folder` (as named with -o, without a
// trailing separator): the reference and the stimuli by their file names in
// the folder, in the order the page lists them.
struct webmushra_test {
  std::string folder;
  std::string reference;
  std::vector<std::string> stimuli;
  // Whether anchor35.wav and anchor70.wav are among the stimuli; else the
  // page has the browser make them.
  bool anchors_made = false;
};

// The configuration's text: one MUSHRA page and a finish page, every file
// named as configs/resources/audio/<folder's last name>/<file>.
std::string webmushra_yaml(const webmushra_test& test);

// The line refusing a page that webMUSHRA would refuse: a passage of
// `length` frames at `rate` longer than 12 s, or more than 12 stimuli
// (decodes and anchors); empty when it fits.
std::string webmushra_refusal(std::int64_t length, std::uint32_t rate, int stimuli);
