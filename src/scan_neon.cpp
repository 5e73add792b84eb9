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
const int kMaxChunks = 12;  // a line holds at most 191 bytes
const int kFoldLanes = 4;   // 32-bit values per vector
// Bytes as they are after '0' is taken off: digits are 0 to 9, and a space
// (also every byte past the line's end) is this, with its high bit set.
const std::uint8_t kSpaceDigit = static_cast<std::uint8_t>(' ' - '0');
const std::uint8_t kHighBit = 0x80;

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

uint8x16_t digit_mask(uint8x16_t less_zero)
{
    return vcleq_u8(less_zero, vdupq_n_u8(9));
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
            const unsigned digits = bits_of(digit_mask(vsubq_u8(bytes, vdupq_n_u8('0'))));
            w.non_digits |= std::uint64_t{~digits & 0xFFFF} << shift;
        }
        w.ends |= end_bit(p, end);
        return w;
    }
};

// A line taken apart for the quick way: each chunk's bytes less '0', with
// the bytes past the line's end made spaces, and each chunk's digit mask.
struct Chunks {
    uint8x16_t digits[kMaxChunks];
    unsigned digit_bits[kMaxChunks + 1];  // one more, empty, after the last
    int count;
};

// The bytes of current moved up by n places, the last bytes of previous
// coming in at the front.
template <int n>
uint8x16_t shifted(uint8x16_t previous, uint8x16_t current)
{
    return vextq_u8(previous, current, kChunkBytes - n);
}

// Splits the line into chunks; returns false when the line holds a byte
// other than a digit or a space, or a number of more than four digits.
bool split_plain(const char* line, const char* end, Chunks& c)
{
    static const std::uint8_t kPositions[kChunkBytes] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const uint8x16_t position = vld1q_u8(kPositions);
    const int length = static_cast<int>(end - line);
    uint8x16_t odd = vdupq_n_u8(0);  // bytes that are neither, and the ends of longer numbers
    uint8x16_t previous = vdupq_n_u8(0);
    c.count = (length + kChunkBytes - 1) / kChunkBytes;
    for (int i = 0; i < c.count; ++i) {
        const int left = length - i * kChunkBytes;
        const uint8x16_t inside = vcltq_u8(position, vdupq_n_u8(left < kChunkBytes ? left : kChunkBytes));
        const uint8x16_t bytes = vsubq_u8(load(line + i * kChunkBytes), vdupq_n_u8('0'));
        const uint8x16_t digits = vbslq_u8(inside, bytes, vdupq_n_u8(kSpaceDigit));
        const uint8x16_t digit = digit_mask(digits);
        const uint8x16_t space = vceqq_u8(digits, vdupq_n_u8(kSpaceDigit));
        odd = vorrq_u8(odd, vmvnq_u8(vorrq_u8(digit, space)));
        const uint8x16_t run = vandq_u8(vandq_u8(digit, shifted<1>(previous, digit)),
                                        vandq_u8(vandq_u8(shifted<2>(previous, digit), shifted<3>(previous, digit)),
                                                 shifted<4>(previous, digit)));
        odd = vorrq_u8(odd, run);
        c.digits[i] = digits;
        c.digit_bits[i] = bits_of(digit);
        previous = digit;
    }
    c.digit_bits[c.count] = 0;
    return vmaxvq_u8(odd) == 0;
}

// The digit n places back, or 0 when a space lies between: `seen` holds
// the high bit of every byte from there up to here.
uint8x16_t digit_back(uint8x16_t back, uint8x16_t seen)
{
    return vandq_u8(back, vcltq_u8(seen, vdupq_n_u8(kHighBit)));
}

// Packs the values of the eight positions whose bits are set in ends to
// out[count] and on; returns the new count. Writes 16 bytes whatever ends is.
int pack(uint16x8_t values, unsigned ends, std::int16_t* out, int count)
{
    const uint8x16_t packed = vqtbl1q_u8(vreinterpretq_u8_u16(values), vld1q_u8(kPackTable[ends].index));
    vst1q_u8(reinterpret_cast<std::uint8_t*>(out + count), packed);
    return count + __builtin_popcount(ends);
}

// The values of the numbers that end at eight positions, from their
// digits: 1000 * thousands + 100 * hundreds + 10 * tens + ones.
uint16x8_t values_of(uint8x8_t thousands, uint8x8_t hundreds, uint8x8_t tens, uint8x8_t ones)
{
    uint16x8_t value = vmovl_u8(ones);
    value = vmlal_u8(value, tens, vdup_n_u8(10));
    value = vmlal_u8(value, hundreds, vdup_n_u8(100));
    return vmlaq_n_u16(value, vmovl_u8(thousands), 1000);
}

// Converts the numbers that end in the chunk and packs their values.
int convert_chunk(uint8x16_t previous, uint8x16_t current, unsigned ends, std::int16_t* out, int count)
{
    const uint8x16_t back1 = shifted<1>(previous, current);
    const uint8x16_t back2 = shifted<2>(previous, current);
    const uint8x16_t back3 = shifted<3>(previous, current);
    uint8x16_t seen = vorrq_u8(current, back1);
    const uint8x16_t tens = digit_back(back1, seen);
    seen = vorrq_u8(seen, back2);
    const uint8x16_t hundreds = digit_back(back2, seen);
    seen = vorrq_u8(seen, back3);
    const uint8x16_t thousands = digit_back(back3, seen);
    count = pack(values_of(vget_low_u8(thousands), vget_low_u8(hundreds), vget_low_u8(tens), vget_low_u8(current)),
                 ends & 0xFF, out, count);
    return pack(values_of(vget_high_u8(thousands), vget_high_u8(hundreds), vget_high_u8(tens),
                          vget_high_u8(current)),
                ends >> 8, out, count);
}

// Converts the line's numbers, until kTokens of them are found; returns
// how many it found.
int convert_plain(const Chunks& c, std::int16_t* out)
{
    uint8x16_t previous = vdupq_n_u8(kSpaceDigit);
    int count = 0;
    for (int i = 0; i < c.count && count < kTokens; ++i) {
        const unsigned digit = c.digit_bits[i];
        const unsigned ends = digit & ~(digit >> 1 | c.digit_bits[i + 1] << (kChunkBytes - 1)) & 0xFFFF;
        count = convert_chunk(previous, c.digits[i], ends, out, count);
        previous = c.digits[i];
    }
    return count < kTokens ? count : kTokens;
}

// Folds the first count values into the ranges, 4 channels at a time.
void fold(const std::int16_t* values, int count, int* minimum, int* maximum)
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
    }
}

}  // namespace

void neon_fold_line(const char* line, const char* end, int* minimum, int* maximum)
{
    Chunks chunks;
    if (!split_plain(line, end, chunks)) {
        fold_line_by_window<Neon>(line, end, minimum, maximum);
        return;
    }
    // Room for every number a chunk can pack past the channels, and for
    // the 16 bytes that a pack always writes.
    std::int16_t values[kTokens + kChunkBytes + kPackValues];
    fold(values, convert_plain(chunks, values), minimum, maximum);
}

}  // namespace scan
