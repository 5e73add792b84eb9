// The fault names and the verdicts they lead to.
#include "faults.h"

#include <cstring>
#include <initializer_list>

namespace faults {
namespace {

const char* const kNames[kClasses] = {"no-data", "dead", "stuck1", "stuck0", "never-low", "ok"};
const Verdict kVerdictOf[kClasses] = {kRetest, kScrap, kScrap, kScrap, kRetest, kGood};
const char* const kVerdictNames[kVerdicts] = {"good", "re-test", "scrap"};
const int kHighestBit = 9;  // of a ten-bit ADC code
const char* const kFindingNames[kFindings] = {"unreadable", "cut", "malformed"};

// A set's layout: the stuck-at-1 bits, then the stuck-at-0 bits, then one
// bit for each class without a bit.
const int kBits = kHighestBit + 1;
const unsigned kBitMask = (1u << kBits) - 1;
const int kStuck1Shift = 0;
const int kStuck0Shift = kBits;
const int kClassShift = 2 * kBits;
const Set kStuckMask = (kBitMask << kStuck1Shift) | (kBitMask << kStuck0Shift);

int stuck_shift(Class fault)
{
    return fault == kStuck1 ? kStuck1Shift : kStuck0Shift;
}

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

Set set_of(Class fault, int bit)
{
    if (fault == kOk) return kNoFault;
    if (has_bit(fault)) return Set{1} << (stuck_shift(fault) + bit);
    return Set{1} << (kClassShift + fault);
}

bool has(Set set, Class fault)
{
    if (fault == kOk) return set == kNoFault;
    if (has_bit(fault)) return stuck_bits(set, fault) != 0;
    return (set & set_of(fault, -1)) != 0;
}

unsigned stuck_bits(Set set, Class fault)
{
    return (set >> stuck_shift(fault)) & kBitMask;
}

bool parse_set(const char* text, std::size_t length, Set& set)
{
    set = kNoFault;
    bool alone = false;  // a class without a bit, which stands alone
    for (std::size_t start = 0; start <= length;) {
        const char* const comma = static_cast<const char*>(std::memchr(text + start, ',', length - start));
        const std::size_t end = comma == nullptr ? length : comma - text;
        Class fault;
        int bit;
        if (!parse(text + start, end - start, fault, bit)) return false;
        if (alone || (!has_bit(fault) && start > 0)) return false;
        alone = !has_bit(fault);
        set |= set_of(fault, bit);
        start = end + 1;
    }
    return true;
}

bool is_valid(Set set)
{
    const Set bitless = set & ~kStuckMask;
    return bitless == 0 || (set == bitless && (bitless & (bitless - 1)) == 0);
}

Verdict verdict_of(Set set)
{
    Verdict worst = kGood;
    for (int c = 0; c < kClasses; ++c) {
        const Class fault = static_cast<Class>(c);
        if (fault != kOk && has(set, fault) && verdict_of(fault) > worst) worst = verdict_of(fault);
    }
    return worst;
}

Class first_class(Set set)
{
    for (int c = 0; c < kOk; ++c) {
        if (has(set, static_cast<Class>(c))) return static_cast<Class>(c);
    }
    return kOk;
}

bool take_name(Set& set, Class& fault, int& bit)
{
    if (set == kNoFault) return false;
    if ((set & kStuckMask) == 0) {
        fault = first_class(set);
        bit = -1;
        set = kNoFault;
        return true;
    }
    for (bit = 0; bit < kBits; ++bit) {
        for (const Class stuck : {kStuck1, kStuck0}) {
            const Set name = set_of(stuck, bit);
            if ((set & name) == 0) continue;
            fault = stuck;
            set &= ~name;
            return true;
        }
    }
    return false;  // no set has bits elsewhere
}

const char* finding_name(Finding finding)
{
    return kFindingNames[finding];
}

}  // namespace faults
