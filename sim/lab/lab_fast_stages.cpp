#include "sim/lab/lab_fast_stages.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "sim/core/lanes.h"
#include "sim/core/sph_kernels.h"
#include "sim/lab/half_floats.h"

#if !defined(PONDSIM_LAB_FAST_NAMESPACE)
#define PONDSIM_LAB_FAST_NAMESPACE portable
#define PONDSIM_LAB_FAST_NAME "portable vectors"
#define PONDSIM_LAB_FAST_DISPATCH 1
#endif

// Each build's stages, which the dispatch below chooses from.
struct LabFastBuild {
    const char* name;
    void (*density)(const LabFastView&, int32_t, int32_t, float*, float*);
    void (*forces)(const LabFastView&, int32_t, int32_t, const uint8_t*, float*, float*, float*);
    void (*divergenceFreeDensity)(const LabFastView&, int32_t, int32_t, const LabDivergenceFree&, LabPartners&);
    void (*densityRate)(const LabFastView&, const LabPartners&, int32_t, int32_t, float*);
    void (*pressurePush)(const LabFastView&, const LabPartners&, int32_t, int32_t, const float*, float*, float*, float*,
                         float*);
    void (*viscosity)(const LabFastView&, const LabPartners&, int32_t, int32_t, float, float, float, float, float*,
                      float*, float*);
};

namespace PONDSIM_LAB_FAST_NAMESPACE {

namespace {

using Wide = float __attribute__((vector_size(kFastLanes * 4)));
using WideInts = int32_t __attribute__((vector_size(kFastLanes * 4)));
constexpr WideInts kWideLaneNumbers = {0, 1, 2, 3, 4, 5, 6, 7};

[[gnu::always_inline]] inline Wide Load(const float* from) {
    Wide v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

// Broadcast in registers: built lane by lane, the compiler goes through
// memory, and the vector loaded from eight separate stores stalls.
[[gnu::always_inline]] inline Wide Splat(float x) {
#if defined(__AVX__)
    return reinterpret_cast<Wide>(_mm256_set1_ps(x));
#elif defined(__SSE2__)
    const __m128 half = _mm_set1_ps(x);
    __m128 halves[2] = {half, half};
    Wide w;
    std::memcpy(&w, halves, sizeof w);
    return w;
#else
    return Wide{x, x, x, x, x, x, x, x};
#endif
}

// Lane-wise comparisons. Without AVX the compiler would take a comparison
// of eight lanes one lane at a time; taken as two halves of four, each is
// one SSE instruction.
template <class V, class Fn>
[[gnu::always_inline]] inline WideInts Compare(V a, V b, Fn fn) {
#if defined(__AVX__) || !defined(__SSE2__)
    return fn(a, b);
#else
    using Half = std::conditional_t<std::is_same_v<V, Wide>, Floats, Ints>;
    Half x[2], y[2];
    std::memcpy(x, &a, sizeof a);
    std::memcpy(y, &b, sizeof b);
    const Ints halves[2] = {fn(x[0], y[0]), fn(x[1], y[1])};
    WideInts out;
    std::memcpy(&out, halves, sizeof out);
    return out;
#endif
}
[[gnu::always_inline]] inline WideInts Less(Wide a, Wide b) {
    return Compare(a, b, [](auto x, auto y) { return x < y; });
}
[[gnu::always_inline]] inline WideInts Less(WideInts a, WideInts b) {
    return Compare(a, b, [](auto x, auto y) { return x < y; });
}
[[gnu::always_inline]] inline WideInts NotEqual(WideInts a, WideInts b) {
    return Compare(a, b, [](auto x, auto y) { return x != y; });
}
[[gnu::always_inline]] inline bool NoLane(WideInts keep) {
#if defined(__AVX__)
    return _mm256_testz_si256(reinterpret_cast<__m256i>(keep), reinterpret_cast<__m256i>(keep)) != 0;
#elif defined(__SSE2__)
    __m128i halves[2];
    std::memcpy(halves, &keep, sizeof keep);
    return _mm_movemask_epi8(_mm_or_si128(halves[0], halves[1])) == 0;
#else
    for (int lane = 0; lane < kFastLanes; ++lane) {
        if (keep[lane] != 0) return false;
    }
    return true;
#endif
}

[[gnu::always_inline]] inline Wide Divide(Wide a, Wide b) {
#if defined(__AVX__) || !defined(__SSE2__)
    return a / b;
#else
    Floats x[2], y[2];
    std::memcpy(x, &a, sizeof a);
    std::memcpy(y, &b, sizeof b);
    x[0] = x[0] / y[0];
    x[1] = x[1] / y[1];
    Wide out;
    std::memcpy(&out, x, sizeof out);
    return out;
#endif
}
[[gnu::always_inline]] inline WideInts Splat(int32_t x) { return WideInts{x, x, x, x, x, x, x, x}; }

[[gnu::always_inline]] inline Wide Keep(WideInts keep, Wide value) { return reinterpret_cast<Wide>(keep & reinterpret_cast<WideInts>(value)); }

// The lanes in one fixed order, pairwise.
[[gnu::always_inline]] inline float Total(Wide v) { return ((v[0] + v[1]) + (v[2] + v[3])) + ((v[4] + v[5]) + (v[6] + v[7])); }

[[gnu::always_inline]] inline Wide SquareRoot(Wide q) {
#if defined(__AVX__)
    return reinterpret_cast<Wide>(_mm256_sqrt_ps(reinterpret_cast<__m256>(q)));
#elif defined(__SSE2__)
    __m128 halves[2];
    std::memcpy(halves, &q, sizeof q);
    halves[0] = _mm_sqrt_ps(halves[0]);
    halves[1] = _mm_sqrt_ps(halves[1]);
    Wide r;
    std::memcpy(&r, halves, sizeof r);
    return r;
#else
    Wide r;
    for (int lane = 0; lane < kFastLanes; ++lane) r[lane] = sqrtf(q[lane]);
    return r;
#endif
}

// base[at[lane]] for each lane: eight loads, which this machine's cores
// take faster than a gather instruction.
[[gnu::always_inline]] inline Wide Gather(const float* base, const int32_t* at) {
#if defined(__AVX__)
    return reinterpret_cast<Wide>(_mm256_setr_ps(base[at[0]], base[at[1]], base[at[2]], base[at[3]], base[at[4]],
                                                 base[at[5]], base[at[6]], base[at[7]]));
#else
    Wide out;
    for (int lane = 0; lane < kFastLanes; ++lane) out[lane] = base[at[lane]];
    return out;
#endif
}

// The four floats at packed + 4 at[lane] of each lane, as four vectors:
// eight loads and a transpose, where four gathers would take each float
// on its own.
[[gnu::always_inline]] inline void Gather4(const float* packed, const int32_t* at, Wide (&out)[4]) {
#if defined(__AVX__)
    const auto pair = [&](int low, int high) {
        return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(packed + 4 * at[low])),
                                    _mm_loadu_ps(packed + 4 * at[high]), 1);
    };
    const __m256 r0 = pair(0, 4), r1 = pair(1, 5), r2 = pair(2, 6), r3 = pair(3, 7);
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpackhi_ps(r0, r1);
    const __m256 t2 = _mm256_unpacklo_ps(r2, r3), t3 = _mm256_unpackhi_ps(r2, r3);
    out[0] = reinterpret_cast<Wide>(_mm256_shuffle_ps(t0, t2, 0x44));
    out[1] = reinterpret_cast<Wide>(_mm256_shuffle_ps(t0, t2, 0xee));
    out[2] = reinterpret_cast<Wide>(_mm256_shuffle_ps(t1, t3, 0x44));
    out[3] = reinterpret_cast<Wide>(_mm256_shuffle_ps(t1, t3, 0xee));
#else
    for (int lane = 0; lane < kFastLanes; ++lane) {
        for (int field = 0; field < 4; ++field) out[field][lane] = packed[4 * at[lane] + field];
    }
#endif
}

// Eight halves (half_floats.h) as floats, and back.
[[gnu::always_inline]] inline Wide LoadHalves(const uint16_t* from) {
#if defined(__F16C__)
    return reinterpret_cast<Wide>(_mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from))));
