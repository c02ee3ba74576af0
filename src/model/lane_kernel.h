#pragma once

// The lane kernels' one source, included by lanes_avx512.cpp and
// lanes_avx2.cpp only, each compiled for its own instruction set. Everything
// here has internal linkage, so no function compiled for one instruction set
// can stand in for another's copy at link time.
//
// A kernel runs one pass over the 365-day year for up to 32 records at once,
// in K vectors of W lanes. Every operation is the scalar engine's
// (engine.cpp, onePass and betaCurve), in the same order and on the same
// operands, and each is a correctly rounded IEEE operation (add, sub, mul,
// div, compare, min/max as a compare and a choice, blend), so each lane gives
// the scalar engine's bits. The only fused multiply-adds are in the copy of
// the C library's exp below, which has them because the library's has them.
// Where a scalar `if` chooses, the lanes compute both sides and blend; the
// side not taken never reaches a result.

// g++ 12 warns of the intrinsics' own placeholder operands
// (_mm512_undefined_pd) once they are inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>

#include "model/engine_internal.h"
#include "model/lanes.h"

namespace vadoset::lanes {
namespace {

// The C library's exp (glibc 2.28 and later, from Arm's optimized routines)
// writes exp(x) = 2^(k/128) * exp(r): k = round(x * 128/ln 2), r = x - k ln2/128
// in two steps, exp(r) - 1 by a polynomial of degree 5, and 2^(k/128) from
// this table as scale and tail. With FMA (the variant it picks on this kind
// of CPU) its main path, for 2^-54 <= |x| < 512, is:
//   kd = fma(x, invLn2N, shift); ki = bits(kd); kd -= shift
//   r = fma(kd, negLn2HiN, x); r = fma(kd, negLn2LoN, r)
//   tmp = fma(fma(r4, fma(r, C5, C4), fma(fma(r, C3, C2), r2, tail + r))  (r2 = r*r, r4 = r2*r2)
//   scale = bits(tab[2i+1] + (ki << 45)); result = fma(scale, tmp, scale)
// The copy below does exactly that; any other x goes to std::exp. Whether the
// copy matches the library on this machine is checked once at start-up
// (lane_engine.cpp), and the lanes call std::exp per lane when it does not.
constexpr std::uint64_t kExpInvLn2N = 0x40671547652b82feULL;
constexpr std::uint64_t kExpNegLn2HiN = 0xbf762e42fefa0000ULL;
constexpr std::uint64_t kExpNegLn2LoN = 0xbd0cf79abc9e3b3aULL;
constexpr std::uint64_t kExpC2 = 0x3fdffffffffffdbdULL;
constexpr std::uint64_t kExpC3 = 0x3fc555555555543cULL;
constexpr std::uint64_t kExpC4 = 0x3fa55555cf172b91ULL;
constexpr std::uint64_t kExpC5 = 0x3f81111167a4d017ULL;
constexpr std::uint64_t kExpShift = 0x4338000000000000ULL;
// tab[2i] is the tail, tab[2i+1] the scale's bits less i << 45.
alignas(64) constexpr std::uint64_t kExpTable[256] = {
#include "model/exp_table.inc"
};

// The C library's pow (the same glibc, the same origin) writes x^y as
// exp(y log x) with log x to about 68 bits as hi + lo. x = 2^k z with z in
// [0x1.69555p-1, 0x1.69555p0); the bits of z - 0x1.69555p-1 pick one of 128
// intervals, whose c gives log z = log c + log1p(r), r = z/c - 1 exact, and
// log1p(r) by a polynomial in r of degree 8. With FMA (its variant on this
// kind of CPU, read off its machine code) the main path, for positive normal
// x, 2^-65 <= |y| < 2^63 and 2^-54 <= |y log x| < 512, is:
//   tmp = bits(x) - off; i = (tmp >> 45) % 128; k = tmp >> 52 (arithmetic)
//   z = bits(bits(x) - (tmp & 0xfff << 52)); r = fma(z, invc, -1)
//   t1 = fma(k, ln2hi, logc); t2 = t1 + r; lo1 = fma(k, ln2lo, logctail)
//   lo2 = (t1 - t2) + r; ar = r A0; ar2 = r ar; ar3 = r ar2; hi = t2 + ar2
//   lo3 = fma(ar, r, -ar2); lo4 = (t2 - hi) + ar2
//   q = fma(ar2, fma(ar2, fma(r, A6, A5), fma(r, A4, A3)), fma(r, A2, A1))
//   lo = fma(ar3, q, ((lo1 + lo2) + lo3) + lo4); l = hi + lo; tail = (hi - l) + lo
//   ehi = y l; elo = fma(y, tail, fma(l, y, -ehi))
// then exp's main path above on ehi with r = elo + r after its two fused
// steps. Where |ehi| < 2^-54 it returns 1 + ehi. Any other lane goes to
// std::pow (detail::libraryPow); whether the copy matches the library is
// checked at start-up.
constexpr std::uint64_t kPowOff = 0x3fe6955500000000ULL;
constexpr std::uint64_t kPowLn2Hi = 0x3fe62e42fefa3800ULL;
constexpr std::uint64_t kPowLn2Lo = 0x3d2ef35793c76730ULL;
constexpr std::uint64_t kPowA[7] = {0xbfe0000000000000ULL, 0xbfe5555555555560ULL, 0x3fe0000000000006ULL,
                                    0x3fe999999959554eULL, 0xbfe555555529a47aULL, 0xbff2495b9b4845e9ULL,
                                    0x3ff0002b8b263fc3ULL};
// Row i: 1/c, logc, logctail (and a zero, so that a row is four doubles).
alignas(64) constexpr std::uint64_t kPowLogTable[128][4] = {
#include "model/pow_log_table.inc"
};

double fromBits(std::uint64_t u) {
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

#ifdef __AVX512F__
struct V512 {
  using R = __m512d;
  using M = __mmask8;
  static constexpr int W = 8;
  static R set1(double x) { return _mm512_set1_pd(x); }
  static R load(const double* p) { return _mm512_load_pd(p); }
  static void store(double* p, R v) { _mm512_store_pd(p, v); }
  static R loadu(const double* p) { return _mm512_loadu_pd(p); }
  static void storeu(double* p, R v) { _mm512_storeu_pd(p, v); }
  static R add(R a, R b) { return _mm512_add_pd(a, b); }
  static R sub(R a, R b) { return _mm512_sub_pd(a, b); }
  static R mul(R a, R b) { return _mm512_mul_pd(a, b); }
  static R div(R a, R b) { return _mm512_div_pd(a, b); }
  // a < b ? a : b, and a > b ? a : b (b when either is NaN).
  static R min(R a, R b) { return _mm512_min_pd(a, b); }
  static R max(R a, R b) { return _mm512_max_pd(a, b); }
  static M lt(R a, R b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
  static R select(M m, R ifTrue, R ifFalse) { return _mm512_mask_blend_pd(m, ifFalse, ifTrue); }
  static R zeroUnless(M m, R v) { return _mm512_maskz_mov_pd(m, v); }
  static R abs(R v) {
    return _mm512_castsi512_pd(_mm512_and_si512(_mm512_castpd_si512(v), _mm512_set1_epi64(0x7fffffffffffffffLL)));
  }
  static M eq(R a, R b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
  static M none() { return 0; }
  static bool any(M m) { return m != 0; }
  static M orMask(M a, M b) { return static_cast<M>(a | b); }
  static M andNot(M a, M b) { return static_cast<M>(a & ~b); }
  static M notMask(M a) { return static_cast<M>(~a); }
  static R maskToOne(M m) { return _mm512_maskz_mov_pd(m, _mm512_set1_pd(1.0)); }

  static R exp(R x) {
    const R ax = abs(x);
    const M main = static_cast<M>(_mm512_cmp_pd_mask(ax, set1(0x1p-54), _CMP_GE_OQ) &
                                  _mm512_cmp_pd_mask(ax, set1(512.0), _CMP_LT_OQ));
    const R shift = set1(fromBits(kExpShift));
    R kd = _mm512_fmadd_pd(x, set1(fromBits(kExpInvLn2N)), shift);
    const __m512i ki = _mm512_castpd_si512(kd);
    kd = _mm512_sub_pd(kd, shift);
    R r = _mm512_fmadd_pd(kd, set1(fromBits(kExpNegLn2HiN)), x);
    r = _mm512_fmadd_pd(kd, set1(fromBits(kExpNegLn2LoN)), r);
    const __m512i at = _mm512_slli_epi64(_mm512_and_si512(ki, _mm512_set1_epi64(127)), 1);
    const R tail = _mm512_i64gather_pd(at, kExpTable, 8);
    const __m512i sbits = _mm512_add_epi64(
        _mm512_i64gather_epi64(_mm512_add_epi64(at, _mm512_set1_epi64(1)), kExpTable, 8), _mm512_slli_epi64(ki, 45));
    const R p23 = _mm512_fmadd_pd(r, set1(fromBits(kExpC3)), set1(fromBits(kExpC2)));
    const R tr = _mm512_add_pd(r, tail);
    const R r2 = _mm512_mul_pd(r, r);
    const R p45 = _mm512_fmadd_pd(r, set1(fromBits(kExpC5)), set1(fromBits(kExpC4)));
    const R t = _mm512_fmadd_pd(p23, r2, tr);
    const R r4 = _mm512_mul_pd(r2, r2);
    const R tmp = _mm512_fmadd_pd(r4, p45, t);
    const R scale = _mm512_castsi512_pd(sbits);
    R result = _mm512_fmadd_pd(scale, tmp, scale);
    if (main != 0xff) [[unlikely]] {
      alignas(64) double xs[W], rs[W];
      store(xs, x);
      store(rs, result);
      for (int i = 0; i < W; ++i)
        if (!((main >> i) & 1)) rs[i] = std::exp(xs[i]);
      result = load(rs);
    }
    return result;
  }

  // pow(x, y) for the lanes in `active`; the others are left undefined.
  static R pow(R x, R y, M active) {
    auto c = [](std::uint64_t bits) { return set1(fromBits(bits)); };
    auto ci = [](std::uint64_t v) { return _mm512_set1_epi64(static_cast<long long>(v)); };
    const __m512i ix = _mm512_castpd_si512(x);
    const __m512i tmp = _mm512_sub_epi64(ix, ci(kPowOff));
    const __m512i at = _mm512_slli_epi64(_mm512_and_si512(_mm512_srli_epi64(tmp, 45), ci(127)), 2);
    // k as a double: the top 12 bits of tmp with the sign bit flipped are k + 2048.
    const __m512i kb = _mm512_or_si512(_mm512_xor_si512(_mm512_srli_epi64(tmp, 52), ci(0x800)), ci(0x4330000000000000));
    const R k = sub(sub(_mm512_castsi512_pd(kb), set1(0x1p52)), set1(2048.0));
    const R z = _mm512_castsi512_pd(_mm512_sub_epi64(ix, _mm512_and_si512(tmp, ci(0xfff0000000000000ULL))));
    const auto* table = reinterpret_cast<const double*>(kPowLogTable);
    const R invc = _mm512_i64gather_pd(at, table, 8);
    const R logc = _mm512_i64gather_pd(_mm512_add_epi64(at, ci(1)), table, 8);
    const R logctail = _mm512_i64gather_pd(_mm512_add_epi64(at, ci(2)), table, 8);
    const R r = _mm512_fmadd_pd(z, invc, set1(-1.0));
    const R t1 = _mm512_fmadd_pd(k, c(kPowLn2Hi), logc);
    const R t2 = add(t1, r);
    const R lo1 = _mm512_fmadd_pd(k, c(kPowLn2Lo), logctail);
    const R lo2 = add(sub(t1, t2), r);
    const R ar = mul(r, c(kPowA[0]));
    const R ar2 = mul(r, ar);
    const R ar3 = mul(r, ar2);
    const R hi = add(t2, ar2);
    const R lo3 = _mm512_fmsub_pd(ar, r, ar2);
    const R lo4 = add(sub(t2, hi), ar2);
    const R q56 = _mm512_fmadd_pd(r, c(kPowA[6]), c(kPowA[5]));
    const R q36 = _mm512_fmadd_pd(ar2, q56, _mm512_fmadd_pd(r, c(kPowA[4]), c(kPowA[3])));
    const R q16 = _mm512_fmadd_pd(ar2, q36, _mm512_fmadd_pd(r, c(kPowA[2]), c(kPowA[1])));
    const R lo = _mm512_fmadd_pd(ar3, q16, add(add(add(lo1, lo2), lo3), lo4));
    const R l = add(hi, lo);
    const R ltail = add(sub(hi, l), lo);
    const R ehi = mul(y, l);
    const R elo = _mm512_fmadd_pd(y, ltail, _mm512_fmsub_pd(l, y, ehi));
    // exp(ehi + elo)
    const R shift = c(kExpShift);
    R kd = _mm512_fmadd_pd(ehi, c(kExpInvLn2N), shift);
    const __m512i ki = _mm512_castpd_si512(kd);
    kd = sub(kd, shift);
    R er = _mm512_fmadd_pd(kd, c(kExpNegLn2HiN), ehi);
    er = _mm512_fmadd_pd(kd, c(kExpNegLn2LoN), er);
    er = add(elo, er);
    const __m512i et = _mm512_slli_epi64(_mm512_and_si512(ki, ci(127)), 1);
    const R tail = _mm512_i64gather_pd(et, kExpTable, 8);
    const __m512i sbits =
        _mm512_add_epi64(_mm512_i64gather_epi64(_mm512_add_epi64(et, ci(1)), kExpTable, 8), _mm512_slli_epi64(ki, 45));
    const R p23 = _mm512_fmadd_pd(er, c(kExpC3), c(kExpC2));
    const R tr = add(er, tail);
    const R r2 = mul(er, er);
    const R p45 = _mm512_fmadd_pd(er, c(kExpC5), c(kExpC4));
    const R t = _mm512_fmadd_pd(p23, r2, tr);
    const R r4 = mul(r2, r2);
    const R etmp = _mm512_fmadd_pd(r4, p45, t);
    const R scale = _mm512_castsi512_pd(sbits);
    R result = _mm512_fmadd_pd(scale, etmp, scale);
    const R ay = abs(y), ae = abs(ehi);
    const M xyMain = static_cast<M>(_mm512_cmp_pd_mask(x, set1(0x1p-1022), _CMP_GE_OQ) &
                                    _mm512_cmp_pd_mask(x, set1(0x1.fffffffffffffp1023), _CMP_LE_OQ) &
                                    _mm512_cmp_pd_mask(ay, set1(0x1p-65), _CMP_GE_OQ) &
                                    _mm512_cmp_pd_mask(ay, set1(0x1p63), _CMP_LT_OQ));
    const M tiny = static_cast<M>(xyMain & _mm512_cmp_pd_mask(ae, set1(0x1p-54), _CMP_LT_OQ));
    const M main = static_cast<M>(xyMain & _mm512_cmp_pd_mask(ae, set1(0x1p-54), _CMP_GE_OQ) &
                                  _mm512_cmp_pd_mask(ae, set1(512.0), _CMP_LT_OQ));
    result = _mm512_mask_add_pd(result, tiny, ehi, set1(1.0));
    const M other = static_cast<M>(active & ~(main | tiny));
    if (other != 0) [[unlikely]] {
      alignas(64) double xs[W], ys[W], rs[W];
      store(xs, x);
      store(ys, y);
      store(rs, result);
      for (int i = 0; i < W; ++i)
        if ((other >> i) & 1) rs[i] = detail::libraryPow(xs[i], ys[i]);
      result = load(rs);
    }
    return result;
  }
};
#endif

#ifdef __AVX2__
struct V256 {
  using R = __m256d;
  using M = __m256d;  // all ones in a lane for true
  static constexpr int W = 4;
  static R set1(double x) { return _mm256_set1_pd(x); }
  static R load(const double* p) { return _mm256_load_pd(p); }
  static void store(double* p, R v) { _mm256_store_pd(p, v); }
  static R loadu(const double* p) { return _mm256_loadu_pd(p); }
  static void storeu(double* p, R v) { _mm256_storeu_pd(p, v); }
  static R add(R a, R b) { return _mm256_add_pd(a, b); }
  static R sub(R a, R b) { return _mm256_sub_pd(a, b); }
  static R mul(R a, R b) { return _mm256_mul_pd(a, b); }
  static R div(R a, R b) { return _mm256_div_pd(a, b); }
  static R min(R a, R b) { return _mm256_min_pd(a, b); }
  static R max(R a, R b) { return _mm256_max_pd(a, b); }
  static M lt(R a, R b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
  static R select(M m, R ifTrue, R ifFalse) { return _mm256_blendv_pd(ifFalse, ifTrue, m); }
  static R zeroUnless(M m, R v) { return _mm256_and_pd(m, v); }
  static R abs(R v) {
    return _mm256_castsi256_pd(_mm256_and_si256(_mm256_castpd_si256(v), _mm256_set1_epi64x(0x7fffffffffffffffLL)));
  }
  static M eq(R a, R b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
  static M none() { return _mm256_setzero_pd(); }
  static bool any(M m) { return _mm256_movemask_pd(m) != 0; }
  static M orMask(M a, M b) { return _mm256_or_pd(a, b); }
  static M andNot(M a, M b) { return _mm256_andnot_pd(b, a); }
  static M notMask(M a) { return _mm256_xor_pd(a, _mm256_castsi256_pd(_mm256_set1_epi64x(-1))); }
  static R maskToOne(M m) { return _mm256_and_pd(m, _mm256_set1_pd(1.0)); }

  // Out of line: the fused steps need the FMA instructions, which the rest of
  // this kernel is not compiled with.
  __attribute__((target("avx2,fma"), noinline)) static R exp(R x) {
    const R ax = abs(x);
    const int main = _mm256_movemask_pd(
        _mm256_and_pd(_mm256_cmp_pd(ax, set1(0x1p-54), _CMP_GE_OQ), _mm256_cmp_pd(ax, set1(512.0), _CMP_LT_OQ)));
    const R shift = set1(fromBits(kExpShift));
    R kd = _mm256_fmadd_pd(x, set1(fromBits(kExpInvLn2N)), shift);
    const __m256i ki = _mm256_castpd_si256(kd);
    kd = _mm256_sub_pd(kd, shift);
    R r = _mm256_fmadd_pd(kd, set1(fromBits(kExpNegLn2HiN)), x);
    r = _mm256_fmadd_pd(kd, set1(fromBits(kExpNegLn2LoN)), r);
    const __m256i at = _mm256_slli_epi64(_mm256_and_si256(ki, _mm256_set1_epi64x(127)), 1);
    const auto* table = reinterpret_cast<const long long*>(kExpTable);
    const R tail = _mm256_i64gather_pd(reinterpret_cast<const double*>(kExpTable), at, 8);
    const __m256i sbits = _mm256_add_epi64(
        _mm256_i64gather_epi64(table, _mm256_add_epi64(at, _mm256_set1_epi64x(1)), 8), _mm256_slli_epi64(ki, 45));
    const R p23 = _mm256_fmadd_pd(r, set1(fromBits(kExpC3)), set1(fromBits(kExpC2)));
    const R tr = _mm256_add_pd(r, tail);
    const R r2 = _mm256_mul_pd(r, r);
    const R p45 = _mm256_fmadd_pd(r, set1(fromBits(kExpC5)), set1(fromBits(kExpC4)));
    const R t = _mm256_fmadd_pd(p23, r2, tr);
    const R r4 = _mm256_mul_pd(r2, r2);
    const R tmp = _mm256_fmadd_pd(r4, p45, t);
    const R scale = _mm256_castsi256_pd(sbits);
    R result = _mm256_fmadd_pd(scale, tmp, scale);
    if (main != 0xf) [[unlikely]] {
      alignas(32) double xs[W], rs[W];
      store(xs, x);
      store(rs, result);
      for (int i = 0; i < W; ++i)
        if (!((main >> i) & 1)) rs[i] = std::exp(xs[i]);
      result = load(rs);
    }
    return result;
  }

  // pow(x, y) for the lanes in `active`, as V512::pow.
  __attribute__((target("avx2,fma"), noinline)) static R pow(R x, R y, M active) {
    auto c = [](std::uint64_t bits) { return set1(fromBits(bits)); };
    auto ci = [](std::uint64_t v) { return _mm256_set1_epi64x(static_cast<long long>(v)); };
    const __m256i ix = _mm256_castpd_si256(x);
    const __m256i tmp = _mm256_sub_epi64(ix, ci(kPowOff));
    const __m256i at = _mm256_slli_epi64(_mm256_and_si256(_mm256_srli_epi64(tmp, 45), ci(127)), 2);
    const __m256i kb = _mm256_or_si256(_mm256_xor_si256(_mm256_srli_epi64(tmp, 52), ci(0x800)), ci(0x4330000000000000));
    const R k = sub(sub(_mm256_castsi256_pd(kb), set1(0x1p52)), set1(2048.0));
    const R z = _mm256_castsi256_pd(_mm256_sub_epi64(ix, _mm256_and_si256(tmp, ci(0xfff0000000000000ULL))));
    const auto* table = reinterpret_cast<const double*>(kPowLogTable);
    const R invc = _mm256_i64gather_pd(table, at, 8);
    const R logc = _mm256_i64gather_pd(table, _mm256_add_epi64(at, ci(1)), 8);
    const R logctail = _mm256_i64gather_pd(table, _mm256_add_epi64(at, ci(2)), 8);
    const R r = _mm256_fmadd_pd(z, invc, set1(-1.0));
    const R t1 = _mm256_fmadd_pd(k, c(kPowLn2Hi), logc);
    const R t2 = add(t1, r);
    const R lo1 = _mm256_fmadd_pd(k, c(kPowLn2Lo), logctail);
    const R lo2 = add(sub(t1, t2), r);
    const R ar = mul(r, c(kPowA[0]));
    const R ar2 = mul(r, ar);
    const R ar3 = mul(r, ar2);
    const R hi = add(t2, ar2);
    const R lo3 = _mm256_fmsub_pd(ar, r, ar2);
    const R lo4 = add(sub(t2, hi), ar2);
    const R q56 = _mm256_fmadd_pd(r, c(kPowA[6]), c(kPowA[5]));
    const R q36 = _mm256_fmadd_pd(ar2, q56, _mm256_fmadd_pd(r, c(kPowA[4]), c(kPowA[3])));
    const R q16 = _mm256_fmadd_pd(ar2, q36, _mm256_fmadd_pd(r, c(kPowA[2]), c(kPowA[1])));
    const R lo = _mm256_fmadd_pd(ar3, q16, add(add(add(lo1, lo2), lo3), lo4));
    const R l = add(hi, lo);
    const R ltail = add(sub(hi, l), lo);
    const R ehi = mul(y, l);
    const R elo = _mm256_fmadd_pd(y, ltail, _mm256_fmsub_pd(l, y, ehi));
    const R shift = c(kExpShift);
    R kd = _mm256_fmadd_pd(ehi, c(kExpInvLn2N), shift);
    const __m256i ki = _mm256_castpd_si256(kd);
    kd = sub(kd, shift);
    R er = _mm256_fmadd_pd(kd, c(kExpNegLn2HiN), ehi);
    er = _mm256_fmadd_pd(kd, c(kExpNegLn2LoN), er);
    er = add(elo, er);
    const __m256i et = _mm256_slli_epi64(_mm256_and_si256(ki, ci(127)), 1);
    const auto* expTable = reinterpret_cast<const long long*>(kExpTable);
    const R tail = _mm256_i64gather_pd(reinterpret_cast<const double*>(kExpTable), et, 8);
    const __m256i sbits =
        _mm256_add_epi64(_mm256_i64gather_epi64(expTable, _mm256_add_epi64(et, ci(1)), 8), _mm256_slli_epi64(ki, 45));
    const R p23 = _mm256_fmadd_pd(er, c(kExpC3), c(kExpC2));
    const R tr = add(er, tail);
    const R r2 = mul(er, er);
    const R p45 = _mm256_fmadd_pd(er, c(kExpC5), c(kExpC4));
    const R t = _mm256_fmadd_pd(p23, r2, tr);
    const R r4 = mul(r2, r2);
    const R etmp = _mm256_fmadd_pd(r4, p45, t);
    const R scale = _mm256_castsi256_pd(sbits);
    R result = _mm256_fmadd_pd(scale, etmp, scale);
    const R ay = abs(y), ae = abs(ehi);
    const R xyMain = _mm256_and_pd(
        _mm256_and_pd(_mm256_cmp_pd(x, set1(0x1p-1022), _CMP_GE_OQ),
                      _mm256_cmp_pd(x, set1(0x1.fffffffffffffp1023), _CMP_LE_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(ay, set1(0x1p-65), _CMP_GE_OQ), _mm256_cmp_pd(ay, set1(0x1p63), _CMP_LT_OQ)));
    const R tiny = _mm256_and_pd(xyMain, _mm256_cmp_pd(ae, set1(0x1p-54), _CMP_LT_OQ));
    const R main = _mm256_and_pd(xyMain, _mm256_and_pd(_mm256_cmp_pd(ae, set1(0x1p-54), _CMP_GE_OQ),
                                                       _mm256_cmp_pd(ae, set1(512.0), _CMP_LT_OQ)));
    result = _mm256_blendv_pd(result, add(ehi, set1(1.0)), tiny);
    const int other = _mm256_movemask_pd(_mm256_andnot_pd(_mm256_or_pd(main, tiny), active));
    if (other != 0) [[unlikely]] {
      alignas(32) double xs[W], ys[W], rs[W];
      store(xs, x);
      store(ys, y);
      store(rs, result);
      for (int i = 0; i < W; ++i)
        if ((other >> i) & 1) rs[i] = detail::libraryPow(xs[i], ys[i]);
      result = load(rs);
    }
    return result;
  }
};
#endif

// std::exp on each lane in turn.
template <class V>
typename V::R expPerLane(typename V::R x) {
  alignas(64) double xs[V::W];
  V::store(xs, x);
  for (int i = 0; i < V::W; ++i) xs[i] = std::exp(xs[i]);
  return V::load(xs);
}

// std::pow on the active lanes in turn (the others get 0).
template <class V>
typename V::R powPerLane(typename V::R x, typename V::R y, typename V::M active) {
  alignas(64) double xs[V::W], ys[V::W], on[V::W];
  V::store(xs, x);
  V::store(ys, y);
  V::store(on, V::maskToOne(active));
  for (int i = 0; i < V::W; ++i) xs[i] = on[i] != 0.0 ? detail::libraryPow(xs[i], ys[i]) : 0.0;
  return V::load(xs);
}

// Run_pet (engine.cpp) on each lane. Where the scalar engine skips a month
// or a pow, the lane computes it anyway and keeps the value it would have
// had; the pow is computed only for the lanes that use it.
template <class V, bool VectorPow>
void petKernel(PetBlock& b, int lanes) {
  using R = typename V::R;
  using M = typename V::M;
  auto powOf = [](R x, R y, M active) { return VectorPow ? V::pow(x, y, active) : powPerLane<V>(x, y, active); };
  const R zero = V::set1(0.0);
  for (int l = 0; l < lanes; l += V::W) {
    R heat = zero;
    for (int m = 0; m < kMonths; ++m) {
      const R t = V::load(&b.tmean[m][l]);
      const M warm = V::lt(zero, t);
      const R p = powOf(V::div(t, V::set1(5.0)), V::set1(1.514), warm);
      heat = V::select(warm, V::add(heat, p), heat);
    }
    // A year with no month above 0 °C has no heat index, and so no PET.
    const M noHeat = V::eq(heat, zero);
    const M hasHeat = V::notMask(noHeat);
    const R cube = powOf(heat, V::set1(3.0), hasHeat);
    const R square = powOf(heat, V::set1(2.0), hasHeat);
    const R a = V::add(V::add(V::sub(V::mul(V::set1(6.75e-07), cube), V::mul(V::set1(7.71e-05), square)),
                              V::mul(V::set1(0.0179), heat)),
                       V::set1(0.49));
    for (int m = 0; m < kMonths; ++m) {
      const R t = V::load(&b.tmean[m][l]);
      const M none = V::orMask(V::lt(t, zero), noHeat);
      const M cool = V::lt(t, V::set1(26.5));
      const R p = powOf(V::div(V::mul(V::set1(10.0), t), heat), a, V::andNot(cool, none));
      const R cooler = V::mul(V::set1(16.0), p);
      const R hot = V::sub(V::add(V::set1(-415.85), V::mul(V::set1(32.24), t)), V::mul(V::mul(V::set1(0.43), t), t));
      const R pet = V::select(none, zero, V::select(cool, cooler, hot));
      const R scaled =
          V::mul(V::mul(pet, V::set1(static_cast<double>(kDaysPerMonth[static_cast<std::size_t>(m)]) / 30.0)),
                 V::div(V::load(&b.dayLength[m][l]), V::set1(12.0)));
      V::store(&b.pet[m][l], scaled);
    }
  }
}

// betaCurve (beta.h) on each lane, x the relative soil water.
template <class V, int Variant, bool VectorExp>
typename V::R curve(typename V::R x, const CurveConstants& kc) {
  using R = typename V::R;
  const R one = V::set1(1.0);
  auto expOf = [](R p) { return VectorExp ? V::exp(p) : expPerLane<V>(p); };
  if constexpr (Variant == 1) {
    const R p = V::mul(V::set1(-6.68), x);
    return V::sub(one, expOf(p));
  } else if constexpr (Variant == 2) {
    return x;
  } else if constexpr (Variant >= 3 && Variant <= 5) {
    constexpr double a = Variant == 3 ? 5.0 : Variant == 4 ? 4.0 : 3.0;
    constexpr double c = Variant == 3 ? 0.7 : Variant == 4 ? 0.5 : 0.3;
    const double e2 = Variant == 3 ? kc.e5 : Variant == 4 ? kc.e4 : kc.e3;
    const R q = V::div(x, V::set1(c));
    const R r = V::sub(one, q);
    const R p = V::mul(V::set1(-a), r);
    const R result = V::sub(expOf(p), V::set1(e2));
    return V::min(one, result);  // 1.0 < result ? 1.0 : result
  } else {
    static_assert(Variant == 6 || Variant == 7);
    constexpr double c = Variant == 6 ? 0.7 : 0.5;
    return V::min(one, V::div(x, V::set1(c)));
  }
}

// onePass (engine.cpp) for the lanes of K vectors.
template <class V, int Variant, bool VectorExp, int K>
void yearPass(LaneBlock& b, const CurveConstants& kc) {
  using R = typename V::R;
  using M = typename V::M;
  constexpr int W = V::W;
  const R zero = V::set1(0.0);
  const R one = V::set1(1.0);
  R w[K], ws[K], fc[K], yearMelt[K], yearSnowfall[K];
  [[maybe_unused]] R absBalance[K], maxAbsW[K];
  [[maybe_unused]] M reached[K];
  for (int k = 0; k < K; ++k) {
    w[k] = V::load(b.w + k * W);
    ws[k] = V::load(b.ws + k * W);
    fc[k] = V::load(b.fc + k * W);
    yearMelt[k] = zero;
    yearSnowfall[k] = zero;
    if constexpr (Variant == 0) {
      absBalance[k] = zero;
      maxAbsW[k] = V::abs(w[k]);
      reached[k] = V::none();
    }
  }
  for (int m = 0; m < kMonths; ++m) {
    const int days = kDaysPerMonth[static_cast<std::size_t>(m)];
    const R daysD = V::set1(static_cast<double>(days));
    R snowPerDay[K], rainPerDay[K], meltRate[K], petPerDay[K], wMonthStart[K], monthMelt[K], monthSurplus[K],
        monthSnowfall[K];
    for (int k = 0; k < K; ++k) {
      const R t = V::load(b.tmean[m] + k * W);
      const R perDay = V::div(V::load(b.ppt[m] + k * W), daysD);
      const M cold = V::lt(t, V::set1(-1.0));
      snowPerDay[k] = V::select(cold, perDay, zero);
      rainPerDay[k] = V::select(cold, zero, perDay);
      const R a = V::mul(V::set1(2.55), t);
      const R bb = V::add(V::set1(2.63), a);
      const R c = V::mul(V::set1(0.0912), t);
      const R d = V::mul(c, rainPerDay[k]);
      meltRate[k] = V::select(V::lt(t, zero), zero, V::add(bb, d));
      petPerDay[k] = V::div(V::load(b.pet[m] + k * W), daysD);
      wMonthStart[k] = w[k];
      monthMelt[k] = zero;
      monthSurplus[k] = zero;
      monthSnowfall[k] = zero;
    }
    for (int j = 0; j < days; ++j) {
      for (int k = 0; k < K; ++k) {
        const R pack = V::add(ws[k], snowPerDay[k]);
        // Once the pack runs out the lowered rate holds for the rest of the month.
        meltRate[k] = V::min(pack, meltRate[k]);
        ws[k] = V::sub(pack, meltRate[k]);
        const R balance = V::sub(V::add(meltRate[k], rainPerDay[k]), petPerDay[k]);
        R wk;
        if constexpr (Variant == 0) {
          wk = V::add(w[k], V::mul(one, balance));
        } else if constexpr (Variant < 0) {
          const R availability = V::select(V::lt(balance, zero), zero, one);
          wk = V::add(w[k], V::mul(availability, balance));
        } else if constexpr (Variant == 1 || (Variant >= 3 && Variant <= 5)) {
          // The exponential is dear: skipped while no lane has a deficit.
          const M deficit = V::lt(balance, zero);
          R availability = one;
          if (V::any(deficit))
            availability = V::select(deficit, curve<V, Variant, VectorExp>(V::div(w[k], fc[k]), kc), one);
          wk = V::add(w[k], V::mul(availability, balance));
        } else {
          const R beta = curve<V, Variant, VectorExp>(V::div(w[k], fc[k]), kc);
          const R availability = V::select(V::lt(balance, zero), beta, one);
          wk = V::add(w[k], V::mul(availability, balance));
        }
        const M over = V::lt(fc[k], wk);
        const R daySurplus = V::zeroUnless(over, V::sub(wk, fc[k]));
        wk = V::min(fc[k], wk);  // fc < wk ? fc : wk
        if constexpr (Variant == 0) {
          reached[k] = V::orMask(reached[k], over);
          absBalance[k] = V::add(absBalance[k], V::abs(balance));
          maxAbsW[k] = V::max(V::abs(wk), maxAbsW[k]);  // std::max(maxAbsW, |wk|)
        }
        w[k] = wk;
        monthMelt[k] = V::add(monthMelt[k], meltRate[k]);
        monthSurplus[k] = V::add(monthSurplus[k], daySurplus);
        monthSnowfall[k] = V::add(monthSnowfall[k], snowPerDay[k]);
      }
    }
    for (int k = 0; k < K; ++k) {
      R e = V::sub(V::sub(V::add(V::mul(rainPerDay[k], daysD), monthMelt[k]), V::sub(w[k], wMonthStart[k])),
                   monthSurplus[k]);
      yearMelt[k] = V::add(yearMelt[k], monthMelt[k]);
      yearSnowfall[k] = V::add(yearSnowfall[k], monthSnowfall[k]);
      e = V::select(V::lt(e, V::set1(1e-10)), zero, e);
      V::store(b.aet[m] + k * W, e);
      V::store(b.surplus[m] + k * W, monthSurplus[k]);
      V::store(b.soil[m] + k * W, w[k]);
      V::store(b.snow[m] + k * W, ws[k]);
    }
  }
  for (int k = 0; k < K; ++k) {
    V::store(b.w + k * W, w[k]);
    V::store(b.ws + k * W, ws[k]);
    V::store(b.melt + k * W, yearMelt[k]);
    V::store(b.snowfall + k * W, yearSnowfall[k]);
    if constexpr (Variant == 0) {
      V::store(b.absBalance + k * W, absBalance[k]);
      V::store(b.maxAbsW + k * W, maxAbsW[k]);
      V::store(b.reached + k * W, V::maskToOne(reached[k]));
    }
  }
}

// The kernel for `vectors` vectors: 1, 2, or the full K (idle lanes hold
// harmless values).
template <class V, int Variant, bool VectorExp, int K>
void yearKernel(LaneBlock& b, int vectors, const CurveConstants& kc) {
  if (vectors <= 1)
    yearPass<V, Variant, VectorExp, 1>(b, kc);
  else if (vectors <= 2)
    yearPass<V, Variant, VectorExp, 2>(b, kc);
  else if (K > 4 && vectors <= 4)
    yearPass<V, Variant, VectorExp, (K > 4 ? 4 : K)>(b, kc);
  else
    yearPass<V, Variant, VectorExp, K>(b, kc);
}

template <class V, int K>
void expVector(const double* x, double* out, int n) {
  for (int i = 0; i + V::W <= n; i += V::W) V::storeu(out + i, V::exp(V::loadu(x + i)));
}

template <class V>
void powVector(const double* x, const double* y, double* out, int n) {
  const typename V::M all = V::notMask(V::none());
  for (int i = 0; i + V::W <= n; i += V::W) V::storeu(out + i, V::pow(V::loadu(x + i), V::loadu(y + i), all));
}

template <class V, int K>
KernelSet makeKernelSet() {
  KernelSet s{};
  s.lanesPerVector = V::W;
  s.maxVectors = K;
  s.kernels[0][0] = s.kernels[0][1] = &yearKernel<V, -1, false, K>;
  s.kernels[1][0] = s.kernels[1][1] = &yearKernel<V, 0, false, K>;
  s.kernels[2][0] = &yearKernel<V, 1, false, K>;
  s.kernels[2][1] = &yearKernel<V, 1, true, K>;
  s.kernels[3][0] = s.kernels[3][1] = &yearKernel<V, 2, false, K>;
  s.kernels[4][0] = &yearKernel<V, 3, false, K>;
  s.kernels[4][1] = &yearKernel<V, 3, true, K>;
  s.kernels[5][0] = &yearKernel<V, 4, false, K>;
  s.kernels[5][1] = &yearKernel<V, 4, true, K>;
  s.kernels[6][0] = &yearKernel<V, 5, false, K>;
  s.kernels[6][1] = &yearKernel<V, 5, true, K>;
  s.kernels[7][0] = s.kernels[7][1] = &yearKernel<V, 6, false, K>;
  s.kernels[8][0] = s.kernels[8][1] = &yearKernel<V, 7, false, K>;
  s.expVector = &expVector<V, K>;
  s.pet[0] = &petKernel<V, false>;
  s.pet[1] = &petKernel<V, true>;
  s.powVector = &powVector<V>;
  return s;
}

}  // namespace
}  // namespace vadoset::lanes
