// Cosines and tangents of pi u from additions, multiplications and divisions
// only: the C library's may round differently on another platform, and what
// they decide is written to files.
#pragma once

constexpr double PI = 3.14159265358979323846;

// sin x for |x| <= pi/4, by its Taylor series carried to x^21 in Horner form,
// x (1 - x^2/(2*3) (1 - x^2/(4*5) (1 - ...))): the first term left out,
// x^23/23!, is below 1e-24, far less than a double's last bit.
inline double sine_series(double x) {
  const double x2 = x * x;
  double sum = 0;
  for (int k = 21; k >= 3; k -= 2) sum = 1.0 - x2 / (static_cast<double>(k - 1) * k) * sum;
  return x * sum;
}

// cos x for |x| <= pi/4, by its Taylor series carried to x^20,
// 1 - x^2/(1*2) (1 - x^2/(3*4) (1 - ...)): the first term left out, x^22/22!,
// is below 1e-23.
inline double cosine_series(double x) {
  const double x2 = x * x;
  double sum = 0;
  for (int k = 20; k >= 2; k -= 2) sum = 1.0 - x2 / (static_cast<double>(k - 1) * k) * sum;
  return sum;
}

// cos(pi u) for u in [0, 1], from a series on at most a quarter turn.
inline double cos_pi(double u) {
  const bool negate = u > 0.5;
  if (negate) u = 1.0 - u;
  const double value = u > 0.25 ? sine_series(PI * (0.5 - u)) : cosine_series(PI * u);
  return negate ? -value : value;
}

// tan(pi u) for u in [0, 0.5), as a sine over a cosine of at most an eighth
// of a turn; 0.5 - u is exact for u above 0.25.
inline double tan_pi(double u) {
  if (u <= 0.25) return sine_series(PI * u) / cosine_series(PI * u);
  const double x = PI * (0.5 - u);
  return cosine_series(x) / sine_series(x);
}