#else
    Wide out;
    for (int lane = 0; lane < kFastLanes; ++lane) out[lane] = FloatOfHalf(from[lane]);
    return out;
#endif
}
[[gnu::always_inline]] inline void StoreHalves(uint16_t* into, Wide from) {
#if defined(__F16C__)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(into),
                     _mm256_cvtps_ph(reinterpret_cast<__m256>(from), _MM_FROUND_TO_NEAREST_INT));
#else
    for (int lane = 0; lane < kFastLanes; ++lane) into[lane] = HalfOf(from[lane]);
#endif
}
// What storing as halves leaves of each lane.
[[gnu::always_inline]] inline Wide RoundedToHalves(Wide from) {
#if defined(__F16C__)
    return reinterpret_cast<Wide>(
        _mm256_cvtph_ps(_mm256_cvtps_ph(reinterpret_cast<__m256>(from), _MM_FROUND_TO_NEAREST_INT)));
#else
    uint16_t halves[kFastLanes];
    StoreHalves(halves, from);
    return LoadHalves(halves);
#endif
}

// One bit a lane, lane 0 the lowest.
[[gnu::always_inline]] inline unsigned LaneMask(WideInts keep) {
#if defined(__AVX__)
    return static_cast<unsigned>(_mm256_movemask_ps(reinterpret_cast<__m256>(keep)));
#else
    unsigned bits = 0;
    for (int lane = 0; lane < kFastLanes; ++lane) bits |= keep[lane] != 0 ? 1u << lane : 0u;
    return bits;
#endif
}

// Two rows of cells side by side in one vector of sixteen lanes, the first
// eight lanes from one row, the last eight from the next: a row holds some
// five to eight candidates, so with AVX-512's full width one instruction
// does the work of two of eight lanes. Other builds take the two rows one
// after the other, eight lanes at a time, each row's sums into its half of
// a twin of sums (see ForEachTwins), and give the same bits.
#if defined(__AVX512F__)
using Twin = float __attribute__((vector_size(64)));
using TwinInts = int32_t __attribute__((vector_size(64)));
template <class V>
[[gnu::always_inline]] inline auto Joined(V low, V high) {
    return __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}
[[gnu::always_inline]] inline Wide Low(Twin v) { return __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7); }
[[gnu::always_inline]] inline Wide High(Twin v) {
    return __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15);
}
[[gnu::always_inline]] inline TwinInts Less(Twin a, Twin b) { return a < b; }
[[gnu::always_inline]] inline TwinInts Less(TwinInts a, TwinInts b) { return a < b; }
[[gnu::always_inline]] inline TwinInts NotEqual(TwinInts a, TwinInts b) { return a != b; }
[[gnu::always_inline]] inline bool NoLane(TwinInts keep) {
    return _mm512_test_epi32_mask(reinterpret_cast<__m512i>(keep), reinterpret_cast<__m512i>(keep)) == 0;
}
[[gnu::always_inline]] inline Twin Keep(TwinInts keep, Twin value) {
    return reinterpret_cast<Twin>(keep & reinterpret_cast<TwinInts>(value));
}
// The masked form: GCC 12 warns of the unmasked one's undefined source.
[[gnu::always_inline]] inline Twin SquareRoot(Twin q) {
    return reinterpret_cast<Twin>(_mm512_maskz_sqrt_ps(0xffff, reinterpret_cast<__m512>(q)));
}
[[gnu::always_inline]] inline Twin Divide(Twin a, Twin b) { return a / b; }
#else
struct Twin {
    Wide low, high;
};
[[gnu::always_inline]] inline Twin Joined(Wide low, Wide high) { return Twin{low, high}; }
[[gnu::always_inline]] inline Wide Low(Twin v) { return v.low; }
[[gnu::always_inline]] inline Wide High(Twin v) { return v.high; }
#endif
// The halves' lanes, added lane by lane, then as Total adds eight.
[[gnu::always_inline]] inline float Total(Twin v) { return Total(Low(v) + High(v)); }

// x in every lane, as a vector of eight or a twin.
template <class V>
[[gnu::always_inline]] inline V SplatAs(float x) {
    if constexpr (std::is_same_v<V, Wide>) {
        return Splat(x);
    } else {
        return Joined(Splat(x), Splat(x));
    }
}

// Calls fn(from, to) for the run of places of every row of cells around
// place p, in the order of the rows; for the row of p's own cell, which
// alone holds p, fn(from, to, kOwnRow) (a sweep that wants p left out then
// masks it out of that row only).
struct OwnRow {};
constexpr OwnRow kOwnRow;
// With a `span`, the rows reach that many cells further up p's column: the
// rows of the places above p in its column within span cells, all at once.
template <class Fn>
[[gnu::always_inline]] inline void ForEachRow(const LabFastView& v, int32_t p, Fn fn, int32_t span = 0) {
    constexpr int32_t r = 2;
    const int32_t cell = v.cellOf[p];
    const int32_t cz = cell % v.side[2];
    const int32_t cy = (cell / v.side[2]) % v.side[1];
    const int32_t cx = cell / (v.side[2] * v.side[1]);
    const int32_t zBottom = cz - r < 0 ? 0 : cz - r;
    const int32_t zTop = cz + span + r > v.side[2] - 1 ? v.side[2] - 1 : cz + span + r;
    const int32_t xLast = cx + r > v.side[0] - 1 ? v.side[0] - 1 : cx + r;
    const int32_t yLast = cy + r > v.side[1] - 1 ? v.side[1] - 1 : cy + r;
    for (int32_t x = cx - r < 0 ? 0 : cx - r; x <= xLast; ++x) {
        for (int32_t y = cy - r < 0 ? 0 : cy - r; y <= yLast; ++y) {
            const int32_t row = (x * v.side[1] + y) * v.side[2];
            if (x == cx && y == cy) {
                fn(v.cellStart[row + zBottom], v.cellStart[row + zTop + 1], kOwnRow);
            } else {
                fn(v.cellStart[row + zBottom], v.cellStart[row + zTop + 1]);
            }
        }
    }
}

