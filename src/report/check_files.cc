#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>

#include "report/report.h"

namespace {

const char* const KIND_NAMES[] = {"skipped", "in_step", "weak", "lost", "dropout"};

// The picture: 960 x 540 points, two panels over one time axis, the legend
// at the right.
constexpr int WIDTH = 960;
constexpr int HEIGHT = 540;
constexpr double PLOT_LEFT = 70;
constexpr double PLOT_RIGHT = 740;
constexpr double LEGEND_LEFT = 760;
constexpr double LAG_TOP = 44;
constexpr double LEVEL_TOP = 294;
constexpr double PANEL_HEIGHT = 200;
// Nine decodes at most; no grey, which marks the quiet places.
const char* const COLOURS[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                               "#8c564b", "#e377c2", "#bcbd22", "#17becf"};
// The least half-height of each panel: smaller lags and level changes are
// what decoders do, and are drawn as the near-flat lines they are.
constexpr double LEAST_LAG = 2;
constexpr double LEAST_LEVEL = 1;
// Time ticks: the first step (seconds) that gives at most MAX_TICKS.
constexpr int TICK_SECONDS[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 18000, 36000};
constexpr std::int64_t MAX_TICKS = 10;
// Legend names longer than this many bytes are cut, to stay in the picture.
constexpr std::size_t LEGEND_BYTES = 24;

// Appends what printf would print; `format` and `args` as for printf.
template <class... Args>
void append(std::string& out, const char* format, const Args&... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  if (n <= 0) return;
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(n) + 1);
  std::snprintf(out.data() + at, static_cast<std::size_t>(n) + 1, format, args...);
  out.pop_back();
}

// Milliseconds of `frames` at `rate`, to the nearest, half up; integers, so
// that every platform agrees.
std::int64_t milliseconds(std::int64_t frames, std::uint32_t rate) {
  if (rate == 0) return 0;
  const std::int64_t r = rate;
  const std::int64_t ms = (2 * frames * 1000 + (frames < 0 ? -r : r)) / (2 * r);
  return ms;
}

