// The NEON scan kernel for aarch64, where NEON is always there. It works
// as the AVX2 kernel does: a line of plain numbers of up to four digits is
// converted whole, 16 bytes at a time, with no branch per byte or token:
// every byte position gets the value of the number that would end there,
// the values at the numbers' ends are packed to the front, and the first
// 32 are folded into the ranges 4 at a time. A line with anything else (a
// sign, a tab, a letter, a NUL, a longer number) takes the token loop.
#include "scan_kernels.h"
#include "scan_pack.h"
#include "scan_tokens.h"

#include <arm_neon.h>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the pack table takes a 16-bit value's low byte first");

namespace scan {
namespace {

const int kChunkBytes = 16;
const int kFoldLanes = 4;   // 32-bit values per vector
// Bytes as they are after '0' is taken off: digits are 0 to 9, and a space
// is this, with its high bit set, as has the newline after the line.
const std::uint8_t kSpaceDigit = static_cast<std::uint8_t>(' ' - '0');

uint8x16_t load(const char* p)
{
    return vld1q_u8(reinterpret_cast<const std::uint8_t*>(p));
}

// Bit i of the result is set where byte i of mask is: each byte keeps its
// own bit, and the bits of each half are added up.
unsigned bits_of(uint8x16_t mask)
{
    static const std::uint8_t kBits[kChunkBytes] = {1, 2, 4, 8, 16, 32, 64, 128,
                                                    1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t bits = vandq_u8(mask, vld1q_u8(kBits));
    return vaddv_u8(vget_low_u8(bits)) | static_cast<unsigned>(vaddv_u8(vget_high_u8(bits))) << 8;
}

// Classifies a window for the token loop, 16 bytes at a time.
struct Neon {
    static Window classify(const char* p, const char* end)
    {
        Window w = {0, 0, 0};
        for (int part = 0; part < kWindowBytes / kChunkBytes; ++part) {
            const uint8x16_t bytes = load(p + part * kChunkBytes);
            const int shift = part * kChunkBytes;
            w.spaces |= std::uint64_t{bits_of(vceqq_u8(bytes, vdupq_n_u8(' ')))} << shift;
            w.ends |= std::uint64_t{bits_of(vceqzq_u8(bytes))} << shift;
            const unsigned digits = bits_of(vcleq_u8(vsubq_u8(bytes, vdupq_n_u8('0')), vdupq_n_u8(9)));
            w.non_digits |= std::uint64_t{~digits & 0xFFFF} << shift;
        }
        w.ends |= end_bit(p, end);
        return w;
    }
};

// The bytes of current moved up by n places, the last bytes of previous
// coming in at the front.
template <int n>
uint8x16_t shifted(uint8x16_t previous, uint8x16_t current)
{
    return vextq_u8(previous, current, kChunkBytes - n);
}

// All ones in the bytes whose high bit is set.
uint8x16_t high_bytes(uint8x16_t bytes)
{
    return vcltzq_s8(vreinterpretq_s8_u8(bytes));
}

// Packs the values of the eight positions whose bits are set in ends to
// out[at] and on. Writes 16 bytes whatever ends is.
void pack(uint16x8_t values, unsigned ends, std::int16_t* out, int at)
{
    const uint8x16_t packed = vqtbl1q_u8(vreinterpretq_u8_u16(values), vld1q_u8(kPackTable[ends].index));
    vst1q_u8(reinterpret_cast<std::uint8_t*>(out + at), packed);
}

// Converts the numbers that end in the 16 bytes at p, of which left are
// the line's, packs their values to out[count] and on, and returns the new
// count. Marks in odd the bytes that the quick way cannot take: anything
// but a digit or a space, and the end of a number of more than four digits.
//
// A number ends where the next byte, which the load at p + 1 shows, has
// its high bit set once '0' is taken off: a space, or the line's newline.
// At every position, the digits one to three places back count only up to
// the nearest space: a space has the high bit set, which makes the table
// lookups read 0 and the selections pick 0 or a high bit in turn.
int convert_chunk(const char* p, int left, uint8x16_t& previous, std::int16_t* out, int count, uint8x16_t& odd)
{
    static const std::uint8_t kPositions[kChunkBytes] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    static const std::uint8_t kTenfold[kChunkBytes] = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 0, 0, 0, 0, 0, 0};
    const uint8x16_t inside = vcltq_u8(vld1q_u8(kPositions), vdupq_n_u8(left < kChunkBytes ? left : kChunkBytes));
    const uint8x16_t current = vsubq_u8(load(p), vdupq_n_u8('0'));
    const uint8x16_t high = high_bytes(current);
    const uint8x16_t ends = vbicq_u8(vandq_u8(high_bytes(vsubq_u8(load(p + 1), vdupq_n_u8('0'))), inside), high);
    const uint8x16_t digit_or_high = vcltq_s8(vreinterpretq_s8_u8(current), vdupq_n_s8(10));
    const uint8x16_t space = vceqq_u8(current, vdupq_n_u8(kSpaceDigit));
    odd = vorrq_u8(odd, vandq_u8(vorrq_u8(vmvnq_u8(digit_or_high), veorq_u8(high, space)), inside));

    const uint8x16_t back1 = shifted<1>(previous, current);
    const uint8x16_t back2 = shifted<2>(previous, current);
    const uint8x16_t back3 = shifted<3>(previous, current);
    const uint8x16_t back4 = shifted<4>(previous, current);
    previous = current;
    const uint8x16_t space_within2 = vorrq_u8(back1, back2);
    odd = vorrq_u8(odd, vbicq_u8(ends, high_bytes(vorrq_u8(vorrq_u8(space_within2, back3), back4))));
    const uint8x16_t cut = high_bytes(space_within2);
    const uint8x16_t hundreds = vbicq_u8(back2, cut);
    const uint8x16_t thousands = vbslq_u8(cut, space_within2, back3);
    // Two two-digit numbers at every position, each fitting a byte, and
    // then one widening multiply-add: low + 100 * high.
    const uint8x16_t tenfold = vld1q_u8(kTenfold);
    const uint8x16_t low_pair = vaddq_u8(current, vqtbl1q_u8(tenfold, back1));
    const uint8x16_t high_pair = vaddq_u8(hundreds, vqtbl1q_u8(tenfold, thousands));
    const uint16x8_t first = vmlal_u8(vmovl_u8(vget_low_u8(low_pair)), vget_low_u8(high_pair), vdup_n_u8(100));
    const uint16x8_t second = vmlal_u8(vmovl_u8(vget_high_u8(low_pair)), vget_high_u8(high_pair), vdup_n_u8(100));
    const unsigned end_bits = bits_of(ends);
    pack(first, end_bits & 0xFF, out, count);
    pack(second, end_bits >> 8, out, count + __builtin_popcount(end_bits & 0xFF));
    return count + __builtin_popcount(end_bits);
}

// Folds the first count values into the ranges, and for the survey into
// the code bits, leaving it the values too, 4 channels at a time.
void fold(const std::int16_t* values, int count, int* minimum, int* maximum, SurveyLine* survey)
{
    static const std::int32_t kLanes[kFoldLanes] = {0, 1, 2, 3};
    const int32x4_t lane = vld1q_s32(kLanes);
    for (int chan = 0; chan < count; chan += kFoldLanes) {
        const uint32x4_t used = vcltq_s32(lane, vdupq_n_s32(count - chan));
        const int32x4_t value = vmovl_s16(vld1_s16(values + chan));
        const int32x4_t low = vld1q_s32(minimum + chan);
        const int32x4_t high = vld1q_s32(maximum + chan);
        vst1q_s32(minimum + chan, vbslq_s32(used, vminq_s32(low, value), low));
        vst1q_s32(maximum + chan, vbslq_s32(used, vmaxq_s32(high, value), high));
        if (survey != nullptr) {
            CodeBits& bits = survey->bits;
            // The values of the quick way are plain numbers: none is negative.
            const uint32x4_t code = vandq_u32(used, vcleq_s32(value, vdupq_n_s32(kMaxCode)));
            const int32x4_t all = vld1q_s32(bits.all + chan);
            vst1q_s32(bits.all + chan, vbslq_s32(code, vandq_s32(all, value), all));
            vst1q_s32(bits.any + chan,
                      vorrq_s32(vld1q_s32(bits.any + chan), vandq_s32(value, vreinterpretq_s32_u32(code))));
            vst1q_s32(survey->values + chan, value);
        }
    }
}

}  // namespace

int neon_fold_line(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey)
{
    // Room for every number a chunk can pack past the channels, and for
    // the 16 bytes that a pack always writes.
    std::int16_t values[kTokens + kChunkBytes + kPackValues];
    const int length = static_cast<int>(end - line);
    uint8x16_t previous = vdupq_n_u8(kSpaceDigit);  // the line start acts as a space
    uint8x16_t odd = vdupq_n_u8(0);
    int count = 0;
    int at = 0;
    // The chunks up to the one that holds the last channel's number, which
    // ends there whatever follows it.
    for (; at < length && count < kTokens; at += kChunkBytes) {
        count = convert_chunk(line + at, length - at, previous, values, count, odd);
    }
    if (vmaxvq_u8(odd) != 0) return fold_line_by_window<Neon>(line, end, minimum, maximum, survey);
    if (survey != nullptr) survey->plain_bytes = at < length ? at : length;
    if (count < kTokens) {
        // The fold loads whole groups of four and masks off the lanes past
        // count: they are written here, so that none is read unwritten.
        vst1q_s16(values + count, vdupq_n_s16(0));
    } else {
        count = kTokens;
    }
    fold(values, count, minimum, maximum, survey);
    return count;
}

}  // namespace scan