// Places p, p + 1, ... that share p's column within `span` cells up it,
// at most `most` of them, all before `last`: their rows are p's but a few
// cells longer, and one walk serves them all.
struct Group {
    int32_t size, span;
};
// Only places for which member(place) holds.
template <class Member>
[[gnu::always_inline]] inline Group GroupAt(const LabFastView& v, int32_t p, int32_t last, int32_t most, int32_t span,
                                            Member member) {
    const int32_t cell = v.cellOf[p];
    // Cells above p's own within its column.
    const int32_t above = std::min(span, v.side[2] - 1 - cell % v.side[2]);
    const int32_t end = std::min({last, v.placed, p + most});
    Group g{1, 0};
    for (; p + g.size < end && v.cellOf[p + g.size] - cell <= above && member(p + g.size); ++g.size) {
        g.span = v.cellOf[p + g.size] - cell;
    }
    return g;
}

// Calls fn(std::integral_constant<int, size>()) for a size of 1 to kMost.
template <int kMost, class Fn>
[[gnu::always_inline]] inline void WithSize(int32_t size, Fn fn) {
    if constexpr (kMost > 1) {
        if (size < kMost) return WithSize<kMost - 1>(size, fn);
    }
    fn(std::integral_constant<int, kMost>());
}

// Calls fn(s, x, y, z, inRun) for the candidates of a group's rows (see
// ForEachRow), eight at a time: their places from s, their positions and
// the lanes in the row; with kOwnRow after them in the row of p's cell.
// The candidates are loaded once for all the group's members.
template <class Fn>
[[gnu::always_inline]] inline void ForEachVector(const LabFastView& v, int32_t p, int32_t span, Fn fn) {
    ForEachRow(
        v, p,
        [&](int32_t from, int32_t to, auto... own) {
            for (int32_t s = from; s < to; s += kFastLanes) {
                fn(s, Load(v.x + s), Load(v.y + s), Load(v.z + s), Less(kWideLaneNumbers, Splat(to - s)), own...);
            }
        },
        span);
}

// The candidates of ForEachTwins, a vector at a time: positions, the lanes
// in their rows, `own` when their rows include that of p's cell, the
// fields' values, and the part of a twin of sums that they add to.
#if defined(__AVX512F__)
// Both rows at once: places a + lane and b + lane - 8.
using TwinPart = Twin;
struct TwinCandidates {
    int32_t a, b;
    Twin x, y, z;
    TwinInts inRun;
    bool own;
    [[gnu::always_inline]] Twin Field(const float* field) const {
        return Joined(Load(field + a), Load(field + b));
    }
    // The lanes at any place but this one.
    [[gnu::always_inline]] TwinInts Besides(int32_t place) const {
        return Joined(NotEqual(kWideLaneNumbers, Splat(place - a)), NotEqual(kWideLaneNumbers, Splat(place - b)));
    }
    [[gnu::always_inline]] static Twin& Sum(Twin& sums) { return sums; }
};
#else
// One row: places s + lane, added to the low or the high half.
using TwinPart = Wide;
template <bool kHigh>
struct TwinCandidates {
    int32_t s;
    Wide x, y, z;
    WideInts inRun;
    bool own;
    [[gnu::always_inline]] Wide Field(const float* field) const { return Load(field + s); }
    [[gnu::always_inline]] WideInts Besides(int32_t place) const {
        return NotEqual(kWideLaneNumbers, Splat(place - s));
    }
    [[gnu::always_inline]] static Wide& Sum(Twin& sums) { return kHigh ? sums.high : sums.low; }
};
#endif

// Calls fn(c) for the candidates of a group's rows (see ForEachRow) two
// rows at a time, as twins: the one row's in the low lanes, the next one's
// in the high lanes, each row's sums in order; a row longer than the other
// goes on beside no lanes. With AVX-512 a call takes both, sixteen lanes;
// elsewhere one row, eight.
template <class Fn>
[[gnu::always_inline]] inline void ForEachTwins(const LabFastView& v, int32_t p, int32_t span, Fn fn) {
    // Five rows by five, and one empty row to make them pairs.
    int32_t from[26], to[26];
    int32_t rows = 0, ownRow = -1;
    ForEachRow(
        v, p,
        [&](int32_t f, int32_t t, auto... own) {
            if constexpr (sizeof...(own) != 0) ownRow = rows;
            from[rows] = f;
            to[rows] = t;
            ++rows;
        },
        span);
    if (rows % 2 != 0) {
        from[rows] = to[rows] = 0;
        ++rows;
    }
    for (int32_t row = 0; row < rows; row += 2) {
        const bool own = ownRow / 2 == row / 2;
        const int32_t endA = to[row], endB = to[row + 1];
#if defined(__AVX512F__)
        for (int32_t a = from[row], b = from[row + 1]; a < endA || b < endB; a += kFastLanes, b += kFastLanes) {
            // A row already done reads its end again, within the fields'
            // padding, with no lane in it.
            const int32_t atA = std::min(a, endA), atB = std::min(b, endB);
            const auto load = [&](const float* field) { return Joined(Load(field + atA), Load(field + atB)); };
            fn(TwinCandidates{atA, atB, load(v.x), load(v.y), load(v.z),
                              Joined(Less(kWideLaneNumbers, Splat(endA - a)), Less(kWideLaneNumbers, Splat(endB - b))),
                              own});
        }
#else
        const auto walk = [&](auto high, int32_t start, int32_t end) {
            for (int32_t s = start; s < end; s += kFastLanes) {
                fn(TwinCandidates<decltype(high)::value>{s, Load(v.x + s), Load(v.y + s), Load(v.z + s),
                                                         Less(kWideLaneNumbers, Splat(end - s)), own});
            }
        };
        walk(std::false_type{}, from[row], endA);
        walk(std::true_type{}, from[row + 1], endB);
#endif
    }
}

// A member's position (xi, yi, zi) minus its candidates' and the squared
// distances.
template <class V>
struct Candidates {
    V dx, dy, dz, q;
};
template <class V>
[[gnu::always_inline]] inline Candidates<V> Seen(V xi, V yi, V zi, V x, V y, V z) {
    Candidates<V> c;
    c.dx = xi - x;
    c.dy = yi - y;
    c.dz = zi - z;
    c.q = (c.dx * c.dx + c.dy * c.dy) + c.dz * c.dz;
    return c;
}

// Squared distances (unscaled) from which on a candidate is surely beyond
// h: past it by a margin that the rounding of a distance, or the force
// stage's square-root estimate (which comes from above), cannot bridge.
template <class V = Wide>
inline V SurelyBeyond(const LabConstants& k) {
    const float reach = k.smoothingRadius / k.simScale;
    return SplatAs<V>((reach * reach) * 1.001f);
}

// Squared distances in metres; with a scale of 1, multiplying by it is
// exact and left out.
template <bool kUnitScale, class V>
[[gnu::always_inline]] inline V Scaled(V q, V scale) {
    if constexpr (kUnitScale) {
        return q;
    } else {
        return q * scale * scale;
    }
}

