// The portable scan kernel: plain C++ that classifies a window eight bytes
// at a time in 64-bit words, on any processor and byte order.
#include "scan_kernels.h"
#include "scan_tokens.h"

namespace scan {
namespace {

const std::uint64_t kOnes = 0x0101010101010101u;
const std::uint64_t kHighBits = 0x8080808080808080u;
const std::uint64_t kLowBits = 0x7F7F7F7F7F7F7F7Fu;

// In x ^ kDigitZeros, the digits are the bytes 0 to 9 and a space is 0x10.
const std::uint64_t kDigitZeros = kOnes * '0';
const std::uint64_t kSpaceInDigits = kOnes * (' ' ^ '0');

// The high bit of every zero byte of y, exactly: no carry crosses into the
// next byte, since only the low seven bits are added.
std::uint64_t zero_bytes(std::uint64_t y)
{
    return ~(((y & kLowBits) + kLowBits) | y) & kHighBits;
}

// The high bit of every byte of d (x ^ kDigitZeros) that is 10 or more:
// adding 0x76 to the low seven bits sets the high bit from 10 on.
std::uint64_t non_digit_bytes(std::uint64_t d)
{
    return (((d & kLowBits) + kOnes * (0x80 - 10)) | d) & kHighBits;
}

// Gathers the high bits of the eight bytes into bits 0 to 7, the first
// byte's lowest: each multiplier bit moves one of them to the top byte.
unsigned high_bits(std::uint64_t x)
{
    return static_cast<unsigned>(((x >> 7) * 0x0102040810204080u) >> 56);
}

// Classifies a window of a line whose end, its first NUL or its newline, is
// known: the NUL is looked for once, by the C library, not in every word.
struct Portable {
    static Window classify(const char* p, const char* end)
    {
        Window w = {0, 0, 0};
        for (int word = 0; word < kWindowBytes / 8; ++word) {
            const std::uint64_t d = load_le64(p + 8 * word) ^ kDigitZeros;
            const int shift = 8 * word;
            w.spaces |= std::uint64_t{high_bits(zero_bytes(d ^ kSpaceInDigits))} << shift;
            w.non_digits |= std::uint64_t{high_bits(non_digit_bytes(d))} << shift;
        }
        w.ends = end_bit(p, end);
        return w;
    }
};

}  // namespace

int portable_fold_line(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey)
{
    const void* nul = std::memchr(line, '\0', end - line);
    return fold_line_by_window<Portable>(line, nul != nullptr ? static_cast<const char*>(nul) : end,
                                         minimum, maximum, survey);
}

}  // namespace scan
