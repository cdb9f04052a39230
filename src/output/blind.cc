#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "output/output.h"
#include "platform/platform.h"

namespace {

// ln 2, and 20 / ln 10 that turns a natural logarithm into decibels.
constexpr double LN_2 = 0.6931471805599453;
constexpr double DB_PER_NEPER = 8.685889638065035;
constexpr double SQRT_HALF = 0.7071067811865476;

// SplitMix64 (Steele, Lea and Flood, 2014), its published constants.
std::uint64_t next(std::uint64_t& state) {
  state += 0x9E3779B97F4A7C15;
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
  return z ^ (z >> 31);
}

// A field quoted when it holds a comma, a quote or a line end, its quotes doubled.
std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

std::vector<int> blind_order(std::uint64_t seed, int count) {
  std::vector<int> order(static_cast<std::size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) order[static_cast<std::size_t>(i)] = i;
  for (int i = count - 1; i >= 1; --i) {
    const auto j = static_cast<int>(next(seed) % static_cast<std::uint64_t>(i + 1));
    std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(j)]);
  }
  return order;
}

std::string blind_name(int position) {
  // Appended: GCC 12 warns wrongly on "C" + a string.
  return std::string("C").append(std::to_string(position + 1)).append(".wav");
}

double portable_decibels(double factor) {
  // factor = m 2^e exactly, m in [sqrt(1/2), sqrt(2)); ln m = 2 atanh(t) for
  // t = (m - 1) / (m + 1), |t| < 0.172, whose odd powers past the 41st are
  // below a double's last bit of the sum.
  int e = 0;
  double m = std::frexp(factor, &e);
  if (m < SQRT_HALF) {
    m *= 2;
    --e;
  }
  const double t = (m - 1) / (m + 1);
  const double t2 = t * t;
  double sum = 0;
  double power = t;
  for (int k = 1; k <= 41; k += 2) {
    sum += power / k;
    power *= t2;
  }
  return (2 * sum + e * LN_2) * DB_PER_NEPER;
}

std::string key_text(const std::vector<key_entry>& stimuli, const std::vector<int>& order) {
  std::string text = "name,input,delay,gain_db\n";
  for (std::size_t k = 0; k < order.size(); ++k) {
    const key_entry& s = stimuli[static_cast<std::size_t>(order[k])];
    char figures[64];
    std::snprintf(figures, sizeof figures, ",%lld,%.3f\n", static_cast<long long>(s.delay), portable_decibels(s.gain));
    std::string name = blind_name(static_cast<int>(k));
    name.resize(name.size() - 4);
    text += name + "," + csv_field(s.input) + figures;
  }
  return text;
}

std::string key_name(const std::string& folder) { return folder + ".key.csv"; }

std::string key_taken(const std::string& key) {
  if (!name_exists(key)) return "";
  return "The key file exists already : " + key + ".\n";
}