// A row of five cells holds some five candidates, so a walk for one place
// loads its vectors of eight half full and pays for its 25 rows alone.
// Shared, a row of eight cells serves four places of the density sweep (at
// about one particle a cell, water's spacing); the force sweep, whose sums
// take twice the registers, does best with three, over a row of seven.
// (Larger groups measured slower: their sums no longer fit the registers.)
// Each place's sum takes its lanes from where its group's rows begin, so
// the grouping, which follows only the positions and the pieces, decides
// its bits: never the thread count.
constexpr int32_t kDensityGroup = 4;
constexpr int32_t kDensityGroupSpan = 3;

// The cubic spline of support h: W, and g with grad W = g (x_i - x_j).
struct Cubic {
    Wide w, g;
};
// Its constants in registers once per sweep: read through the constants
// inside the loops, they would be loaded and divided again for every
// candidate, since the sweeps' stores might alias them.
template <class V>
struct CubicConstants {
    V one, half, two, three, six, inverseH, kernel, twiceKernel, innerGradient, outerGradient;
    explicit CubicConstants(const LabConstants& k)
        : one(SplatAs<V>(1.0f)), half(SplatAs<V>(0.5f)), two(SplatAs<V>(2.0f)), three(SplatAs<V>(3.0f)),
          six(SplatAs<V>(6.0f)), inverseH(SplatAs<V>(1.0f / k.smoothingRadius)), kernel(SplatAs<V>(k.cubicKernel)),
          twiceKernel(SplatAs<V>(2.0f * k.cubicKernel)),
          innerGradient(SplatAs<V>(k.cubicGradient / (k.smoothingRadius * k.smoothingRadius))),
          outerGradient(SplatAs<V>(0.0f - k.cubicGradient / k.smoothingRadius)) {}
};
template <class V>
[[gnu::always_inline]] inline V CubicValue(const CubicConstants<V>& k, V q) {
    const V u = k.one - q;
    const auto inner = Less(q, k.half);
    const V wInner = k.kernel * ((k.six * (q * q)) * (q - k.one) + k.one);
    const V wOuter = k.twiceKernel * ((u * u) * u);
    return Keep(inner, wInner) + Keep(~inner, wOuter);
}
// g r: the gradient with no division, for sums that divide once a pair.
template <class V>
[[gnu::always_inline]] inline V CubicSlope(const CubicConstants<V>& k, V r) {
    const V q = r * k.inverseH;
    const V u = k.one - q;
    const auto inner = Less(q, k.half);
    return Keep(inner, (k.innerGradient * (k.three * q - k.two)) * r) + Keep(~inner, k.outerGradient * (u * u));
}
[[gnu::always_inline]] inline Cubic CubicAt(const CubicConstants<Wide>& k, Wide r) {
    const Wide q = r * k.inverseH;
    const Wide u = k.one - q;
    const WideInts inner = Less(q, k.half);
    const Wide gInner = k.innerGradient * (k.three * q - k.two);
    const Wide gOuter = Divide(k.outerGradient * (u * u), r);
    Cubic c;
    c.w = CubicValue(k, q);
    c.g = Keep(inner, gInner) + Keep(~inner, gOuter);
    return c;
}

// The cubic spline's sum takes the kernel at each distance (a square root
// a candidate); poly6's, the demo's, the squared distance alone.
template <bool kUnitScale, bool kCubic>
void DensityOf(const LabFastView& v, int32_t first, int32_t last, float* density, float* pressure) {
    const LabConstants& k = *v.constants;
    // Partners lie within the search radius, and only those within h add
    // to the sum: the nearer of the two bounds both.
    const auto finish = [&](int32_t p, float sum) {
        density[p] = kCubic ? (sum + k.cubicKernel) * k.particleMass : sph::DensityFromSum(k, sum, k.poly6);
        pressure[p] = k.Pressure(density[p]);
    };
    using V = TwinPart;
    const V reach2 = SplatAs<V>(std::min(k.smoothingRadiusSquared, v.searchRadiusSquared));
    const V scale = SplatAs<V>(k.simScale);
    const V h2 = SplatAs<V>(k.smoothingRadiusSquared);
    const CubicConstants<V> cubic(k);
    const auto group = [&](int32_t p, auto size, int32_t span) {
        constexpr int kSize = decltype(size)::value;
        V xs[kSize], ys[kSize], zs[kSize];
        Twin terms[kSize];
        for (int m = 0; m < kSize; ++m) {
            xs[m] = SplatAs<V>(v.x[p + m]);
            ys[m] = SplatAs<V>(v.y[p + m]);
            zs[m] = SplatAs<V>(v.z[p + m]);
            terms[m] = SplatAs<Twin>(0.0f);
        }
        ForEachTwins(v, p, span, [&](const auto& c) {
            for (int m = 0; m < kSize; ++m) {
                const V r2 = Scaled<kUnitScale>(Seen(xs[m], ys[m], zs[m], c.x, c.y, c.z).q, scale);
                auto keep = c.inRun & Less(r2, reach2);
                // Not the member itself: its own term is the density's
                // constant.
                if (c.own) keep &= c.Besides(p + m);
                if constexpr (kCubic) {
                    // Most vectors of the outer cells hold no partner: they
                    // skip the square root.
                    if (NoLane(keep)) continue;
                    c.Sum(terms[m]) += Keep(keep, CubicValue(cubic, SquareRoot(r2) * cubic.inverseH));
                } else {
                    const V t = h2 - r2;
                    c.Sum(terms[m]) += Keep(keep, t * t * t);
                }
            }
        });
        for (int m = 0; m < kSize; ++m) finish(p + m, Total(terms[m]));
    };
    for (int32_t p = first; p < last;) {
        if (p >= v.placed) {
            finish(p++, 0.0f);
            continue;
        }
        const Group g = GroupAt(v, p, last, kDensityGroup, kDensityGroupSpan, [](int32_t) { return true; });
        WithSize<kDensityGroup>(g.size, [&](auto size) { group(p, size, g.span); });
        p += g.size;
    }
}

// The demo's square-root estimate in every lane.
[[gnu::always_inline]] inline Wide FastRoots(Wide q) {
    Wide r;
    for (int lane = 0; lane < kFastLanes; ++lane) r[lane] = sph::FastSqrtEstimate(q[lane]);
    return r;
}
#if defined(__AVX512F__)
[[gnu::always_inline]] inline Twin FastRoots(Twin q) { return Joined(FastRoots(Low(q)), FastRoots(High(q))); }
#endif

constexpr int32_t kForceGroup = 3;
constexpr int32_t kForceGroupSpan = 2;

