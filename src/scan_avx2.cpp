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
const int kMaxChunks = 6;  // a line holds at most 191 bytes
const int kFoldLanes = 8;  // 32-bit values per vector
// Bytes as they are after '0' is taken off: digits are 0 to 9, and a space
// (also every byte past the line's end) is this, with its high bit set.
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

// A line taken apart for the quick way: each chunk's bytes less '0', with
// the bytes past the line's end made spaces, and each chunk's digit mask.
struct Chunks {
    __m256i digits[kMaxChunks];
    unsigned digit_bits[kMaxChunks + 1];  // one more, empty, after the last
    int count;
};

// Splits the line into chunks; returns false when the line holds a byte
// other than a digit or a space, or a number of more than four digits.
bool split_plain(const char* line, const char* end, Chunks& c)
{
    const int length = static_cast<int>(end - line);
    const __m256i position = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                              17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    unsigned odd = 0;  // bytes that are neither
    unsigned long long earlier = 0;  // digit mask of the chunks so far, in its top bits
    c.count = (length + kChunkBytes - 1) / kChunkBytes;
    for (int i = 0; i < c.count; ++i) {
        const int left = length - i * kChunkBytes;
        const __m256i inside = _mm256_cmpgt_epi8(_mm256_set1_epi8(left < kChunkBytes ? left : kChunkBytes),
                                                 position);
        const __m256i bytes = _mm256_sub_epi8(load(line + i * kChunkBytes), _mm256_set1_epi8('0'));
        const __m256i digits = _mm256_blendv_epi8(_mm256_set1_epi8(kSpaceDigit), bytes, inside);
        const __m256i digit = _mm256_cmpeq_epi8(_mm256_min_epu8(digits, _mm256_set1_epi8(9)), digits);
        const __m256i space = _mm256_cmpeq_epi8(digits, _mm256_set1_epi8(kSpaceDigit));
        odd |= ~bits_of(_mm256_or_si256(digit, space));
        c.digits[i] = digits;
        c.digit_bits[i] = bits_of(digit);
        earlier = earlier >> kChunkBytes | static_cast<unsigned long long>(c.digit_bits[i]) << kChunkBytes;
        unsigned long long run = earlier;  // five digits in a row end where this keeps a bit
        for (unsigned n = 1; n <= kShortNumberDigits; ++n) run &= earlier << n;
        odd |= static_cast<unsigned>(run >> kChunkBytes);
    }
    c.digit_bits[c.count] = 0;
    return odd == 0;
}

// The chunk's bytes moved up by n (1 to 3) places, the previous chunk's
// last bytes coming in at the front.
template <int n>
__m256i shifted(__m256i previous, __m256i current)
{
    return _mm256_alignr_epi8(current, _mm256_permute2x128_si256(previous, current, 0x21), 16 - n);
}

// The digit n places back, or 0 when a space lies between: `seen` holds
// the high bit of every byte from there up to here.
__m256i digit_back(__m256i back, __m256i seen)
{
    return _mm256_blendv_epi8(back, _mm256_setzero_si256(), seen);
}

// Packs the values of the eight positions whose bits are set in ends to
// out[count] and on; returns the new count. Writes 16 bytes whatever ends is.
int pack(__m128i values, unsigned ends, std::int16_t* out, int count)
{
    const __m128i order = _mm_load_si128(reinterpret_cast<const __m128i*>(kPackTable[ends].index));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + count), _mm_shuffle_epi8(values, order));
    return count + _mm_popcnt_u32(ends);
}

// Converts the numbers that end in the chunk and packs their values.
int convert_chunk(__m256i previous, __m256i current, unsigned ends, std::int16_t* out, int count)
{
    const __m256i back1 = shifted<1>(previous, current);
    const __m256i back2 = shifted<2>(previous, current);
    const __m256i back3 = shifted<3>(previous, current);
    __m256i seen = _mm256_or_si256(current, back1);
    const __m256i tens = digit_back(back1, seen);
    seen = _mm256_or_si256(seen, back2);
    const __m256i hundreds = digit_back(back2, seen);
    seen = _mm256_or_si256(seen, back3);
    const __m256i thousands = digit_back(back3, seen);
    // Each pair of digits makes a 16-bit value, 10 * first + second; the
    // two pairs make the number. Unpacking works within 128-bit lanes, so
    // `low` holds positions 0-7 and 16-23, `high` 8-15 and 24-31.
    const __m256i ten_one = _mm256_set1_epi16(0x010A);
    const __m256i hundred = _mm256_set1_epi16(100);
    const __m256i low = _mm256_add_epi16(
        _mm256_mullo_epi16(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(thousands, hundreds), ten_one), hundred),
        _mm256_maddubs_epi16(_mm256_unpacklo_epi8(tens, current), ten_one));
    const __m256i high = _mm256_add_epi16(
        _mm256_mullo_epi16(_mm256_maddubs_epi16(_mm256_unpackhi_epi8(thousands, hundreds), ten_one), hundred),
        _mm256_maddubs_epi16(_mm256_unpackhi_epi8(tens, current), ten_one));
    count = pack(_mm256_castsi256_si128(low), ends & 0xFF, out, count);
    count = pack(_mm256_castsi256_si128(high), ends >> 8 & 0xFF, out, count);
    count = pack(_mm256_extracti128_si256(low, 1), ends >> 16 & 0xFF, out, count);
    return pack(_mm256_extracti128_si256(high, 1), ends >> 24, out, count);
}

// Converts the line's numbers, until kTokens of them are found; returns
// how many it found.
int convert_plain(const Chunks& c, std::int16_t* out)
{
    __m256i previous = _mm256_set1_epi8(kSpaceDigit);
    int count = 0;
    for (int i = 0; i < c.count && count < kTokens; ++i) {
        const unsigned digit = c.digit_bits[i];
        const unsigned ends = digit & ~(digit >> 1 | c.digit_bits[i + 1] << (kChunkBytes - 1));
        count = convert_chunk(previous, c.digits[i], ends, out, count);
        previous = c.digits[i];
    }
    return count < kTokens ? count : kTokens;
}

// Folds the first count values into the ranges, 8 channels at a time.
void fold(const std::int16_t* values, int count, int* minimum, int* maximum)
{
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    for (int chan = 0; chan < count; chan += kFoldLanes) {
        const __m256i used = _mm256_cmpgt_epi32(_mm256_set1_epi32(count - chan), lane);
        const __m256i value =
            _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values + chan)));
        __m256i* const low = reinterpret_cast<__m256i*>(minimum + chan);
        __m256i* const high = reinterpret_cast<__m256i*>(maximum + chan);
        const __m256i old_low = _mm256_loadu_si256(low);
        const __m256i old_high = _mm256_loadu_si256(high);
        _mm256_storeu_si256(low, _mm256_blendv_epi8(old_low, _mm256_min_epi32(old_low, value), used));
        _mm256_storeu_si256(high, _mm256_blendv_epi8(old_high, _mm256_max_epi32(old_high, value), used));
    }
}

}  // namespace

void avx2_fold_line(const char* line, const char* end, int* minimum, int* maximum)
{
    Chunks chunks;
    if (!split_plain(line, end, chunks)) {
        fold_line_by_window<Avx2>(line, end, minimum, maximum);
        return;
    }
    // Room for every number a chunk can pack past the channels, and for
    // the 16 bytes that a pack always writes.
    std::int16_t values[kTokens + kChunkBytes + kPackValues];
    fold(values, convert_plain(chunks, values), minimum, maximum);
}

}  // namespace scan
