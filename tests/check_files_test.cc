// check.csv and check.svg of a small made-up check: the table to the byte, and a picture that any XML
// reader takes, whatever a decode is named.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "report/report.h"

namespace {

// Three places about 5 s apart at 44100 Hz (the last 15.00098 s, shown to the nearest ms); two decodes, one with a name
// that needs quoting and escaping.
const whole_file_result MADE_UP{
    {220500, 441000, 661543},
    0,
    0,
    {{.track = 1,
      .places = {{.kind = PLACE_IN_STEP, .lag = 0, .score = 0.05414, .level_judged = true, .level = -0.0216},
                 {.kind = PLACE_SKIPPED, .quiet = true},
                 {.kind = PLACE_LOST, .lag = -40, .score = 1.2}}},
     {.track = 2,
      .places = {{.kind = PLACE_WEAK, .lag = 2, .score = 0.75},
                 {.kind = PLACE_DROPOUT, .score = std::numeric_limits<double>::infinity()},
                 {.kind = PLACE_IN_STEP, .lag = 3, .score = 0.1, .level_judged = true, .level = 3.5226,
                  .swapped = true}}}}};

check_drawing made_up(const std::string& first_name) {
  return {&MADE_UP, {"reference", first_name, "b"}, {0, 1105, -312}, 44100, 44100 * 20, 44100 * 4, 44100 * 3};
}

TEST(CheckFiles, TheTableLineByLine) {
  EXPECT_EQ(check_csv(made_up("a,\"x\"")),
            "decode,time_s,lag_frames,score,level_db,kind,quiet\n"
            "\"a,\"\"x\"\"\",5.000,0,0.0541,-0.022,in_step,no\n"
            "\"a,\"\"x\"\"\",10.000,,,,skipped,yes\n"
            "\"a,\"\"x\"\"\",15.001,-40,1.2000,,lost,no\n"
            "b,5.000,2,0.7500,,weak,no\n"
            "b,10.000,0,,,dropout,no\n"
            "b,15.001,3,0.1000,3.523,in_step,no\n");
}

// Whether `xml` is one element whose tags nest and whose text holds no bare '<' or '&'; `open` counts
// the elements named `count` and `text` gathers the text of the <text> and <title> elements.
bool well_formed(const std::string& xml, const std::string& count, int& open, std::string& text) {
  std::vector<std::string> stack;
  std::size_t i = xml.find("<svg");
  bool in_text = false;
  while (i < xml.size()) {
    if (xml[i] != '<') {
      const std::size_t end = xml.find('<', i);
      const std::string run = xml.substr(i, end - i);
      for (std::size_t a = run.find('&'); a != std::string::npos; a = run.find('&', a + 1)) {
        const std::size_t semi = run.find(';', a);
        const std::string entity = run.substr(a, semi == std::string::npos ? 0 : semi - a + 1);
        if (entity != "&lt;" && entity != "&gt;" && entity != "&amp;" && entity != "&quot;" && entity != "&apos;")
          return false;
      }
      if (in_text) text += run;
      if (end == std::string::npos) return stack.empty();
      i = end;
      continue;
    }
    const std::size_t close = xml.find('>', i);
    if (close == std::string::npos) return false;
    const std::string tag = xml.substr(i + 1, close - i - 1);
    const std::string name = tag.substr(tag[0] == '/', tag.find_first_of(" />", 1) - (tag[0] == '/'));
    if (tag.find('<') != std::string::npos || std::count(tag.begin(), tag.end(), '"') % 2 != 0) return false;
    if (tag[0] == '/') {
      if (stack.empty() || stack.back() != name) return false;
      stack.pop_back();
      in_text = false;
    } else if (tag.back() != '/') {
      stack.push_back(name);
      in_text = name == "text" || name == "title";
    }
    open += name == count && tag[0] != '/';
    i = close + 1;
    if (stack.empty()) return xml.find('<', i) == std::string::npos;
  }
  return false;
}

TEST(CheckFiles, ThePictureIsWellFormedWithEveryNameEscaped) {
  const struct {
    std::string name;
    std::string shown;  // in the legend
  } rows[] = {
      {"a<b&c\"d'>", "a&lt;b&amp;c&quot;d&apos;&gt; (delay 1105)"},
      // A byte that is no UTF-8, and a control character, which XML forbids.
      {"bad\xff\x01name", "bad??name (delay 1105)"},
      // A long name is cut at a whole character, never inside one.
      {"0123456789012345678901\xc3\xa9\xc3\xa9", "0123456789012345678901\xc3\xa9... (delay 1105)"},
  };
  for (const auto& r : rows) {
    const std::string svg = check_svg(made_up(r.name));
    int polylines = 0;
    std::string text;
    EXPECT_TRUE(well_formed(svg, "polyline", polylines, text)) << svg;
    for (const std::string& shown : {r.shown, std::string("b: dropout at 0:10.000"), std::string("b: swapped at 0:15.001")})
      EXPECT_NE(text.find(shown), std::string::npos) << shown << " in " << text;
    // Lines run through places in a row only: one, b's on the lag panel; no decode has two levels in a row.
    EXPECT_EQ(polylines, 1) << r.name;
    EXPECT_EQ(svg.find("<script"), std::string::npos);
    EXPECT_EQ(svg.find("href"), std::string::npos);
  }
}

}  // namespace