// Place p meets itself among its candidates: at distance zero it pushes
// nowhere, and its velocity less its own is zero, so it adds zeros.
template <bool kUnitScale, bool kCubic>
void ForcesOf(const LabFastView& v, int32_t first, int32_t last, const uint8_t* moving, float* ax, float* ay,
              float* az) {
    const LabConstants& k = *v.constants;
    using V = TwinPart;
    const V zero = SplatAs<V>(0.0f);
    const V scale = SplatAs<V>(k.simScale);
    const V searchScale = SplatAs<V>(v.simScale);
    const V searchRadiusSquared = SplatAs<V>(v.searchRadiusSquared);
    const V h = SplatAs<V>(k.smoothingRadius);
    const V beyond = SurelyBeyond<V>(k);
    const CubicConstants<V> cubic(k);
    // The cubic spline's pushes carry their kernel's whole gradient.
    const float gradient = kCubic ? 1.0f : k.spikyGradient;
    const auto finish = [&](int32_t p, const sph::ForceSums& sums) {
        const Vec3 a = sph::AccelerationFromSums(k, sums, gradient, k.viscosityLaplacian, v.density[p]);
        ax[p] = a.x;
        ay[p] = a.y;
        az[p] = a.z;
    };
    // Pressure sums, then viscosity sums, by axis.
    using Sums = Twin[6];
    const auto group = [&](int32_t p, auto size, int32_t span) {
        constexpr int kSize = decltype(size)::value;
        Sums sum[kSize];
        for (Sums& each : sum) std::fill(each, each + 6, SplatAs<Twin>(0.0f));
        ForEachTwins(v, p, span, [&](const auto& c) {
            for (int m = 0; m < kSize; ++m) {
                // The member's own values, read again at each use: kept in
                // registers, they would push the sums out of them.
                const int32_t i = p + m;
                const Candidates<V> d = Seen(SplatAs<V>(v.x[i]), SplatAs<V>(v.y[i]), SplatAs<V>(v.z[i]), c.x, c.y, c.z);
                const V q = d.q;
                // Most candidates of the outer cells are out of
                // reach: a vector without a partner skips the square
                // root and the divisions.
                if (NoLane(c.inRun & Less(q, beyond))) continue;
                V r = k.fastDistance ? FastRoots(q) : SquareRoot(q);
                if constexpr (!kUnitScale) r = r * scale;
                const V densityj = c.Field(v.density);
                // Beyond h, or a partner not yet given a density: no share.
                const auto counts = c.inRun & Less(Scaled<kUnitScale>(q, searchScale), searchRadiusSquared) &
                                    Less(r, h) & Less(zero, densityj);
                if (NoLane(counts)) continue;
                const V t = h - r;
                // Coincident particles push along no direction.
                const auto pushes = counts & Less(zero, r);
                const V slope = kCubic ? CubicSlope(cubic, r) : t * t;
                const V push = Divide((c.Field(v.pressure) + SplatAs<V>(v.pressure[i])) * slope, densityj * r);
                c.Sum(sum[m][0]) += Keep(pushes, d.dx * push);
                c.Sum(sum[m][1]) += Keep(pushes, d.dy * push);
                c.Sum(sum[m][2]) += Keep(pushes, d.dz * push);
                const V w = Divide(t, densityj);
                c.Sum(sum[m][3]) += Keep(counts, (c.Field(v.vx) - SplatAs<V>(v.vx[i])) * w);
                c.Sum(sum[m][4]) += Keep(counts, (c.Field(v.vy) - SplatAs<V>(v.vy[i])) * w);
                c.Sum(sum[m][5]) += Keep(counts, (c.Field(v.vz) - SplatAs<V>(v.vz[i])) * w);
            }
        });
        for (int m = 0; m < kSize; ++m) {
            sph::ForceSums sums;
            sums.pressure = Vec3{Total(sum[m][0]), Total(sum[m][1]), Total(sum[m][2])};
            sums.viscosity = Vec3{Total(sum[m][3]), Total(sum[m][4]), Total(sum[m][5])};
            finish(p + m, sums);
        }
    };
    for (int32_t p = first; p < last;) {
        if (moving[p] == 0) {
            ax[p] = ay[p] = az[p] = 0.0f;
            ++p;
            continue;
        }
        if (p >= v.placed) {
            finish(p++, sph::ForceSums{});
            continue;
        }
        const Group g = GroupAt(v, p, last, kForceGroup, kForceGroupSpan, [&](int32_t i) { return moving[i] != 0; });
        WithSize<kForceGroup>(g.size, [&](auto size) { group(p, size, g.span); });
        p += g.size;
    }
}

#if defined(__AVX2__)
// For each set of lanes, their numbers in order, then the rest: the
// permutation that packs those lanes to the front.
struct PackOrder {
    int32_t lanes[256][kFastLanes];
    constexpr PackOrder() : lanes() {
        for (int bits = 0; bits < 256; ++bits) {
            int next = 0;
            for (int lane = 0; lane < kFastLanes; ++lane) {
                if ((bits >> lane & 1) != 0) lanes[bits][next++] = lane;
            }
            for (int lane = 0; lane < kFastLanes; ++lane) {
                if ((bits >> lane & 1) == 0) lanes[bits][next++] = lane;
            }
        }
    }
};
constexpr PackOrder kPackOrder;
#endif

// The candidates of place p near enough to matter, packed eight to a
// vector in the order of the walk: a row of cells holds some five
// candidates and two in three of them lie beyond h, so that a kernel taken
// row by row would run its square roots and divisions on mostly idle lanes.
// All are packed before the kernel reads any: a vector read back just as
// its lanes are stored would wait for the stores.
struct Near {
    std::unique_ptr<float[]> dx, dy, dz;
    std::unique_ptr<int32_t[]> at;
    size_t capacity = 0;

    // Room for `room` lanes; what was there is not kept. A crowded cell
    // may put any number of candidates within reach.
    void Reserve(size_t room) {
        if (room <= capacity) return;
        capacity = std::max(room, 2 * capacity);
        for (std::unique_ptr<float[]>* axis : {&dx, &dy, &dz}) axis->reset(new float[capacity]);
        at.reset(new int32_t[capacity]);
    }

    // Adds the lanes of `bits` of the candidates at places s to s + 7
    // after the first `count`, and returns the new count. (The count is the
    // caller's: kept here, it would be stored and loaded again with every
    // vector, since the places stored might alias it.)
    [[gnu::always_inline]] int32_t Add(unsigned bits, const Candidates<Wide>& c, int32_t s, int32_t count) {
#if defined(__AVX2__)
        const __m256i order = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kPackOrder.lanes[bits]));
        const auto put = [&](float* into, Wide from) {
            _mm256_storeu_ps(into + count, _mm256_permutevar8x32_ps(reinterpret_cast<__m256>(from), order));
        };
        put(dx.get(), c.dx);
        put(dy.get(), c.dy);
        put(dz.get(), c.dz);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at.get() + count),
                            _mm256_add_epi32(order, _mm256_set1_epi32(s)));
        return count + __builtin_popcount(bits);
#else
        for (; bits != 0; bits &= bits - 1) {
            const int lane = __builtin_ctz(bits);
            dx[count] = c.dx[lane];
            dy[count] = c.dy[lane];
            dz[count] = c.dz[lane];
            at[count] = s + lane;
            ++count;
        }
        return count;
#endif
    }
};

