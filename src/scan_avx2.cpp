// The AVX2 scan kernel (with BMI1, BMI2 and POPCNT). A line of plain
// numbers of up to four digits, which is what a recording holds, is
// converted whole, 32 bytes at a time, with no branch per byte or token:
// every byte position gets the value of the number that would end there,
// the values at the numbers' ends are packed to the front, and the first
// 32 are folded into the ranges 8 at a time. A line with anything else (a
// sign, a tab, a letter, a NUL, a longer number) takes the token loop.
//
// The build compiles this file alone for these extensions; the dispatcher
// calls it only on a processor that has them. Nothing here has external
// linkage but the kernel, so no code built for them can stand in for code
// of the rest of the program.
#include "scan_kernels.h"
#include "scan_pack.h"
#include "scan_tokens.h"

#include <immintrin.h>

namespace scan {
namespace {

const int kChunkBytes = 32;
const int kFoldLanes = 8;  // 32-bit values per vector
// Bytes as they are after '0' is taken off: digits are 0 to 9, and a space
// is this, with its high bit set, as has the newline after the line.
const char kSpaceDigit = static_cast<char>(' ' - '0');

__m256i load(const void* p)
{
    return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}

unsigned bits_of(__m256i bytes)
{
    return static_cast<unsigned>(_mm256_movemask_epi8(bytes));
}

// Classifies a window for the token loop, 32 bytes at a time.
struct Avx2 {
    static Window classify(const char* p, const char* end)
    {
        Window w = {0, 0, 0};
        for (int half = 0; half < kWindowBytes / kChunkBytes; ++half) {
            const __m256i bytes = load(p + half * kChunkBytes);
            const __m256i value = _mm256_sub_epi8(bytes, _mm256_set1_epi8('0'));
            const __m256i digit = _mm256_cmpeq_epi8(_mm256_min_epu8(value, _mm256_set1_epi8(9)), value);
            const int shift = half * kChunkBytes;
            w.spaces |= std::uint64_t{bits_of(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(' ')))} << shift;
            w.ends |= std::uint64_t{bits_of(_mm256_cmpeq_epi8(bytes, _mm256_setzero_si256()))} << shift;
            w.non_digits |= std::uint64_t{~bits_of(digit)} << shift;
        }
        w.ends |= end_bit(p, end);
        return w;
    }
};

// The chunk's bytes moved up by n (1 to 4) places, the previous chunk's
// last bytes coming in at the front.
template <int n>
__m256i shifted(__m256i previous, __m256i current)
{
    return _mm256_alignr_epi8(current, _mm256_permute2x128_si256(previous, current, 0x21), 16 - n);
}

// Packs the values of the eight positions whose bits are set in ends to
// out[at] and on. Writes 16 bytes whatever ends is.
void pack(__m128i values, unsigned ends, std::int16_t* out, int at)
{
    const __m128i order = _mm_load_si128(reinterpret_cast<const __m128i*>(kPackTable[ends].index));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_shuffle_epi8(values, order));
}

// Packs the values at the numbers' ends, 16 positions in each of low and
// high as the unpacking left them: low holds positions 0-7 and 16-23, high
// 8-15 and 24-31. Each group's place comes from the counts below it, so
// that the four packs need not wait for each other.
int pack_chunk(__m256i low, __m256i high, unsigned ends, std::int16_t* out, int count)
{
    const int second = count + _mm_popcnt_u32(ends & 0xFF);
    const int third = count + _mm_popcnt_u32(ends & 0xFFFF);
    const int fourth = count + _mm_popcnt_u32(ends & 0xFFFFFF);
    pack(_mm256_castsi256_si128(low), ends & 0xFF, out, count);
    pack(_mm256_castsi256_si128(high), ends >> 8 & 0xFF, out, second);
    pack(_mm256_extracti128_si256(low, 1), ends >> 16 & 0xFF, out, third);
    pack(_mm256_extracti128_si256(high, 1), ends >> 24, out, fourth);
    return count + _mm_popcnt_u32(ends);
}

