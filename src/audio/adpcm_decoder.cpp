#include "audio/adpcm_decoder.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace {

// Tables of the 24 kbit/s decoder, indexed by the 3-bit code.
constexpr int kDqln[8] = {-2048, 135, 273, 373, 373, 273, 135, -2048};   // log reconstruction level
constexpr int kW[8] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};  // scale factor, x32
constexpr int kF[8] = {0, 512, 1024, 3584, 3584, 1024, 512, 0};          // rate of change

inline int16_t to16(int v) {
  return static_cast<int16_t>(v);
}

// Number of the powers of two 1..16384 that are <= v: the bit width of v, at most 15.
inline int quan(int v) {
  if (v <= 0) return 0;
  const int width = std::bit_width(static_cast<unsigned>(v));
  return width < 15 ? width : 15;
}

// quan for 0..16383, without branches.
inline int quanSmall(int v) {
  const unsigned u = static_cast<unsigned>(v);
  return 32 - std::countl_zero(u | 1) - (u == 0);
}

// A positive magnitude (below 32768) in the floating format: exponent in bits 6..9, mantissa in
// bits 0..5.
inline int toFloat(int mag) {
  const int e = quan(mag);
  return (e << 6) + ((mag << 6) >> e);
}

// Multiplies a predictor coefficient by a value in the floating format. Written without
// branches: the operands change with every sample and would defeat branch prediction.
inline int fmult(int an, int srn) {
  const int anmag = an > 0 ? an : ((-an) & 0x1FFF);
  const int q = quanSmall(anmag);
  // The 6-bit mantissa: anmag shifted so that its top bit lands in bit 5 (32 for zero).
  const int anmant = anmag == 0 ? 32 : (anmag << 6) >> q;
  const int wanexp = q + ((srn >> 6) & 15) - 19;  // (q - 6) + exponent - 13, -19..11
  const uint32_t wanmant = static_cast<uint32_t>((anmant * (srn & 63) + 48) >> 4);
  // wanmant << wanexp, or >> -wanexp: one shift of a value placed 19 bits up.
  const int r = static_cast<int>((static_cast<uint64_t>(wanmant) << 19) >> (19 - wanexp)) & 0x7FFF;
  const int negative = (an ^ srn) >> 31;  // 0 or -1
  return (r ^ negative) - negative;
}

template <typename State>
inline int stepSize(const State& s) {
  if (s.ap >= 256) return s.yu;
  const int y = s.yl >> 6;
  const int dif = s.yu - y;
  const int al = s.ap >> 2;
  if (dif > 0) return y + ((dif * al) >> 6);
  if (dif < 0) return y + ((dif * al + 63) >> 6);
  return y;
}

// Quantised difference in sign-magnitude form (bit 15 is the sign).
inline int reconstruct(bool negative, int dqln, int y) {
  const int dql = to16(dqln + (y >> 2));
  if (dql < 0) return negative ? -32768 : 0;
  const int dex = (dql >> 7) & 15;
  const int dqt = 128 + (dql & 127);
  const int dq = (dqt << 7) >> (14 - dex);
  return negative ? dq - 32768 : dq;
}

template <typename State>
inline void update(int y, int wi, int fi, int dq, int sr, int dqsez, State& s) {
  const int pk0 = dqsez < 0 ? 1 : 0;
  const int mag = dq & 0x7FFF;

  // Transition detect, with td as it was before this sample.
  const int ylint = s.yl >> 15;
  const int ylfrac = (s.yl >> 10) & 31;
  const int thr2 = ylint > 9 ? (31 << 10) : ((32 + ylfrac) << ylint);
  const int dqthr = (thr2 + (thr2 >> 1)) >> 1;
  const bool tr = s.td == 1 && mag > dqthr;

  int yu = to16(y + ((wi - y) >> 5));
  yu = yu < 544 ? 544 : (yu > 5120 ? 5120 : yu);
  s.yu = to16(yu);
  s.yl += yu + ((-s.yl) >> 6);

  int a2p = 0;
  if (tr) {
    s.a[0] = 0;
    s.a[1] = 0;
    for (auto& b : s.b) b = 0;
  } else {
    const int pks1 = pk0 ^ s.pk[0];
    a2p = s.a[1] - (s.a[1] >> 7);
    if (dqsez != 0) {
      const int fa1 = pks1 ? s.a[0] : -s.a[0];
      if (fa1 < -8191)
        a2p -= 256;
      else if (fa1 > 8191)
        a2p += 255;
      else
        a2p += fa1 >> 5;
      // The limit belongs with the adjustment: without a new difference a2 only decays.
      if (pk0 ^ s.pk[1]) {
        a2p = a2p <= -12160 ? -12288 : (a2p >= 12416 ? 12288 : a2p - 128);
      } else {
        a2p = a2p <= -12416 ? -12288 : (a2p >= 12160 ? 12288 : a2p + 128);
      }
    }
    s.a[1] = to16(a2p);

    int a1 = s.a[0] - (s.a[0] >> 8);
    if (dqsez != 0) a1 += pks1 == 0 ? 192 : -192;
    const int a1ul = 15360 - a2p;
    a1 = a1 < -a1ul ? -a1ul : (a1 > a1ul ? a1ul : a1);
    s.a[0] = to16(a1);

    const int16_t dq16 = to16(dq);
    for (int k = 0; k < 6; ++k) {
      int b = s.b[k] - (s.b[k] >> 8);
      // +128 when the signs agree, -128 when they differ; nothing when mag is 0.
      if (mag != 0) b += 128 - (((dq16 ^ s.dq[k]) >> 31) & 256);
      s.b[k] = to16(b);
    }
  }

  for (int k = 5; k > 0; --k) s.dq[k] = s.dq[k - 1];
  const bool dqNegative = to16(dq) < 0;
  if (mag == 0)
    s.dq[0] = dqNegative ? to16(0xFC20) : 32;
  else
    s.dq[0] = to16(toFloat(mag) - (dqNegative ? 1024 : 0));

  s.sr[1] = s.sr[0];
  if (sr == 0)
    s.sr[0] = 32;
  else if (sr > 0)
    s.sr[0] = to16(toFloat(sr));
  else if (sr > -32768)
    s.sr[0] = to16(toFloat(-sr) - 1024);
  else
    s.sr[0] = to16(0xFC20);

  s.pk[1] = s.pk[0];
  s.pk[0] = to16(pk0);

  s.td = tr ? 0 : (a2p < -11776 ? 1 : 0);

  s.dms = to16(s.dms + ((fi - s.dms) >> 5));
  s.dml = to16(s.dml + ((4 * fi - s.dml) >> 7));

  if (tr) {
    s.ap = 256;
  } else {
    const int diff = 4 * s.dms - s.dml;
    const bool fast = y < 1536 || s.td == 1 || (diff < 0 ? -diff : diff) >= (s.dml >> 3);
    s.ap = to16(s.ap + (fast ? ((512 - s.ap) >> 4) : ((-s.ap) >> 4)));
  }
}

