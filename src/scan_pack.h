// The left-pack table of the kernels that convert a whole line at once:
// row m gathers, from eight 16-bit values, those whose bit is set in m to
// the front, in order, as byte indices for a byte shuffle. Indices of 0x80
// fill the rest; both x86's and ARM's shuffles read zeros for them.
//
// The table is a constant that the compiler works out, so that no code
// runs to build it, whatever the processor.
#ifndef TAVRIN_SCAN_PACK_H
#define TAVRIN_SCAN_PACK_H

#include <cstdint>

namespace scan {
namespace {

const int kPackValues = 8;  // 16-bit values that one row packs
const std::uint8_t kPackNone = 0x80;

// Position of the n-th set bit (from 0) of the eight bits of mask at or
// above bit, or -1.
constexpr int nth_set_bit(unsigned mask, int n, int bit = 0)
{
    return bit == kPackValues       ? -1
           : (mask >> bit & 1) == 0 ? nth_set_bit(mask, n, bit + 1)
           : n == 0                 ? bit
                                    : nth_set_bit(mask, n - 1, bit + 1);
}

// Byte i of row mask: byte i % 2 of the (i / 2)-th value that mask keeps.
constexpr std::uint8_t pack_index(unsigned mask, int i)
{
    return nth_set_bit(mask, i / 2) < 0 ? kPackNone
                                        : static_cast<std::uint8_t>(2 * nth_set_bit(mask, i / 2) + i % 2);
}

struct PackRow {
    std::uint8_t index[2 * kPackValues];
};

#define TAVRIN_PACK_ROW(m)                                                                     \
    {                                                                                          \
        {pack_index(m, 0), pack_index(m, 1), pack_index(m, 2), pack_index(m, 3),               \
         pack_index(m, 4), pack_index(m, 5), pack_index(m, 6), pack_index(m, 7),               \
         pack_index(m, 8), pack_index(m, 9), pack_index(m, 10), pack_index(m, 11),             \
         pack_index(m, 12), pack_index(m, 13), pack_index(m, 14), pack_index(m, 15)}           \
    }
#define TAVRIN_PACK_ROWS16(m)                                                                  \
    TAVRIN_PACK_ROW(m), TAVRIN_PACK_ROW(m + 1), TAVRIN_PACK_ROW(m + 2), TAVRIN_PACK_ROW(m + 3), \
        TAVRIN_PACK_ROW(m + 4), TAVRIN_PACK_ROW(m + 5), TAVRIN_PACK_ROW(m + 6),                \
        TAVRIN_PACK_ROW(m + 7), TAVRIN_PACK_ROW(m + 8), TAVRIN_PACK_ROW(m + 9),                \
        TAVRIN_PACK_ROW(m + 10), TAVRIN_PACK_ROW(m + 11), TAVRIN_PACK_ROW(m + 12),             \
        TAVRIN_PACK_ROW(m + 13), TAVRIN_PACK_ROW(m + 14), TAVRIN_PACK_ROW(m + 15)

alignas(16) const PackRow kPackTable[1 << kPackValues] = {
    TAVRIN_PACK_ROWS16(0),   TAVRIN_PACK_ROWS16(16),  TAVRIN_PACK_ROWS16(32),  TAVRIN_PACK_ROWS16(48),
    TAVRIN_PACK_ROWS16(64),  TAVRIN_PACK_ROWS16(80),  TAVRIN_PACK_ROWS16(96),  TAVRIN_PACK_ROWS16(112),
    TAVRIN_PACK_ROWS16(128), TAVRIN_PACK_ROWS16(144), TAVRIN_PACK_ROWS16(160), TAVRIN_PACK_ROWS16(176),
    TAVRIN_PACK_ROWS16(192), TAVRIN_PACK_ROWS16(208), TAVRIN_PACK_ROWS16(224), TAVRIN_PACK_ROWS16(240),
};

#undef TAVRIN_PACK_ROWS16
#undef TAVRIN_PACK_ROW

}  // namespace
}  // namespace scan

#endif
