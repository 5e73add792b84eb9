// The fault names and the verdicts they lead to.
#include "faults.h"

#include <cstring>

namespace faults {
namespace {

const char* const kNames[kClasses] = {"no-data", "dead", "stuck1", "stuck0", "never-low", "ok"};
const Verdict kVerdictOf[kClasses] = {kRetest, kScrap, kScrap, kScrap, kRetest, kGood};
const char* const kVerdictNames[kVerdicts] = {"good", "re-test", "scrap"};
const int kHighestBit = 9;  // of a ten-bit ADC code

}  // namespace

const char* class_name(Class fault)
{
    return kNames[fault];
}

bool has_bit(Class fault)
{
    return fault == kStuck1 || fault == kStuck0;
}

bool parse(const char* text, std::size_t length, Class& fault, int& bit)
{
    for (int c = 0; c < kClasses; ++c) {
        const std::size_t name_length = std::strlen(kNames[c]);
        if (length < name_length || std::memcmp(text, kNames[c], name_length) != 0) continue;
        fault = static_cast<Class>(c);
        bit = -1;
        if (!has_bit(fault)) return length == name_length;
        // The bit: a colon and one digit.
        if (length != name_length + 2 || text[name_length] != ':') return false;
        const int digit = text[name_length + 1] - '0';
        if (digit < 0 || digit > kHighestBit) return false;
        bit = digit;
        return true;
    }
    return false;
}

Verdict verdict_of(Class fault)
{
    return kVerdictOf[fault];
}

const char* verdict_name(Verdict verdict)
{
    return kVerdictNames[verdict];
}

}  // namespace faults