// The state widened to int for the inner loop: every value is stored truncated to 16 bits exactly
// as in AdpcmState, but the loop avoids the narrow loads and stores.
struct WorkState {
  explicit WorkState(const AdpcmState& s)
      : yl(s.yl), yu(s.yu), dms(s.dms), dml(s.dml), ap(s.ap), td(s.td) {
    std::copy_n(s.a, 2, a);
    std::copy_n(s.b, 6, b);
    std::copy_n(s.pk, 2, pk);
    std::copy_n(s.dq, 6, dq);
    std::copy_n(s.sr, 2, sr);
  }
  void storeTo(AdpcmState& s) const {
    s.yl = yl;
    s.yu = to16(yu);
    s.dms = to16(dms);
    s.dml = to16(dml);
    s.ap = to16(ap);
    s.td = static_cast<uint8_t>(td);
    for (int k = 0; k < 2; ++k) {
      s.a[k] = to16(a[k]);
      s.pk[k] = to16(pk[k]);
      s.sr[k] = to16(sr[k]);
    }
    for (int k = 0; k < 6; ++k) {
      s.b[k] = to16(b[k]);
      s.dq[k] = to16(dq[k]);
    }
  }
  int32_t yl;
  int yu, dms, dml, ap, td;
  int a[2], b[6], pk[2], dq[6], sr[2];
};

template <typename State>
[[gnu::always_inline]] inline int16_t decodeOne(unsigned code, State& s) {
  code &= 7;
  int sezi = 0;
  for (int k = 0; k < 6; ++k) sezi += fmult(s.b[k] >> 2, s.dq[k]);
  sezi = to16(sezi);
  const int sez = sezi >> 1;
  const int sei = to16(sezi + fmult(s.a[1] >> 2, s.sr[1]) + fmult(s.a[0] >> 2, s.sr[0]));
  const int se = sei >> 1;
  const int y = to16(stepSize(s));
  const int dq = to16(reconstruct((code & 4) != 0, kDqln[code], y));
  const int sr = to16(dq < 0 ? se - (dq & 0x3FFF) : se + dq);
  const int dqsez = to16(sr - se + sez);
  update(y, kW[code], kF[code], dq, sr, dqsez, s);
  return to16(sr * 4);
}

}  // namespace

int16_t CAdpcmDecoder::decodeSample(uint8_t code, AdpcmState& state) {
  return decodeOne(code, state);
}

void CAdpcmDecoder::unpackCodes(const uint8_t* data, uint32_t length, uint8_t* codes) {
  uint32_t i = 0;
  for (; i + 3 <= length; i += 3) {
    const uint32_t v = data[i] | (data[i + 1] << 8) | (data[i + 2] << 16);
    for (int k = 0; k < 8; ++k) *codes++ = static_cast<uint8_t>((v >> (3 * k)) & 7);
  }
  const uint32_t rest = length - i;
  if (rest == 0) return;
  const uint32_t v = data[i] | (rest == 2 ? data[i + 1] << 8 : 0u);
  const int count = rest == 2 ? 5 : 2;
  for (int k = 0; k < count; ++k) *codes++ = static_cast<uint8_t>((v >> (3 * k)) & 7);
}

int32_t CAdpcmDecoder::decode(const uint8_t* data, uint32_t length, int16_t* out,
                              int64_t capacity) {
  const int64_t n = sampleCount(length);
  if (n > std::numeric_limits<int32_t>::max()) return -1;
  if (out == nullptr) return static_cast<int32_t>(n);
  if (capacity < n) return -1;

  // Codes are unpacked on the fly, one 3-byte group at a time, so no temporary array is needed.
  // The state is worked on in a local copy the compiler can keep in registers.
  WorkState s(state_);
  uint32_t i = 0;
  for (; i + 3 <= length; i += 3) {
    const uint32_t v = data[i] | (data[i + 1] << 8) | (data[i + 2] << 16);
    for (int k = 0; k < 8; ++k) out[k] = decodeOne(v >> (3 * k), s);
    out += 8;
  }
  const uint32_t rest = length - i;
  if (rest != 0) {
    const uint32_t v = data[i] | (rest == 2 ? data[i + 1] << 8 : 0u);
    const int count = rest == 2 ? 5 : 2;
    for (int k = 0; k < count; ++k) *out++ = decodeOne(v >> (3 * k), s);
  }
  s.storeTo(state_);
  return static_cast<int32_t>(n);
}