// Packs the candidates of each member of a group (places p to p + kSize -
// 1) not surely beyond h into its `near`, in the order of the walk, and
// returns their counts in `count`. A member's packed candidates are those
// a walk of its own would pack, in the same order: the group's rows run
// further along the column than the member's own only by cells beyond h.
// Each `near` has room for all of the group's candidates and a vector more.
template <int kSize>
[[gnu::always_inline]] inline void PackNear(const LabFastView& v, int32_t p, int32_t span, Near* near,
                                            int32_t* count) {
    const Wide beyond = SurelyBeyond(*v.constants);
    Wide xs[kSize], ys[kSize], zs[kSize];
    for (int m = 0; m < kSize; ++m) {
        xs[m] = Splat(v.x[p + m]);
        ys[m] = Splat(v.y[p + m]);
        zs[m] = Splat(v.z[p + m]);
        count[m] = 0;
    }
    ForEachVector(v, p, span, [&](int32_t s, Wide x, Wide y, Wide z, WideInts inRun, auto...) {
        for (int m = 0; m < kSize; ++m) {
            const Candidates<Wide> c = Seen(xs[m], ys[m], zs[m], x, y, z);
            count[m] = near[m].Add(LaneMask(inRun & Less(c.q, beyond)), c, s, count[m]);
        }
    });
    // The last vector's idle lanes: places that exist, never kept.
    for (int m = 0; m < kSize; ++m) {
        std::fill(near[m].at.get() + count[m], near[m].at.get() + count[m] + kFastLanes, p + m);
    }
}

// Every packed candidate, eight at a time: fn(at, c, r, in), with `at` the
// eight places, c the differences in metres, r the distances in metres and
// `in` the lanes within h (the member itself among them, at r = 0).
template <bool kUnitScale, class Fn>
[[gnu::always_inline]] inline void ForEachPacked(const LabFastView& v, const Near& near, int32_t count, Fn fn) {
    const LabConstants& k = *v.constants;
    const Wide scale = Splat(k.simScale);
    const Wide h = Splat(k.smoothingRadius);
    for (int32_t e = 0; e < count; e += kFastLanes) {
        Candidates<Wide> c;
        c.dx = Load(near.dx.get() + e);
        c.dy = Load(near.dy.get() + e);
        c.dz = Load(near.dz.get() + e);
        // As the walk found it, from the same differences.
        c.q = (c.dx * c.dx + c.dy * c.dy) + c.dz * c.dz;
        const Wide r = kUnitScale ? SquareRoot(c.q) : SquareRoot(c.q) * scale;
        if constexpr (!kUnitScale) {
            c.dx = c.dx * scale;
            c.dy = c.dy * scale;
            c.dz = c.dz * scale;
        }
        fn(near.at.get() + e, c, r, Less(kWideLaneNumbers, Splat(count - e)) & Less(r, h));
    }
}

// Writes the places and gradients of `bits`' lanes, in lane order, at the
// end of the list (which has room for a whole vector more).
[[gnu::always_inline]] inline void Append(unsigned bits, const int32_t* at, const Wide (&gradient)[3],
                                          LabPartners& list) {
    if (bits == 0) return;
#if defined(__AVX2__)
    const size_t size = list.size;
    const __m256i order = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kPackOrder.lanes[bits]));
    const __m256i places = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(list.place.get() + size), _mm256_permutevar8x32_epi32(places, order));
    for (int axis = 0; axis < 3; ++axis) {
        StoreHalves(list.gradient[axis].get() + size,
                    reinterpret_cast<Wide>(_mm256_permutevar8x32_ps(reinterpret_cast<__m256>(gradient[axis]), order)));
    }
    list.size += static_cast<size_t>(__builtin_popcount(bits));
#else
    for (; bits != 0; bits &= bits - 1) {
        const int lane = __builtin_ctz(bits);
        list.place[list.size] = at[lane];
        for (int axis = 0; axis < 3; ++axis) list.gradient[axis][list.size] = HalfOf(gradient[axis][lane]);
        ++list.size;
    }
#endif
}

// Pads the run ending the list to whole lanes with place p at gradient 0,
// and marks where the next begins.
inline void EndRun(int32_t p, LabPartners& list) {
    while (list.size % kFastLanes != 0) {
        list.place[list.size] = p;
        for (std::unique_ptr<uint16_t[]>& axis : list.gradient) axis[list.size] = 0;
        ++list.size;
    }
    list.start.push_back(static_cast<int32_t>(list.size));
}

template <bool kUnitScale>
void DivergenceFreeDensityOf(const LabFastView& v, int32_t first, int32_t last, const LabDivergenceFree& out,
                             LabPartners& list) {
    const LabConstants& k = *v.constants;
    const CubicConstants<Wide> cubic(k);
    const Wide zero = Splat(0.0f);
    const Wide mass = Splat(k.particleMass);
    const Wide perUnit = Splat(1.0f / k.gradientUnit);
    const float full = k.restDensity / k.smoothingRadius;
    const float least = (0.2f * full) * (0.2f * full);
    list.start.assign(1, 0);
    list.size = 0;
    // A place's walls, listed after its fluid partners.
    LabPartners walls;
    // Fluid place p, from its packed candidates.
    const auto sweep = [&](int32_t p, const Near& near, int32_t count) {
        // Room for every candidate, both runs' padding and a vector more.
        list.Reserve(static_cast<size_t>(count) + 3 * kFastLanes);
        walls.size = 0;
        walls.Reserve(static_cast<size_t>(count) + kFastLanes);
        // The factor's sums, from the gradients as the list keeps them.
        Wide density = zero, gx = zero, gy = zero, gz = zero, squares = zero, bx = zero, by = zero, bz = zero;
        ForEachPacked<kUnitScale>(v, near, count, [&](const int32_t* at, const Candidates<Wide>& c, Wide r,
                                                      WideInts in) {
            const Cubic w = CubicAt(cubic, r);
            const Wide m = Gather(v.share, at) * mass;
            const Wide mg = m * w.g;
            const Wide gradient[3] = {RoundedToHalves((mg * c.dx) * perUnit), RoundedToHalves((mg * c.dy) * perUnit),
                                      RoundedToHalves((mg * c.dz) * perUnit)};
            density += Keep(in, m * w.w);
            const WideInts fluid = in & Less(Gather(v.fixed, at), Splat(0.5f));
            const WideInts wall = in & ~fluid;
            WideInts places;
            std::memcpy(&places, at, sizeof places);
            Append(LaneMask(fluid & NotEqual(places, Splat(p))), at, gradient, list);
            Append(LaneMask(wall), at, gradient, walls);
            gx += Keep(fluid, gradient[0]);
            gy += Keep(fluid, gradient[1]);
            gz += Keep(fluid, gradient[2]);
            squares += Keep(fluid, (gradient[0] * gradient[0] + gradient[1] * gradient[1]) + gradient[2] * gradient[2]);
            bx += Keep(wall, gradient[0]);
            by += Keep(wall, gradient[1]);
            bz += Keep(wall, gradient[2]);
        });
        const size_t partners = list.size - static_cast<size_t>(list.start.back()) + walls.size;
        EndRun(p, list);
        std::copy(walls.place.get(), walls.place.get() + walls.size, list.place.get() + list.size);
        for (int axis = 0; axis < 3; ++axis) {
            std::copy(walls.gradient[axis].get(), walls.gradient[axis].get() + walls.size,
                      list.gradient[axis].get() + list.size);
        }
        list.size += walls.size;
        EndRun(p, list);
        const float sx = Total(gx) + Total(bx), sy = Total(gy) + Total(by), sz = Total(gz) + Total(bz);
        // Walls give the particle's own push back (they mirror it), so its
        // push moves its density by the walls' share once more.
        const float mirrored = (Total(bx) * sx + Total(by) * sy) + Total(bz) * sz;
        const float d = ((((sx * sx + sy * sy) + sz * sz) + Total(squares)) + std::max(mirrored, 0.0f)) *
                        (k.gradientUnit * k.gradientUnit);
        out.density[p] = Total(density);
        // A particle with a few partners at the kernel's edge, where the
        // gradient fades, would take a push out of all measure for what
        // little it can change its density: below a fifth of the
        // gradient sum a full neighbourhood has (about rho / h), none.
        out.factor[p] = d > least ? 1.0f / d : 0.0f;
        out.partners[p] = static_cast<float>(partners);
    };
    Near near[kDensityGroup];
    int32_t count[kDensityGroup];
    for (int32_t p = first; p < last;) {
        if (v.fixed[p] != 0.0f || p >= v.placed) {
            out.density[p] = v.fixed[p] != 0.0f ? k.restDensity : 0.0f;
            out.factor[p] = out.partners[p] = 0.0f;
            list.start.push_back(list.start.back());
            list.start.push_back(list.start.back());
            ++p;
            continue;
        }
        const Group g = GroupAt(v, p, last, kDensityGroup, kDensityGroupSpan,
                                [&](int32_t i) { return v.fixed[i] == 0.0f; });
        size_t candidates = 0;
        ForEachRow(
            v, p, [&](int32_t from, int32_t to, auto...) { candidates += static_cast<size_t>(to - from); }, g.span);
        for (int m = 0; m < g.size; ++m) near[m].Reserve(candidates + kFastLanes);
        WithSize<kDensityGroup>(g.size, [&](auto size) { PackNear<decltype(size)::value>(v, p, g.span, near, count); });
        for (int m = 0; m < g.size; ++m) sweep(p + m, near[m], count[m]);
        p += g.size;
    }
}

