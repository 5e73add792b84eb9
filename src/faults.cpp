// A channel's figures, the rules that name its faults, and the verdicts
// the names lead to. docs/reference.md gives the rules with their reasons.
#include "faults.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>

namespace faults {
namespace {

const char* const kNames[kClasses] = {"no-data", "dead", "stuck1", "stuck0", "never-low", "ok"};
const Verdict kVerdictOf[kClasses] = {kRetest, kScrap, kScrap, kScrap, kRetest, kGood};
const char* const kVerdictNames[kVerdicts] = {"good", "re-test", "scrap"};
const int kHighestBit = kCodeBits - 1;
const int kAllBits = (1 << kCodeBits) - 1;

// A code is dense when it came at least this often, and in at least one
// in kDenseShare of the channel's codes: stray codes do not stretch the
// dense range. A ramp spreads its codes over so many (more than
// kRampSpread) that none is that frequent; then a code counts as dense
// from half the channel's mean count per code on.
const std::int64_t kDenseLeast = 2;
const std::int64_t kDenseShare = 500;
const std::int64_t kRampSpread = kDenseShare / 2;
// A bit never toggled shows it should have when at least one in
// kEvidenceShare of the channel's codes, and at least kEvidenceLeast,
// lie in the dense range at codes whose partner (the bit toggled) lies in
// it too.
const std::int64_t kEvidenceLeast = 20;
const std::int64_t kEvidenceShare = 10;
// A channel with fewer codes is ok: one code is too little to call it dead
// or to show a stuck bit or a missed pulse.
const std::int64_t kLeastCodes = 2;

// Everything one look at each code that came gives: the count, range,
// distinct codes and steady bits (ones ANDed, any ORed), the baseline's
// count and sum, and what the pulse lines held. Returns any.
int count_codes(const Codes& c, Figures& f)
{
    f.codes = f.distinct = f.baseline = 0;
    f.minimum = kCodes;
    f.maximum = -1;
    f.ones = kAllBits;
    f.on_pulses = f.came_down = false;
    int any = 0;
    std::int64_t sum = 0;
    for (int code = c.lowest; code <= c.highest; ++code) {
        const std::int64_t n = c.histogram[code];
        if (n == 0) continue;
        const std::int64_t pulsed = c.pulse_histogram[code];
        f.codes += n;
        ++f.distinct;
        f.minimum = code < f.minimum ? code : f.minimum;
        f.maximum = code;
        f.ones &= code;
        any |= code;
        f.baseline += n - pulsed;
        sum += (n - pulsed) * code;
        f.on_pulses = f.on_pulses || pulsed != 0;
        f.came_down = f.came_down || (pulsed != 0 && code <= 1);
    }
    f.mean = f.baseline == 0 ? std::numeric_limits<double>::quiet_NaN() : static_cast<double>(sum) / f.baseline;
    return any;
}

// The standard deviation of the codes off the pulse lines, about their
// mean: a second look, which keeps it exact to well below the rows' three
// decimals.
double noise(const Codes& c, const Figures& f)
{
    if (f.baseline == 0) return std::numeric_limits<double>::quiet_NaN();
    double squares = 0;
    for (int code = f.minimum; code <= f.maximum; ++code) {
        const double deviation = code - f.mean;
        squares += (c.histogram[code] - c.pulse_histogram[code]) * deviation * deviation;
    }
    return std::sqrt(squares / f.baseline);
}

// The lowest and highest dense code; false when no code is dense.
bool dense_range(const Codes& c, const Figures& f, int& low, int& high)
{
    // n >= codes / kDenseShare, or n >= codes / (2 distinct) for a spread
    // so wide that the first asks more than the mean count per code.
    const std::int64_t codes = f.codes;
    const std::int64_t share = f.distinct > kRampSpread ? 2 * f.distinct : kDenseShare;
    low = kCodes;
    high = -1;
    for (int code = f.minimum; code <= f.maximum; ++code) {
        const std::int64_t n = c.histogram[code];
        if (n < kDenseLeast || n * share < codes) continue;
        if (low == kCodes) low = code;
        high = code;
    }
    return low <= high;
}

// Whether the codes show that a bit which never toggled should have: enough
// of them lie in the dense range at codes whose partner, the code with the
// bit toggled, lies in it too, where a working bit would have filled the
// partners.
bool density_shows(const Codes& c, std::int64_t codes, int low, int high, int bit)
{
    if ((1 << bit) > high - low) return false;  // no code and its partner both in the range
    std::int64_t paired = 0;
    for (int code = low; code <= high; ++code) {
        const int partner = code ^ (1 << bit);
        if (partner >= low && partner <= high) paired += c.histogram[code];
    }
    return paired >= kEvidenceLeast && paired * kEvidenceShare >= codes;
}

// Whether every pulse line pulled the channel down to the bits that stayed
// set, above bit 0, or one above (bit 0 being free): the pulse shows that
// those bits should have come down. False without a code on a pulse line.
bool pulse_shows(const Codes& c, const Figures& f, int stuck_high)
{
    bool any = false;
    for (int code = f.minimum; code <= f.maximum; ++code) {
        if (c.pulse_histogram[code] == 0) continue;
        if (code != stuck_high && code != (stuck_high | 1)) return false;
        any = true;
    }
    return any;
}

// The bits named stuck at 1 and at 0.
void stuck_bits(const Codes& c, const Figures& f, bool pulses, Findings& found)
{
    found.stuck1 = found.stuck0 = 0;
    int low, high;
    const bool dense = dense_range(c, f, low, high);
    const int high_ones = f.ones & ~1;
    const bool pulled = pulses && f.on_pulses && high_ones != 0 && pulse_shows(c, f, high_ones);
    for (int bit = 0; bit <= kHighestBit; ++bit) {
        const int mask = 1 << bit;
        if ((f.ones | f.zeros) & mask) {
            const bool shown = (dense && density_shows(c, f.codes, low, high, bit)) || (pulled && (high_ones & mask));
            if (shown && (f.ones & mask)) found.stuck1 |= mask;
            if (shown && (f.zeros & mask)) found.stuck0 |= mask;
        }
    }
}

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

Figures figures_of(const Codes& codes)
{
    Figures f;
    f.zeros = ~count_codes(codes, f) & kAllBits;
    f.rms = noise(codes, f);
    return f;
}

Findings findings_of(const Codes& codes, const Figures& figures, bool pulses)
{
    Findings found = {kOk, 0, 0};
    if (figures.codes == 0) {
        found.fault = kNoData;
        return found;
    }
    if (figures.codes >= 2 && figures.minimum == figures.maximum) {
        found.fault = kDead;
        return found;
    }
    if (figures.codes < kLeastCodes) return found;  // too little to show anything
    stuck_bits(codes, figures, pulses, found);
    if (found.stuck1 != 0 || found.stuck0 != 0) {
        found.fault = kStuck1;
        return found;
    }
    // A ramp's bottom makes lines that look like pulse lines, where a
    // channel that noise keeps a few codes up never reads 0 or 1; but a ramp
    // has no pulse to miss.
    if (pulses && figures.on_pulses && !figures.came_down && figures.distinct <= kRampSpread) found.fault = kNeverLow;
    return found;
}

int names_of(const Findings& findings, Name (&names)[kCodeBits])
{
    if (findings.fault != kStuck1) {
        names[0] = {findings.fault, -1};
        return 1;
    }
    int count = 0;
    for (int bit = 0; bit <= kHighestBit; ++bit) {
        if (findings.stuck1 >> bit & 1) names[count++] = {kStuck1, bit};
        if (findings.stuck0 >> bit & 1) names[count++] = {kStuck0, bit};
    }
    return count;
}

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
