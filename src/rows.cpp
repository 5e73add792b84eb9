#include "rows.h"

#include <cstdint>
#include <cstring>

namespace rows {

namespace {

const int kMantissaBits = 52;
const int kExponentBias = 1023;
const std::uint64_t kThousand = 1000;

}  // namespace

// value = mantissa * 2^-shift, the implicit bit included; mantissa * 1000
// fits 64 bits (below 2^63), and the shift is at least 43 for a value below
// 1024, so the thousandths are the product shifted, rounded by what is
// shifted out.
char* put_thousandths(char* at, double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int exponent = static_cast<int>(bits >> kMantissaBits & 0x7FF);
    std::uint64_t thousandths = 0;
    const int shift = kExponentBias + kMantissaBits - exponent;
    if (exponent != 0 && shift < 64) {  // else below a thousandth's half: 0
        const std::uint64_t mantissa = (bits & ((std::uint64_t{1} << kMantissaBits) - 1)) | std::uint64_t{1} << kMantissaBits;
        const std::uint64_t scaled = mantissa * kThousand;
        const std::uint64_t rest = scaled & ((std::uint64_t{1} << shift) - 1);
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        thousandths = scaled >> shift;
        if (rest > half || (rest == half && (thousandths & 1) != 0)) ++thousandths;
    }
    const unsigned whole = static_cast<unsigned>(thousandths / kThousand);
    const unsigned part = static_cast<unsigned>(thousandths % kThousand);
    char digits[8];
    int count = 0;
    unsigned rest_of_whole = whole;
    do {
        digits[count++] = static_cast<char>('0' + rest_of_whole % 10);
        rest_of_whole /= 10;
    } while (rest_of_whole != 0);
    while (count > 0) *at++ = digits[--count];
    *at++ = '.';
    *at++ = static_cast<char>('0' + part / 100);
    *at++ = static_cast<char>('0' + part / 10 % 10);
    *at++ = static_cast<char>('0' + part % 10);
    return at;
}

const char* const kKindNames[kKinds] = {"recordings", "channels", "codes"};

const char* const kHeaders[kKinds] = {
    // One line, in two literals: the parentheses tell clang that they are meant as one.
    ("file\tstatus\tlines\tunfinished\tstuck\tempty\tmin\tmax\tvalues\talways1\talways0\t"
     "malformed\tshort\tpulses\tmean\trms\tfaults\n"),
    "file\tchannel\tvalues\tcodes\tmin\tmax\tmean\trms\talways1\talways0\tfaults\n",
    "file\tchannel\tcode\tcount\n",
};

}  // namespace rows
