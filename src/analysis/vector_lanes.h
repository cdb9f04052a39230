// Vectors of doubles for the kernels that run many sums side by side, one
// sum a lane; internal to the analysis.
#pragma once

// Vectors of W doubles, and the same read or written at any double's
// address: a plain load or store on every CPU, where a memcpy may go through
// the stack. Nothing takes the accumulators' address, so that they stay in
// registers although such a load may alias anything.
// Spelled out per width: the attribute would be lost on
// a type that depends on a template parameter.
template <int W>
struct lanes_of;
template <>
struct lanes_of<2> {
  typedef double type __attribute__((vector_size(16)));
  typedef double unaligned __attribute__((vector_size(16), aligned(8), may_alias));
};
template <>
struct lanes_of<4> {
  typedef double type __attribute__((vector_size(32)));
  typedef double unaligned __attribute__((vector_size(32), aligned(8), may_alias));
};
template <>
struct lanes_of<8> {
  typedef double type __attribute__((vector_size(64)));
  typedef double unaligned __attribute__((vector_size(64), aligned(8), may_alias));
};

// Spelled out: `auto` would drop the alignment attribute.
template <int W>
[[gnu::always_inline]] inline const typename lanes_of<W>::unaligned* unaligned_at(const double* p) {
  return reinterpret_cast<const typename lanes_of<W>::unaligned*>(p);
}
template <int W>
[[gnu::always_inline]] inline typename lanes_of<W>::unaligned* unaligned_at(double* p) {
  return reinterpret_cast<typename lanes_of<W>::unaligned*>(p);
}