// Calls fn(j, e) for the listed partners of place p (first + k) eight at a
// time, the fluid's run or the walls': j their places, e where they are
// in the list.
template <bool kWalls, class Fn>
[[gnu::always_inline]] inline void ForEachListed(const LabPartners& list, int32_t k, Fn fn) {
    const int32_t from = list.start[static_cast<size_t>(2 * k + (kWalls ? 1 : 0))];
    const int32_t to = list.start[static_cast<size_t>(2 * k + (kWalls ? 2 : 1))];
    for (int32_t e = from; e < to; e += kFastLanes) fn(list.place.get() + e, e);
}

struct Gradient {
    Wide x, y, z;
};
[[gnu::always_inline]] inline Gradient GradientAt(const LabPartners& list, int32_t e) {
    return Gradient{LoadHalves(list.gradient[0].get() + e), LoadHalves(list.gradient[1].get() + e),
                    LoadHalves(list.gradient[2].get() + e)};
}

void DensityRateOf(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, float* rate) {
    for (int32_t p = first; p < last; ++p) {
        Wide sum = Splat(0.0f);
        const Wide vxi = Splat(v.vx[p]), vyi = Splat(v.vy[p]), vzi = Splat(v.vz[p]);
        const auto add = [&](const int32_t* j, int32_t e) {
            const Gradient g = GradientAt(list, e);
            Wide vj[4];
            Gather4(v.packedVelocity, j, vj);
            sum += ((vxi - vj[0]) * g.x + (vyi - vj[1]) * g.y) + (vzi - vj[2]) * g.z;
        };
        ForEachListed<false>(list, p - first, add);
        ForEachListed<true>(list, p - first, add);
        rate[p] = Total(sum) * v.constants->gradientUnit;
    }
}

void PressurePushOf(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, const float* u,
                    float* vx, float* vy, float* vz, float* packedVelocity) {
    const Wide zero = Splat(0.0f);
    const float unit = v.constants->gradientUnit;
    for (int32_t p = first; p < last; ++p) {
        if (v.fixed[p] != 0.0f || p >= v.placed) continue;
        Wide sx = zero, sy = zero, sz = zero;
        const Wide ui = Splat(u[p]);
        ForEachListed<false>(list, p - first, [&](const int32_t* j, int32_t e) {
            const Gradient g = GradientAt(list, e);
            const Wide f = ui + Gather(u, j);
            sx += f * g.x;
            sy += f * g.y;
            sz += f * g.z;
        });
        // A wall mirrors the fluid particle's own u: a uniform pressure
        // beside a wall then pushes nowhere, as it does inside the fluid.
        ForEachListed<true>(list, p - first, [&](const int32_t*, int32_t e) {
            const Gradient g = GradientAt(list, e);
            const Wide f = ui + ui;
            sx += f * g.x;
            sy += f * g.y;
            sz += f * g.z;
        });
        vx[p] = packedVelocity[4 * p] = vx[p] - Total(sx) * unit;
        vy[p] = packedVelocity[4 * p + 1] = vy[p] - Total(sy) * unit;
        vz[p] = packedVelocity[4 * p + 2] = vz[p] - Total(sz) * unit;
    }
}

template <bool kUnitScale>
void ViscosityOf(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, float mu, float wallMu,
                 float xsph, float dt, float* ax, float* ay, float* az) {
    const LabConstants& k = *v.constants;
    const CubicConstants<Wide> cubic(k);
    const Wide zero = Splat(0.0f);
    const Wide mass = Splat(k.particleMass);
    // 2 (d + 2) nu, with nu = mu / rest density; the 0.01 h^2 keeps close pairs finite.
    const Wide nu = Splat(10.0f * (mu / k.restDensity));
    const Wide wallNu = Splat(10.0f * ((mu + wallMu) / k.restDensity));
    const Wide soft = Splat(0.01f * (k.smoothingRadius * k.smoothingRadius));
    const Wide rest = Splat(k.restDensity);
    const Wide one = Splat(1.0f), two = Splat(2.0f);
    const Wide scale = Splat(k.simScale);
    for (int32_t p = first; p < last; ++p) {
        if (v.fixed[p] != 0.0f || p >= v.placed) {
            ax[p] = ay[p] = az[p] = 0.0f;
            continue;
        }
        const Wide densityi = Splat(v.density[p]);
        const Wide xs = Splat(v.x[p]), ys = Splat(v.y[p]), zs = Splat(v.z[p]);
        const Wide vxi = Splat(v.vx[p]), vyi = Splat(v.vy[p]), vzi = Splat(v.vz[p]);
        Wide fx = zero, fy = zero, fz = zero, mx = zero, my = zero, mz = zero, bx = zero, by = zero, bz = zero;
        // The pair's velocity less this particle's along the line between
        // them, (v_i - v_j) . (x_i - x_j), and their distance squared.
        const auto relative = [&](const int32_t* j, Wide& dvx, Wide& dvy, Wide& dvz, Wide& r2, Wide& densityj) {
            Wide place[4], velocity[4];
            Gather4(v.packedPlace, j, place);
            Gather4(v.packedVelocity, j, velocity);
            Wide dx = xs - place[0], dy = ys - place[1], dz = zs - place[2];
            densityj = place[3];
            if constexpr (!kUnitScale) {
                dx = dx * scale;
                dy = dy * scale;
                dz = dz * scale;
            }
            r2 = (dx * dx + dy * dy) + dz * dz;
            dvx = vxi - velocity[0];
            dvy = vyi - velocity[1];
            dvz = vzi - velocity[2];
            return (dvx * dx + dvy * dy) + dvz * dz;
        };
        // The mean of the pair's densities keeps the pair's pushes equal and
        // opposite. Both quotients from one division: the divider is the
        // sweep's narrowest part.
        ForEachListed<false>(list, p - first, [&](const int32_t* j, int32_t e) {
            Wide dvx, dvy, dvz, r2, densityj;
            const Wide along = relative(j, dvx, dvy, dvz, r2, densityj);
            const Wide softened = r2 + soft;
            const Wide inverse = Divide(one, (densityi + densityj) * softened);
            const Wide pair = (two * softened) * inverse;
            const Gradient g = GradientAt(list, e);
            const Wide f = (two * along) * inverse;
            fx += f * g.x;
            fy += f * g.y;
            fz += f * g.z;
            const Wide smooth = (pair * mass) * CubicAt(cubic, SquareRoot(r2)).w;
            mx += smooth * (zero - dvx);
            my += smooth * (zero - dvy);
            mz += smooth * (zero - dvz);
        });
        // A wall particle's density is taken as the rest density; walls
        // take no part in the smoothing.
        const Wide wallPair = Divide(two, densityi + rest);
        ForEachListed<true>(list, p - first, [&](const int32_t* j, int32_t e) {
            Wide dvx, dvy, dvz, r2, densityj;
            const Wide along = relative(j, dvx, dvy, dvz, r2, densityj);
            const Wide f = wallPair * Divide(along, r2 + soft);
            const Gradient g = GradientAt(list, e);
            bx += f * g.x;
            by += f * g.y;
            bz += f * g.z;
        });
        const float toward = xsph / dt;
        ax[p] = (Total(nu * fx) + Total(wallNu * bx)) * k.gradientUnit + toward * Total(mx);
        ay[p] = (Total(nu * fy) + Total(wallNu * by)) * k.gradientUnit + toward * Total(my);
        az[p] = (Total(nu * fz) + Total(wallNu * bz)) * k.gradientUnit + toward * Total(mz);
    }
}