// Converts the numbers that end in the 32 bytes at p, of which left are
// the line's, packs their values to out[count] and on, and returns the new
// count. Marks in odd the bytes that the quick way cannot take: anything
// but a digit or a space, and the end of a number of more than four digits.
//
// A number ends where the next byte, which the load at p + 1 shows, has
// its high bit set once '0' is taken off: a space, or the line's newline.
// At every position, the digits one to three places back count only up to
// the nearest space: a space has the high bit set, which makes the table
// lookups read 0 and the blends pick 0 or a high bit in turn.
int convert_chunk(const char* p, int left, __m256i& previous, std::int16_t* out, int count, unsigned& odd)
{
    const __m256i zero = _mm256_set1_epi8('0');
    const __m256i current = _mm256_sub_epi8(load(p), zero);
    const unsigned inside = _bzhi_u32(~0u, static_cast<unsigned>(left));
    const unsigned high = bits_of(current);
    const unsigned ends = ~high & bits_of(_mm256_sub_epi8(load(p + 1), zero)) & inside;
    const unsigned digit_or_high = bits_of(_mm256_cmpgt_epi8(_mm256_set1_epi8(10), current));
    const unsigned space = bits_of(_mm256_cmpeq_epi8(current, _mm256_set1_epi8(kSpaceDigit)));
    odd |= (~digit_or_high | (high ^ space)) & inside;

    const __m256i back1 = shifted<1>(previous, current);
    const __m256i back2 = shifted<2>(previous, current);
    const __m256i back3 = shifted<3>(previous, current);
    const __m256i back4 = shifted<4>(previous, current);
    previous = current;
    const __m256i space_within2 = _mm256_or_si256(back1, back2);
    odd |= ~bits_of(_mm256_or_si256(_mm256_or_si256(space_within2, back3), back4)) & ends;
    const __m256i hundreds = _mm256_blendv_epi8(back2, _mm256_setzero_si256(), space_within2);
    const __m256i thousands = _mm256_blendv_epi8(back3, space_within2, space_within2);
    // Two two-digit numbers at every position, each fitting a byte, and
    // then one multiply-add: low + 100 * high.
    const __m256i tenfold = _mm256_setr_epi8(0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 0, 0, 0, 0, 0, 0, 10,
                                             20, 30, 40, 50, 60, 70, 80, 90, 0, 0, 0, 0, 0, 0);
    const __m256i low_pair = _mm256_add_epi8(current, _mm256_shuffle_epi8(tenfold, back1));
    const __m256i high_pair = _mm256_add_epi8(hundreds, _mm256_shuffle_epi8(tenfold, thousands));
    const __m256i one_hundred = _mm256_set1_epi16(100 << 8 | 1);
    const __m256i low = _mm256_maddubs_epi16(_mm256_unpacklo_epi8(low_pair, high_pair), one_hundred);
    const __m256i high_half = _mm256_maddubs_epi16(_mm256_unpackhi_epi8(low_pair, high_pair), one_hundred);
    return pack_chunk(low, high_half, ends, out, count);
}

// Folds the lanes of value that are ADC codes, of those set in used, into
// the code bits at all and any. The values of the quick way are plain
// numbers of up to four digits: none is negative.
void fold_codes(__m256i value, __m256i used, int* all, int* any)
{
    const __m256i code = _mm256_andnot_si256(_mm256_cmpgt_epi32(value, _mm256_set1_epi32(kMaxCode)), used);
    __m256i* const every = reinterpret_cast<__m256i*>(all);
    __m256i* const some = reinterpret_cast<__m256i*>(any);
    const __m256i kept = _mm256_blendv_epi8(_mm256_set1_epi32(kMaxCode), value, code);
    _mm256_storeu_si256(every, _mm256_and_si256(_mm256_loadu_si256(every), kept));
    _mm256_storeu_si256(some, _mm256_or_si256(_mm256_loadu_si256(some), _mm256_and_si256(value, code)));
}

// Folds the first count values into the ranges, and for the survey into
// the code bits, leaving it the values too, 8 channels at a time. A channel
// past count keeps its range: its lane takes the old bound.
void fold(const std::int16_t* values, int count, int* minimum, int* maximum, SurveyLine* survey)
{
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (int chan = 0; chan < count; chan += kFoldLanes) {
        const __m256i value =
            _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values + chan)));
        const __m256i used = _mm256_cmpgt_epi32(_mm256_set1_epi32(count - chan), lane);
        __m256i* const low = reinterpret_cast<__m256i*>(minimum + chan);
        __m256i* const high = reinterpret_cast<__m256i*>(maximum + chan);
        __m256i new_low = _mm256_min_epi32(_mm256_loadu_si256(low), value);
        __m256i new_high = _mm256_max_epi32(_mm256_loadu_si256(high), value);
        if (count - chan < kFoldLanes) {
            new_low = _mm256_blendv_epi8(_mm256_loadu_si256(low), new_low, used);
            new_high = _mm256_blendv_epi8(_mm256_loadu_si256(high), new_high, used);
        }
        _mm256_storeu_si256(low, new_low);
        _mm256_storeu_si256(high, new_high);
        if (survey != nullptr) {
            fold_codes(value, used, survey->bits.all + chan, survey->bits.any + chan);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(survey->values + chan), value);
        }
    }
}

}  // namespace

int avx2_fold_line(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey)
{
    // Room for every number a chunk can pack past the channels, and for
    // the 16 bytes that a pack always writes.
    std::int16_t values[kTokens + kChunkBytes + kPackValues];
    const int length = static_cast<int>(end - line);
    __m256i previous = _mm256_set1_epi8(kSpaceDigit);  // the line start acts as a space
    unsigned odd = 0;
    int count = 0;
    int at = 0;
    // The chunks up to the one that holds the last channel's number, which
    // ends there whatever follows it.
    for (; at < length && count < kTokens; at += kChunkBytes) {
        count = convert_chunk(line + at, length - at, previous, values, count, odd);
    }
    if (odd != 0) return fold_line_by_window<Avx2>(line, end, minimum, maximum, survey);
    if (survey != nullptr) survey->plain_bytes = at < length ? at : length;
    if (count < kTokens) {
        // The fold loads whole groups of eight and masks off the lanes past
        // count: they are written here, so that none is read unwritten.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(values + count), _mm_setzero_si128());
    } else {
        count = kTokens;
    }
    fold(values, count, minimum, maximum, survey);
    return count;
}

}  // namespace scan
