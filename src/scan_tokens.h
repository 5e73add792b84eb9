// The token loop that the scan kernels share. A kernel classifies a line
// 64 bytes at a time into bit masks (bit i for byte i of the window); this
// finds the tokens from the masks and converts them.
//
// Everything here has internal linkage and uses no library templates, so
// that each kernel's file compiles its own copy for its own instruction set
// and no copy built for one processor can stand in for another's.
#ifndef TAVRIN_SCAN_TOKENS_H
#define TAVRIN_SCAN_TOKENS_H

#include "scan.h"

#include <climits>
#include <cstdint>
#include <cstring>

namespace scan {
namespace {

const unsigned kShortNumberDigits = 4;
// Values of one line: the counted tokens, and the rest of the window in
// which the last of them starts, which a kernel may convert too.
const int kMaxValues = kTokens + kWindowBytes;
const std::int64_t kSaturated = std::int64_t{INT_MAX} + 1;

// Classes of the bytes of one window, one bit per byte.
struct Window {
    std::uint64_t spaces;
    std::uint64_t ends;  // NULs, and the line's end
    std::uint64_t non_digits;  // anything but '0' to '9'
};

inline bool little_endian()
{
    return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;
}

// The bytes at p as a number whose lowest byte is the first, on either
// byte order.
inline std::uint32_t load_le32(const char* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return little_endian() ? v : __builtin_bswap32(v);
}

inline std::uint64_t load_le64(const char* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return little_endian() ? v : __builtin_bswap64(v);
}

inline int clamp_to_int(std::int64_t value)
{
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

// Whitespace that may lead a token: a space or a newline never stands
// inside one, since those split tokens and lines.
inline bool is_inner_space(char c)
{
    return c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

inline bool is_digit(char c)
{
    return static_cast<unsigned char>(c - '0') < 10;
}

// Converts the token at p the way atoi does, saturating at the int limits.
// The token ends at a space, a NUL or the newline, where the digits end too.
inline int general_token_value(const char* p)
{
    while (is_inner_space(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    std::int64_t magnitude = 0;
    for (; is_digit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > kSaturated) magnitude = kSaturated;
    }
    return clamp_to_int(negative ? -magnitude : magnitude);
}

// The value of the n (1 to 4) digits at p, without a loop over them: the
// digits are shifted so that missing leading ones read as zeros, then
// combined in pairs.
inline int short_number_value(const char* p, unsigned n)
{
    std::uint32_t v = load_le32(p);
    v = (v - 0x30303030u) << (8 * (kShortNumberDigits - n));
    v = v * 10 + (v >> 8);  // first pair in byte 0, second in byte 2
    return static_cast<int>(((v & 0x00FF00FF) * (1 + (100 << 16))) >> 16);
}

// The value of the token at p, which starts with n digits. Plain numbers
// of up to four digits, which every ADC code is, take the quick way.
inline int token_value(const char* p, unsigned n)
{
    if (n - 1 < kShortNumberDigits) return short_number_value(p, n);
    return general_token_value(p);
}

// The bit of the byte at end, when the window starting at p reaches it.
inline std::uint64_t end_bit(const char* p, const char* end)
{
    const long left = end - p;
    return left < kWindowBytes ? std::uint64_t{1} << left : 0;
}

// The bytes of the window whose tokens count: those before its first end.
inline std::uint64_t line_bytes(const Window& w)
{
    return (w.ends & (0 - w.ends)) - 1;  // all bits when the line goes on
}

// Converts, one at a time, the tokens that start at the set bits of
// starts; a token's value goes to values[count] and on. Returns the count.
inline int convert_each_token(const char* window, std::uint64_t starts, const Window& w,
                              int* values, int count)
{
    for (; starts != 0; starts &= starts - 1) {
        const unsigned at = __builtin_ctzll(starts);
        const std::uint64_t after = w.non_digits >> at;  // zero when the digits leave the window
        const unsigned n = after != 0 ? __builtin_ctzll(after) : 0;
        values[count++] = token_value(window + at, n);
    }
    return count;
}

inline bool is_code(int value)
{
    return static_cast<unsigned>(value) <= static_cast<unsigned>(kMaxCode);
}

// Folds the ADC codes among the first count values into the code bits;
// written without branches, as the ranges are.
inline void fold_code_bits(const int* values, int count, CodeBits& bits)
{
    for (int chan = 0; chan < count; ++chan) {
        const int value = values[chan];
        bits.all[chan] &= is_code(value) ? value : kMaxCode;
        bits.any[chan] |= is_code(value) ? value : 0;
    }
}

// Folds the first count values into the channel ranges, and for the survey
// into the code bits, leaving it the values too; written without branches,
// which noisy samples would keep mispredicting. Returns count.
inline int fold_values(const int* values, int count, int* minimum, int* maximum, SurveyLine* survey)
{
    for (int chan = 0; chan < count; ++chan) {
        const int value = values[chan];
        minimum[chan] = value < minimum[chan] ? value : minimum[chan];
        maximum[chan] = value > maximum[chan] ? value : maximum[chan];
    }
    if (survey != nullptr) {
        fold_code_bits(values, count, survey->bits);
        std::memcpy(survey->values, values, count * sizeof *values);
        survey->plain_bytes = 0;
    }
    return count;
}

// The general window step: every token that starts in the window, found
// from the masks and converted on its own. space_before is 1 when the byte
// before the window is a space or the window starts the line.
inline int convert_window(const char* window, const Window& w, std::uint64_t space_before,
                          int* values, int count)
{
    const std::uint64_t starts = ~w.spaces & line_bytes(w) & (w.spaces << 1 | space_before);
    return convert_each_token(window, starts, w, values, count);
}

// The token loop: classifies the line one window at a time with
// Kernel::classify(window, end) and converts the tokens of each window,
// until the line ends or the channels are all filled.
template <class Kernel>
inline int line_values_by_window(const char* line, const char* end, int* values)
{
    std::uint64_t space_before = 1;  // the line start acts as a space
    int count = 0;
    for (const char* window = line; count < kTokens; window += kWindowBytes) {
        const Window w = Kernel::classify(window, end);
        count = convert_window(window, w, space_before, values, count);
        if (w.ends != 0) break;
        space_before = w.spaces >> (kWindowBytes - 1);
    }
    return count < kTokens ? count : kTokens;
}

template <class Kernel>
inline int fold_line_by_window(const char* line, const char* end, int* minimum, int* maximum, SurveyLine* survey)
{
    int values[kMaxValues];
    return fold_values(values, line_values_by_window<Kernel>(line, end, values), minimum, maximum, survey);
}

}  // namespace
}  // namespace scan

#endif