// Calls fn(unitScale, cubic) with the weakly compressible sweeps' two
// choices as types, so that each is made apart from the others.
template <class Fn>
void WithKernel(const LabFastView& v, Fn fn) {
    const auto unit = [&](auto cubic) {
        v.simScale == 1.0f ? fn(std::true_type{}, cubic) : fn(std::false_type{}, cubic);
    };
    v.constants->cubicSpline ? unit(std::true_type{}) : unit(std::false_type{});
}

}  // namespace

void Density(const LabFastView& v, int32_t first, int32_t last, float* density, float* pressure) {
    WithKernel(v, [&](auto unit, auto cubic) {
        DensityOf<decltype(unit)::value, decltype(cubic)::value>(v, first, last, density, pressure);
    });
}

void Forces(const LabFastView& v, int32_t first, int32_t last, const uint8_t* moving, float* ax, float* ay,
            float* az) {
    WithKernel(v, [&](auto unit, auto cubic) {
        ForcesOf<decltype(unit)::value, decltype(cubic)::value>(v, first, last, moving, ax, ay, az);
    });
}


#define PONDSIM_LAB_SCALED(name, ...) \
    v.simScale == 1.0f ? name<true>(__VA_ARGS__) : name<false>(__VA_ARGS__)

void DivergenceFreeDensity(const LabFastView& v, int32_t first, int32_t last, const LabDivergenceFree& out,
                           LabPartners& list) {
    PONDSIM_LAB_SCALED(DivergenceFreeDensityOf, v, first, last, out, list);
}
void DensityRate(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, float* rate) {
    DensityRateOf(v, list, first, last, rate);
}
void PressurePush(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, const float* u, float* vx,
                  float* vy, float* vz, float* packedVelocity) {
    PressurePushOf(v, list, first, last, u, vx, vy, vz, packedVelocity);
}
void Viscosity(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, float mu, float wallMu,
               float xsph, float dt, float* ax, float* ay, float* az) {
    PONDSIM_LAB_SCALED(ViscosityOf, v, list, first, last, mu, wallMu, xsph, dt, ax, ay, az);
}

#undef PONDSIM_LAB_SCALED

extern const LabFastBuild kBuild;
const LabFastBuild kBuild{PONDSIM_LAB_FAST_NAME, Density,      Forces,   DivergenceFreeDensity,
                          DensityRate,           PressurePush, Viscosity};

}  // namespace PONDSIM_LAB_FAST_NAMESPACE

#if defined(PONDSIM_LAB_FAST_DISPATCH)

#if defined(PONDSIM_LAB_AVX_BUILDS)
namespace avx2 {
extern const LabFastBuild kBuild;
}  // namespace avx2
namespace avx512 {
extern const LabFastBuild kBuild;
}  // namespace avx512
#endif

namespace {

// The widest build the processor runs (the AVX builds take F16C as well,
// which every processor with AVX2 has; clang cannot ask for it by name),
// unless the environment asks for a narrower one: PONDSIM_LAB_PORTABLE for
// the portable build, PONDSIM_LAB_AVX2 for AVX2 where the processor has
// AVX-512. Every build gives the same bits.
const LabFastBuild& Chosen() {
    static const LabFastBuild& build = []() -> const LabFastBuild& {
#if defined(PONDSIM_LAB_AVX_BUILDS)
        if (std::getenv("PONDSIM_LAB_PORTABLE") != nullptr || !__builtin_cpu_supports("avx2")) return portable::kBuild;
        const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                            __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq");
        if (!avx512 || std::getenv("PONDSIM_LAB_AVX2") != nullptr) return avx2::kBuild;
        return avx512::kBuild;
#else
        return portable::kBuild;
#endif
    }();
    return build;
}

}  // namespace

const char* LabFastBuildName() {
    return Chosen().name;
}

void LabFastDensity(const LabFastView& v, int32_t first, int32_t last, float* density, float* pressure) {
    Chosen().density(v, first, last, density, pressure);
}
void LabFastForces(const LabFastView& v, int32_t first, int32_t last, const uint8_t* moving, float* ax, float* ay,
                   float* az) {
    Chosen().forces(v, first, last, moving, ax, ay, az);
}
void LabFastDivergenceFreeDensity(const LabFastView& v, int32_t first, int32_t last, const LabDivergenceFree& out,
                                  LabPartners& list) {
    Chosen().divergenceFreeDensity(v, first, last, out, list);
}
void LabFastDensityRate(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, float* rate) {
    Chosen().densityRate(v, list, first, last, rate);
}
void LabFastPressurePush(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, const float* u,
                         float* vx, float* vy, float* vz, float* packedVelocity) {
    Chosen().pressurePush(v, list, first, last, u, vx, vy, vz, packedVelocity);
}
void LabFastViscosity(const LabFastView& v, const LabPartners& list, int32_t first, int32_t last, float mu,
                      float wallMu, float xsph, float dt, float* ax, float* ay, float* az) {
    Chosen().viscosity(v, list, first, last, mu, wallMu, xsph, dt, ax, ay, az);
}

#endif
