// The AVX-512 scan kernel (BW, VBMI, VBMI2): classifies a window in one
// step and converts all the plain numbers of up to four digits in it
// together, with no loop over its tokens.
//
// The build compiles this file alone for these extensions; the dispatcher
// calls it only on a processor that has them. Nothing here has external
// linkage but the kernel, so no code built for them can stand in for code
// of the rest of the program.
#include "scan_kernels.h"
#include "scan_tokens.h"

#include <immintrin.h>

namespace scan {
namespace {

const int kLanes = 16;           // 32-bit values per vector
const int kLaneDigits = kShortNumberDigits;  // digit bytes gathered into each lane

// Byte tables, written out so that nothing built for these extensions runs
// before the dispatcher has chosen this kernel: each byte's own position;
// the lane it falls in; its place in the lane counted back from the lane's
// last byte.
alignas(64) const std::int8_t kPosition[kWindowBytes] = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
    26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 49,
    50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63,
};
alignas(64) const std::int8_t kLane[kWindowBytes] = {
    0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6, 7, 7, 7, 7,
    8, 8, 8, 8, 9, 9, 9, 9, 10, 10, 10, 10, 11, 11, 11, 11, 12, 12, 12, 12, 13, 13, 13, 13, 14, 14,
    14, 14, 15, 15, 15, 15,
};
alignas(64) const std::int8_t kBack[kWindowBytes] = {
    -3, -2, -1, 0, -3, -2, -1, 0, -3, -2, -1, 0, -3, -2, -1, 0, -3, -2, -1, 0, -3, -2, -1, 0, -3,
    -2, -1, 0, -3, -2, -1, 0, -3, -2, -1, 0, -3, -2, -1, 0, -3, -2, -1, 0, -3, -2, -1, 0, -3, -2,
    -1, 0, -3, -2, -1, 0, -3, -2, -1, 0, -3, -2, -1, 0,
};
static_assert(kLaneDigits == 4, "the tables hold four bytes a lane");

__m512i load(const void* p)
{
    return _mm512_loadu_si512(p);
}

// Byte i of the result is byte index[i] of bytes. (The plain intrinsic
// starts from an undefined vector, which g++ 12 warns about.)
__m512i permute(__m512i index, __m512i bytes)
{
    return _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, bytes);
}

// The token that runs up to the window's last byte, which the window
// cannot show the whole of; zero when the last byte is no token's. Found
// without a branch: the bits above the last gap between tokens.
std::uint64_t run_at_end(std::uint64_t tokens)
{
    const unsigned above_last_gap = static_cast<unsigned>(_lzcnt_u64(~tokens));  // 64 when none
    return ~_bzhi_u64(~std::uint64_t{0}, kWindowBytes - above_last_gap);
}

// Marks the runs of set bits longer than a short number's digits.
std::uint64_t long_runs(std::uint64_t bits)
{
    std::uint64_t run = bits;
    for (unsigned i = 1; i <= kShortNumberDigits; ++i) run &= bits >> i;
    return run;
}

// Converts the tokens that start and end at the set bits of starts and
// ends, all plain numbers of up to four digits, into values[count] and on.
// Each 32-bit lane gathers the four bytes that end at its token's last
// digit, keeps those at or after the token's start, and multiplies them
// into a value. Writes two whole vectors of 16 values, as many as a window
// can hold, so that no branch depends on how many there are.
int convert_plain(const char* window, std::uint64_t starts, std::uint64_t ends,
                  std::uint64_t non_digits, int* values, int count)
{
    const __m512i digits = _mm512_maskz_sub_epi8(~non_digits, load(window), _mm512_set1_epi8('0'));
    const __m512i first = _mm512_maskz_compress_epi8(starts, load(kPosition));
    const __m512i last = _mm512_maskz_compress_epi8(ends, load(kPosition));
    const __m512i tens = _mm512_set1_epi16((1 << 8) | 10);      // bytes 10, 1
    const __m512i hundreds = _mm512_set1_epi32((1 << 16) | 100);  // halves 100, 1
    __m512i lane = load(kLane);
    for (int done = 0; done < kWindowBytes / 2; done += kLanes) {
        const __m512i lane_first = permute(lane, first);
        const __m512i source = _mm512_add_epi8(permute(lane, last), load(kBack));
        const __mmask64 in_token = _mm512_cmpge_epi8_mask(source, lane_first);
        const __m512i gathered = _mm512_maskz_permutexvar_epi8(in_token, source, digits);
        const __m512i pairs = _mm512_maddubs_epi16(gathered, tens);
        _mm512_storeu_si512(values + count + done, _mm512_madd_epi16(pairs, hundreds));
        lane = _mm512_add_epi8(lane, _mm512_set1_epi8(kLanes));
    }
    return count + __builtin_popcountll(ends);
}