// A CSV field: quoted, its quotes doubled, when it holds a comma, a quote or a line end.
std::string csv_field(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

// The length of the valid UTF-8 character at s[i] that XML 1.0 allows, or 0.
std::size_t xml_char_length(const std::string& s, std::size_t i) {
  const auto at = [&](std::size_t k) { return k < s.size() ? static_cast<unsigned char>(s[k]) : 0u; };
  const unsigned c = at(i);
  if (c < 0x80) return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
  // The second byte's range after each lead byte, as UTF-8 allows it: no
  // overlong form, no surrogate, nothing past U+10FFFF.
  unsigned low = 0x80;
  unsigned high = 0xBF;
  std::size_t n = 0;
  if (c >= 0xC2 && c <= 0xDF) n = 2;
  if (c >= 0xE0 && c <= 0xEF) n = 3;
  if (c >= 0xF0 && c <= 0xF4) n = 4;
  if (c == 0xE0) low = 0xA0;
  if (c == 0xED) high = 0x9F;
  if (c == 0xF0) low = 0x90;
  if (c == 0xF4) high = 0x8F;
  if (n == 0 || at(i + 1) < low || at(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  }
  // U+FFFE and U+FFFF are no XML characters.
  if (c == 0xEF && at(i + 1) == 0xBF && at(i + 2) >= 0xBE) return 0;
  return n;
}

// Text for XML: markup characters escaped, a byte that is no XML character
// written as '?'; cut to whole characters within `limit` bytes, "..." after.
std::string xml_text(const std::string& s, std::size_t limit = std::string::npos) {
  std::string out;
  std::size_t shown = 0;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = xml_char_length(s, i);
    if (shown + (n == 0 ? 1 : n) > limit) return out + "...";
    shown += n == 0 ? 1 : n;
    const char c = s[i];
    if (n == 0) {
      out += '?';
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else if (c == '&') {
      out += "&amp;";
    } else if (c == '"') {
      out += "&quot;";
    } else if (c == '\'') {
      out += "&apos;";
    } else {
      out.append(s, i, n);
    }
    i += n == 0 ? 1 : n;
  }
  return out;
}

// The least of 1, 2, 5, 10, 20, 50, ... that is at least `m` (and `least`).
double nice_limit(double m, double least) {
  double step = 1;
  for (;;) {
    for (double f : {1.0, 2.0, 5.0}) {
      if (f * step >= least && !(f * step < m)) return f * step;
    }
    if (step > 1e12) return step;
    step *= 10;
  }
}

struct panel {
  double top;
  double limit;
};

double panel_y(const panel& p, double v) {
  // Values past the limit stand on the panel's edge.
  const double y = p.top + PANEL_HEIGHT / 2 - v / p.limit * (PANEL_HEIGHT / 2);
  if (!(y >= p.top)) return p.top;
  return std::min(y, p.top + PANEL_HEIGHT);
}

double time_x(const check_drawing& d, std::int64_t frame) {
  const double frames = d.frames > 0 ? static_cast<double>(d.frames) : 1.0;
  double f = static_cast<double>(frame);
  if (f < 0) f = 0;
  if (f > frames) f = frames;
  return PLOT_LEFT + f / frames * (PLOT_RIGHT - PLOT_LEFT);
}

const std::string& name_of(const check_drawing& d, const decode_check& s) {
  return d.names[static_cast<std::size_t>(s.track)];
}

bool on_lag_line(const place_finding& p) { return p.kind != PLACE_SKIPPED; }
bool on_level_line(const place_finding& p) { return p.level_judged && std::isfinite(p.level); }

// A panel's frame, its grid and values, the passage shaded, the time ticks,
// and the quiet places' grey ticks.
void draw_panel(std::string& out, const check_drawing& d, const panel& p, const char* title, const char* unit) {
  const double bottom = p.top + PANEL_HEIGHT;
  append(out, "<text x=\"%.1f\" y=\"%.1f\" class=\"t\">%s</text>\n", PLOT_LEFT, p.top - 8, title);
  const double from = time_x(d, d.from);
  append(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#e6edf7\"/>\n", from, p.top,
         time_x(d, d.from + d.length) - from, PANEL_HEIGHT);
  for (int k = -2; k <= 2; ++k) {
    const double v = p.limit * k / 2;
    const double y = panel_y(p, v);
    append(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\"/>\n", PLOT_LEFT, y, PLOT_RIGHT, y,
           k == 0 ? "#999" : "#ddd");
    if (k % 2 == 0) append(out, "<text x=\"%.1f\" y=\"%.1f\" class=\"y\">%+g%s</text>\n", PLOT_LEFT - 6, y + 4, v, unit);
  }
  append(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"none\" stroke=\"#333\"/>\n", PLOT_LEFT,
         p.top, PLOT_RIGHT - PLOT_LEFT, PANEL_HEIGHT);
  const std::int64_t seconds = d.rate == 0 ? 0 : d.frames / d.rate;
  std::int64_t step = TICK_SECONDS[0];
  for (int s : TICK_SECONDS) {
    step = s;
    if (seconds / s <= MAX_TICKS) break;
  }
  for (std::int64_t t = 0; t <= seconds; t += step) {
    const double x = time_x(d, t * d.rate);
    append(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#333\"/>\n", x, bottom, x, bottom + 4);
    append(out, "<text x=\"%.1f\" y=\"%.1f\" class=\"x\">%lld:%02lld</text>\n", x, bottom + 16,
           static_cast<long long>(t / 60), static_cast<long long>(t % 60));
  }
  for (std::size_t i = 0; i < d.check->places.size(); ++i) {
    bool quiet = false;
    for (const decode_check& s : d.check->decodes) quiet = quiet || (i < s.places.size() && s.places[i].quiet);
    if (!quiet) continue;
    const double x = time_x(d, d.check->places[i]);
    append(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#888\" stroke-width=\"2\"/>\n", x,
           bottom - 8, x, bottom);
  }
}

// One decode's line on a panel: a polyline through each run of places that
// `drawn` takes, and a dot at each.
template <class Take, class Value>
void draw_series(std::string& out, const check_drawing& d, const decode_check& s, const panel& p, const char* colour,
                 double width, Take drawn, Value value) {
  std::string points;
  int count = 0;
  const auto flush = [&] {
    if (count >= 2) {
      append(out, "<polyline fill=\"none\" stroke=\"%s\" stroke-width=\"%.1f\" points=\"", colour, width);
      out += points + "\"/>\n";
    }
    points.clear();
    count = 0;
  };
  for (std::size_t i = 0; i < d.check->places.size() && i < s.places.size(); ++i) {
    if (!drawn(s.places[i])) {
      flush();
      continue;
    }
    const double x = time_x(d, d.check->places[i]);
    const double y = panel_y(p, value(s.places[i]));
    append(points, count == 0 ? "%.1f,%.1f" : " %.1f,%.1f", x, y);
    ++count;
    append(out, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.5\" fill=\"%s\"/>\n", x, y, colour);
  }
  flush();
}

// The mark of a fault at (x, y): a cross for a place lost, a triangle for a
// dropout, a diamond for swapped channels.
void draw_fault(std::string& out, double x, double y, const char* kind, const char* colour, const std::string& tip) {
  out += "<g><title>" + tip + "</title>";
  if (kind[0] == 'l') {
    append(out, "<path d=\"M%.1f %.1fl10 10m0 -10l-10 10\" stroke=\"%s\" stroke-width=\"2.5\"/>", x - 5, y - 5, colour);
  } else if (kind[0] == 'd') {
    append(out, "<path d=\"M%.1f %.1fh12l-6 10z\" fill=\"%s\" stroke=\"#000\"/>", x - 6, y - 5, colour);
  } else {
    append(out, "<path d=\"M%.1f %.1fl6 6l-6 6l-6 -6z\" fill=\"none\" stroke=\"%s\" stroke-width=\"2\"/>", x, y - 6,
           colour);
  }
  out += "</g>\n";
}

}  // namespace

std::string check_csv(const check_drawing& d) {
  std::string out = "decode,time_s,lag_frames,score,level_db,kind,quiet\n";
  for (const decode_check& s : d.check->decodes) {
    const std::string name = csv_field(name_of(d, s));
    for (std::size_t i = 0; i < d.check->places.size() && i < s.places.size(); ++i) {
      const place_finding& p = s.places[i];
      const std::int64_t ms = milliseconds(d.check->places[i], d.rate);
      out += name;
      append(out, ",%lld.%03lld,", static_cast<long long>(ms / 1000), static_cast<long long>(ms % 1000));
      // A place not looked at has no lag, score or level; a score that is not
      // finite would print differently between C libraries.
      if (p.kind != PLACE_SKIPPED) append(out, "%lld", static_cast<long long>(p.lag));
      out += ',';
      if (p.kind != PLACE_SKIPPED && std::isfinite(p.score)) append(out, "%.4f", p.score);
      out += ',';
      if (p.level_judged && std::isfinite(p.level)) append(out, "%.3f", p.level);
      append(out, ",%s,%s\n", KIND_NAMES[p.kind], p.quiet ? "yes" : "no");
    }
  }
  return out;
}

std::string check_svg(const check_drawing& d) {
  double lag = 0;
  double level = 0;
  for (const decode_check& s : d.check->decodes) {
    for (const place_finding& p : s.places) {
      if (on_lag_line(p)) lag = std::max(lag, std::fabs(static_cast<double>(p.lag)));
      if (on_level_line(p)) level = std::max(level, std::fabs(p.level));
    }
  }
  const panel lag_panel{LAG_TOP, nice_limit(lag, LEAST_LAG)};
  const panel level_panel{LEVEL_TOP, nice_limit(level, LEAST_LEVEL)};
  std::string out;
  append(out,
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
         "font-family=\"sans-serif\" font-size=\"12\">\n",
         WIDTH, HEIGHT, WIDTH, HEIGHT);
  out += "<title>eqalign-pack: each decode's lag and level across the original</title>\n"
         "<style>.t{font-weight:bold}.y{text-anchor:end}.x{text-anchor:middle}</style>\n";
  append(out, "<rect width=\"%d\" height=\"%d\" fill=\"#fff\"/>\n", WIDTH, HEIGHT);
  draw_panel(out, d, lag_panel, "Lag (frames off each decode's delay)", "");
  draw_panel(out, d, level_panel, "Level (dB against each decode's first-second gain)", " dB");
  append(out, "<text x=\"%.1f\" y=\"%d\" class=\"x\">time in the original (m:ss)</text>\n", (PLOT_LEFT + PLOT_RIGHT) / 2,
         HEIGHT - 8);
  if (d.check->places.empty())
    append(out, "<text x=\"%.1f\" y=\"%.1f\" class=\"x\">No place was checked: the original is too short.</text>\n",
           (PLOT_LEFT + PLOT_RIGHT) / 2, LAG_TOP + PANEL_HEIGHT / 2 - 10);
  for (std::size_t n = 0; n < d.check->decodes.size(); ++n) {
    const decode_check& s = d.check->decodes[n];
    const char* colour = COLOURS[n % std::size(COLOURS)];
    // Decodes in step lie on one line: each earlier one drawn wider, below.
    const double width = 1.5 + 1.5 * static_cast<double>(d.check->decodes.size() - 1 - n);
    draw_series(out, d, s, lag_panel, colour, width, on_lag_line, [](const place_finding& p) { return static_cast<double>(p.lag); });
    draw_series(out, d, s, level_panel, colour, width, on_level_line, [](const place_finding& p) { return p.level; });
    for (std::size_t i = 0; i < d.check->places.size() && i < s.places.size(); ++i) {
      const place_finding& p = s.places[i];
      const char* fault = p.kind == PLACE_LOST ? "lost" : p.kind == PLACE_DROPOUT ? "dropout" : p.swapped ? "swapped" : nullptr;
      if (fault == nullptr) continue;
      const std::int64_t ms = milliseconds(d.check->places[i], d.rate);
      std::string tip = xml_text(name_of(d, s)) + ": " + fault + " at ";
      append(tip, "%lld:%02lld.%03lld", static_cast<long long>(ms / 60000), static_cast<long long>(ms / 1000 % 60),
             static_cast<long long>(ms % 1000));
      draw_fault(out, time_x(d, d.check->places[i]), panel_y(lag_panel, static_cast<double>(p.lag)), fault, colour, tip);
    }
    const double y = LAG_TOP + 10 + 18 * static_cast<double>(n);
    append(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"%s\" stroke-width=\"3\"/>", LEGEND_LEFT,
           y - 4, LEGEND_LEFT + 20, y - 4, colour);
    append(out, "<text x=\"%.1f\" y=\"%.1f\">", LEGEND_LEFT + 26, y);
    out += xml_text(name_of(d, s), LEGEND_BYTES);
    if (!d.delays.empty()) append(out, " (delay %d)", static_cast<int>(d.delays[static_cast<std::size_t>(s.track)]));
    out += "</text>\n";
  }
  // What the marks mean, below the names.
  const double keys = LAG_TOP + 30 + 18 * static_cast<double>(d.check->decodes.size());
  draw_fault(out, LEGEND_LEFT + 10, keys - 4, "lost", "#000", "lost");
  draw_fault(out, LEGEND_LEFT + 10, keys + 14, "dropout", "#fff", "dropout");
  draw_fault(out, LEGEND_LEFT + 10, keys + 32, "swapped", "#000", "swapped");
  append(out, "<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" stroke=\"#888\" stroke-width=\"2\"/>\n",
         LEGEND_LEFT + 10, keys + 42, LEGEND_LEFT + 10, keys + 50);
  append(out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"20\" height=\"10\" fill=\"#e6edf7\"/>\n", LEGEND_LEFT, keys + 58);
  const char* const meanings[] = {"lost: no match near", "dropout: silent", "swapped channels",
                                  "quiet: not checked", "the passage packed"};
  for (int k = 0; k < 5; ++k)
    append(out, "<text x=\"%.1f\" y=\"%.1f\">%s</text>\n", LEGEND_LEFT + 26, keys + 18 * k, meanings[k]);
  out += "</svg>\n";
  return out;
}
