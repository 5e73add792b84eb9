// The x86-64 baseline scan kernel: classifies a window 16 bytes at a time
// with SSE2, which every x86-64 processor has.
#include "scan_kernels.h"
#include "scan_tokens.h"

#include <emmintrin.h>

namespace scan {
namespace {

// Bit i of these masks is set where byte i of the 16 is, in turn, a space,
// a NUL, or anything but a decimal digit.
unsigned space_bits(__m128i bytes)
{
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' '))));
}

unsigned nul_bits(__m128i bytes)
{
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
}

unsigned non_digit_bits(__m128i bytes)
{
    const __m128i value = _mm_sub_epi8(bytes, _mm_set1_epi8('0'));  // digits become 0 to 9
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(value, _mm_set1_epi8(9)), value);
    return ~static_cast<unsigned>(_mm_movemask_epi8(digit)) & 0xFFFF;
}

const int kVectorBytes = 16;

struct Sse2 {
    static Window classify(const char* p, const char* end)
    {
        Window w = {0, 0, 0};
        for (int part = 0; part < kWindowBytes / kVectorBytes; ++part) {
            const __m128i bytes =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + part * kVectorBytes));
            const int shift = part * kVectorBytes;
            w.spaces |= std::uint64_t{space_bits(bytes)} << shift;
            w.ends |= std::uint64_t{nul_bits(bytes)} << shift;
            w.non_digits |= std::uint64_t{non_digit_bits(bytes)} << shift;
        }
        w.ends |= end_bit(p, end);
        return w;
    }
};

}  // namespace

int sse2_fold_line(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey)
{
    return fold_line_by_window<Sse2>(line, end, minimum, maximum, survey);
}

}  // namespace scan