// Folds the values into the ranges, and for the survey into the code bits,
// leaving it the values too, 16 channels at a time.
void fold(const int* values, int count, int* minimum, int* maximum, SurveyLine* survey)
{
    for (int chan = 0; chan < kTokens; chan += kLanes) {
        const int left = count - chan;
        const __mmask16 used = left >= kLanes ? 0xFFFF : left > 0 ? (1u << left) - 1 : 0;
        // The lanes past count are not loaded at all: they may never have
        // been written.
        const __m512i value = _mm512_maskz_loadu_epi32(used, values + chan);
        const __m512i low = load(minimum + chan);
        const __m512i high = load(maximum + chan);
        _mm512_storeu_si512(minimum + chan, _mm512_mask_min_epi32(low, used, low, value));
        _mm512_storeu_si512(maximum + chan, _mm512_mask_max_epi32(high, used, high, value));
        if (survey != nullptr) {
            CodeBits& bits = survey->bits;
            // Unsigned, a negative value lies above every code too.
            const __mmask16 code = _mm512_mask_cmple_epu32_mask(used, value, _mm512_set1_epi32(kMaxCode));
            const __m512i all = load(bits.all + chan);
            const __m512i any = load(bits.any + chan);
            _mm512_storeu_si512(bits.all + chan, _mm512_mask_and_epi32(all, code, all, value));
            _mm512_storeu_si512(bits.any + chan, _mm512_mask_or_epi32(any, code, any, value));
            _mm512_storeu_si512(survey->values + chan, value);
        }
    }
}

Window classify(const char* p, const char* end)
{
    const __m512i bytes = load(p);
    const __m512i value = _mm512_sub_epi8(bytes, _mm512_set1_epi8('0'));  // digits become 0 to 9
    Window w;
    w.spaces = _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(' '));
    w.ends = _mm512_testn_epi8_mask(bytes, bytes) | end_bit(p, end);
    w.non_digits = _mm512_cmpgt_epu8_mask(value, _mm512_set1_epi8(9));
    return w;
}

// Converts the tokens of a line a window at a time. A window whose tokens
// are all plain numbers of up to four digits is converted in one go; when
// its last token runs past its end, the next window starts at that token,
// so that it too is converted with others. Any other window takes the
// general step, and the next window follows it.
int line_values(const char* line, const char* end, int* values)
{
    const char* window = line;
    std::uint64_t space_before = 1;  // the line start acts as a space
    int count = 0;
    while (count < kTokens) {
        const Window w = classify(window, end);
        std::uint64_t tokens = ~w.spaces & line_bytes(w);
        if (space_before == 0) tokens &= tokens + 1;  // drop the end of an earlier token
        std::uint64_t tail = run_at_end(tokens);
        const std::uint64_t plain = tokens & ~tail;
        if (((plain & w.non_digits) | long_runs(plain) | (tail & 1)) == 0) {
            count = convert_plain(window, plain & ~(plain << 1), plain & ~(plain >> 1),
                                  w.non_digits, values, count);
        } else {
            count = convert_window(window, w, space_before, values, count);
            tail = 0;  // converted with the rest
        }
        if (w.ends != 0) break;
        // A token cut by the window's end and left out: start there.
        space_before = tail != 0 ? 1 : w.spaces >> (kWindowBytes - 1);
        window += tail != 0 ? __builtin_ctzll(tail) : kWindowBytes;
    }
    return count < kTokens ? count : kTokens;
}

}  // namespace

int avx512_fold_line(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey)
{
    int values[kMaxValues];
    const int count = line_values(line, end, values);
    fold(values, count, minimum, maximum, survey);
    if (survey != nullptr) survey->plain_bytes = 0;  // the reader looks itself
    return count;
}

}  // namespace scan
