// The channel figures and fault names that the survey gives, worked out
// the plainest way from a channel's code histograms, for the tests to
// check the survey against; and the evidence by which the campaign
// generator decides where a fault shows, so that it puts faults only there.
#ifndef TAVRIN_TESTS_FAULT_MODEL_H
#define TAVRIN_TESTS_FAULT_MODEL_H

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace model {

constexpr int kCodes = 1024;
constexpr int kCodeBits = 10;

// How often each code came, of those that came.
using Histogram = std::map<int, std::int64_t>;

// A channel's codes: all of them, and those on pulse lines.
struct ChannelCodes {
    Histogram all;
    Histogram pulse;
};

inline std::int64_t count_of(const Histogram& histogram)
{
    std::int64_t n = 0;
    for (const auto& [code, k] : histogram) n += k;
    return n;
}

inline std::int64_t count_at(const Histogram& histogram, int code)
{
    const auto found = histogram.find(code);
    return found == histogram.end() ? 0 : found->second;
}

// The mean and standard deviation (over the count) of the codes off the
// pulse lines; exists is false without such codes.
struct Pedestal {
    bool exists;
    long double mean;
    long double rms;
};

inline Pedestal pedestal_of(const ChannelCodes& c)
{
    std::int64_t n = 0, sum = 0;
    for (const auto& [code, k] : c.all) {
        n += k - count_at(c.pulse, code);
        sum += (k - count_at(c.pulse, code)) * code;
    }
    if (n == 0) return {false, 0, 0};
    // The mean as the one division that defines it; the deviation in long
    // double, about the mean.
    const long double mean = static_cast<double>(sum) / n;
    long double squares = 0;
    for (const auto& [code, k] : c.all) squares += (k - count_at(c.pulse, code)) * (code - mean) * (code - mean);
    return {true, mean, std::sqrt(squares / n)};
}

// The codes that came, ascending.
inline std::vector<int> codes_that_came(const Histogram& histogram)
{
    std::vector<int> codes;
    for (const auto& [code, k] : histogram) {
        if (k > 0) codes.push_back(code);
    }
    return codes;
}

// How the generator and the survey judge density: the survey also counts
// a code as dense, in a channel whose codes spread over more than 250
// different ones (a ramp), from half the mean count per code on.
enum DenseRule { kAsStated, kWithRamps };

// Whether the codes show that bit, which never toggled, should have: at
// least a tenth of them, and at least 20, lie in the dense range (from the
// lowest to the highest code that came at least twice and in at least
// 0.2 % of the codes) at codes whose partner, the bit toggled, lies in it.
inline bool density_shows(const ChannelCodes& c, int bit, DenseRule rule)
{
    const std::int64_t n = count_of(c.all);
    const std::vector<int> came = codes_that_came(c.all);
    const bool ramp = rule == kWithRamps && came.size() > 250;
    int low = -1, high = -1;
    for (const int code : came) {
        const std::int64_t k = count_at(c.all, code);
        const bool dense = k >= 2 && (k * 500 >= n || (ramp && k * 2 * static_cast<std::int64_t>(came.size()) >= n));
        if (!dense) continue;
        if (low < 0) low = code;
        high = code;
    }
    if (low < 0) return false;
    std::int64_t paired = 0;
    for (int code = low; code <= high; ++code) {
        const int partner = code ^ (1 << bit);
        if (partner >= low && partner <= high) paired += count_at(c.all, code);
    }
    return paired >= 20 && paired * 10 >= n;
}

// Whether, on every pulse line, the channel came down to the bits above
// bit 0 that stayed set in all its codes, or one above: they should have
// come down to 0 with the others.
inline bool pulse_shows(const ChannelCodes& c, int ones)
{
    const int above_bit0 = ones & ~1;
    const std::vector<int> pulsed = codes_that_came(c.pulse);
    if (above_bit0 == 0 || pulsed.empty()) return false;
    for (const int code : pulsed) {
        if (code != above_bit0 && code != above_bit0 + 1) return false;
    }
    return true;
}

// The channel's fault names, in the order the survey writes them.
inline std::vector<std::string> fault_names(const ChannelCodes& c, bool recording_has_pulses,
                                            DenseRule rule = kWithRamps)
{
    const std::vector<int> came = codes_that_came(c.all);
    if (came.empty()) return {"no-data"};
    if (came.size() == 1 && count_of(c.all) >= 2) return {"dead"};
    if (count_of(c.all) < 2) return {"ok"};
    int ones = (1 << kCodeBits) - 1, any = 0;
    for (const int code : came) {
        ones &= code;
        any |= code;
    }
    std::vector<std::string> names;
    for (int bit = 0; bit < kCodeBits; ++bit) {
        const bool one = ones >> bit & 1, zero = !(any >> bit & 1);
        if (!one && !zero) continue;
        const bool pulled = one && bit > 0 && recording_has_pulses && pulse_shows(c, ones);
        if (pulled || density_shows(c, bit, rule)) names.push_back((one ? "stuck1:" : "stuck0:") + std::to_string(bit));
    }
    if (!names.empty()) return names;
    // Not in a ramp, whose bottom makes lines like pulse lines: codes
    // spread over more than 250 codes.
    const std::vector<int> pulsed = codes_that_came(c.pulse);
    if (recording_has_pulses && !pulsed.empty() && pulsed.front() > 1 && came.size() <= 250) return {"never-low"};
    return {"ok"};
}

}  // namespace model

#endif
