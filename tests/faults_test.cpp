// The rules that name a channel's faults, in-process: each case is a
// channel's histograms, built from a few lines of codes, and the names it
// must get from the survey's rules and from the model's alike.
#include "fault_model.h"
#include "faults.h"
#include "rows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

// How a case's codes come: each code of the baseline and of the pulse
// lines, in turn, with how many times.
struct Counted {
    int code;
    std::int64_t times;
};

struct RuleCase {
    const char* name;
    std::vector<Counted> baseline;
    std::vector<Counted> pulses;
    std::string expected;  // the names, comma-separated
    bool recording_has_pulses = true;  // the recording has pulse lines (other channels' pulses too)
};

// Codes from a rounded Gaussian around mean, transformed, n in all.
std::vector<Counted> gaussian(double mean, double sigma, std::int64_t n, int (*fault)(int) = nullptr,
                              unsigned seed = 1)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(mean, sigma);
    std::vector<Counted> codes;
    for (std::int64_t i = 0; i < n; ++i) {
        int code = static_cast<int>(std::lround(noise(rng)));
        code = code < 0 ? 0 : code > 1023 ? 1023 : code;
        codes.push_back({fault != nullptr ? fault(code) : code, 1});
    }
    return codes;
}

// A ramp from 0 to 1023, sweeps times, with noise, n codes in all.
std::vector<Counted> ramp(std::int64_t n, int (*fault)(int) = nullptr, double sigma = 1)
{
    std::vector<Counted> codes;
    std::mt19937 rng(2);
    std::normal_distribution<double> noise(0, sigma);
    for (std::int64_t i = 0; i < n; ++i) {
        const double at = std::fmod((i + 0.5) * 1024.0 / n, 1024.0) + noise(rng);
        int code = static_cast<int>(std::lround(at));
        code = code < 0 ? 0 : code > 1023 ? 1023 : code;
        codes.push_back({fault != nullptr ? fault(code) : code, 1});
    }
    return codes;
}

std::vector<Counted> pulses_at(std::vector<int> codes, std::int64_t times = 1)
{
    std::vector<Counted> counted;
    for (const int code : codes) counted.push_back({code, times});
    return counted;
}

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
    return text;
}

// The survey's names for the histograms.
std::string survey_names(const std::vector<std::int64_t>& all, const std::vector<std::int64_t>& pulse, bool pulses)
{
    const faults::Codes codes = {all.data(), pulse.data(), 0, faults::kCodes - 1};
    const faults::Figures figures = faults::figures_of(codes);
    faults::Name names[faults::kCodeBits];
    const int count = faults::names_of(faults::findings_of(codes, figures, pulses), names);
    std::vector<std::string> texts;
    for (int n = 0; n < count; ++n) {
        std::string text = faults::class_name(names[n].fault);
        if (names[n].bit >= 0) text += ":" + std::to_string(names[n].bit);
        texts.push_back(text);
    }
    return joined(texts);
}

int stuck1_bit3(int code) { return code | 8; }
int stuck0_bit2(int code) { return code & ~4; }
int stuck0_bit0(int code) { return code & ~1; }
int stuck1_bits2_5(int code) { return code | 36; }
int stuck0_bit9(int code) { return code & ~512; }

TEST(FaultRules, EachRuleNamesWhatTheCodesShow)
{
    const std::vector<RuleCase> cases = {
        {"no code at all", {}, {}, "no-data"},
        {"one code, once: too little to call it dead", {{77, 1}}, {}, "ok", false},
        {"one code, on a pulse line: too little to show a stuck bit", {}, {{50, 1}}, "ok"},
        {"one code always", {{512, 400}}, {{512, 8}}, "dead"},
        {"0 always, pulses included", {{0, 400}}, {{0, 8}}, "dead"},
        {"healthy, pulses at 0 and 1", gaussian(100, 3, 2000), pulses_at({0, 1}, 20), "ok"},
        {"healthy, narrow and high: bits that never toggle are not named", gaussian(70, 1, 2000),
         pulses_at({0, 1}, 20), "ok"},
        {"healthy, no pulse lines in the recording", gaussian(150, 2, 2000), {}, "ok", false},
        // The pulse pulls the channel down to its stuck bits, as the
        // example recording's channel 12 (6 or 7: bits 1 and 2).
        {"stuck at 1, shown by the pulse", gaussian(53, 3, 400, [](int c) { return c | 6; }), pulses_at({6, 7}, 4),
         "stuck1:1,stuck1:2"},
        {"stuck at 1, shown by the codes", gaussian(100, 3, 2000, stuck1_bit3), {}, "stuck1:3", false},
        {"two bits stuck at 1", gaussian(100, 4, 2000, stuck1_bits2_5), pulses_at({36, 37}, 20),
         "stuck1:2,stuck1:5"},
        {"stuck at 0, shown by the codes", gaussian(100, 3, 2000, stuck0_bit2), pulses_at({0, 1}, 20), "stuck0:2"},
        {"bit 0 stuck at 0", gaussian(60, 2, 2000, stuck0_bit0), pulses_at({0}, 20), "stuck0:0"},
        {"bit 0 stuck at 1: the pulse lands on 1", gaussian(60, 2, 2000, [](int c) { return c | 1; }),
         pulses_at({1}, 20), "stuck1:0"},
        // A stuck bit that folds a narrow baseline onto itself leaves no
        // partner codes in the dense range: not shown, not named.
        {"stuck at 0 but too narrow to show", gaussian(100, 1, 2000, stuck0_bit2), pulses_at({0, 1}, 20), "ok"},
        {"missed the pulse: its baseline on the pulse lines", gaussian(90, 3, 2000), pulses_at({86, 90, 95}, 5),
         "never-low"},
        {"no code on a pulse line: nothing to judge", gaussian(90, 3, 2000), {}, "ok"},
        {"one pulse down to 1 is enough", gaussian(90, 3, 2000), pulses_at({1, 88, 91}, 2), "ok"},
        {"healthy ramp", ramp(12000), {}, "ok", false},
        // Its bottom makes lines that look like pulse lines, where a noisy
        // channel reads a few codes up.
        {"healthy ramp, a few codes up at its bottom", ramp(12000, nullptr, 5), pulses_at({2, 3, 5}, 3), "ok"},
        // A ramp spreads its codes over 1024: none comes in 0.2 % of them,
        // and the dense range counts from half the mean per code.
        {"ramp with a bit stuck at 0", ramp(12000, stuck0_bit2), {}, "stuck0:2", false},
        {"ramp with a bit stuck at 1", ramp(12000, stuck1_bit3, 3), {}, "stuck1:3", false},
        // An even ramp, every code as frequent: none reaches 0.2 % when a
        // stuck bit halves the codes to 512, each then 1/512 of them.
        {"even ramp with a bit stuck at 0", ramp(12288, stuck0_bit2, 0.01), {}, "stuck0:2", false},
        {"even ramp with a bit stuck at 1", ramp(10240, stuck1_bit3, 0.01), {}, "stuck1:3", false},
        {"half a ramp: bit 9 never set, its partners beyond the range", ramp(12000, stuck0_bit9), {}, "ok", false},
        // Stray codes count once each: they do not stretch the dense range.
        {"stray codes far off", [] {
             auto codes = gaussian(100, 3, 2000);
             codes.push_back({1000, 1});
             codes.push_back({900, 1});
             return codes;
         }(), pulses_at({0, 1}, 20), "ok"},
    };
    for (const RuleCase& c : cases) {
        std::vector<std::int64_t> all(faults::kCodes), pulse(faults::kCodes);
        model::ChannelCodes codes;
        for (const auto& [code, times] : c.baseline) {
            all[code] += times;
            codes.all[code] += times;
        }
        for (const auto& [code, times] : c.pulses) {
            all[code] += times;
            pulse[code] += times;
            codes.all[code] += times;
            codes.pulse[code] += times;
        }
        EXPECT_EQ(survey_names(all, pulse, c.recording_has_pulses), c.expected) << c.name;
        EXPECT_EQ(joined(model::fault_names(codes, c.recording_has_pulses)), c.expected) << c.name << ", the model";
    }
}

// The survey's rules and the model's agree on channels of every shape:
// random histograms, some with stuck bits, many times over.
TEST(FaultRules, TheSurveyAgreesWithTheModel)
{
    constexpr int kChannels = 20000;
    std::mt19937 rng(20261209);
    int named = 0;
    for (int n = 0; n < kChannels; ++n) {
        std::vector<std::int64_t> all(faults::kCodes), pulse(faults::kCodes);
        model::ChannelCodes codes;
        const int shape = rng() % 4;
        const double mean = shape == 3 ? 512 : 20 + rng() % 200;
        const double sigma = shape == 3 ? 300 : 0.5 + (rng() % 50) / 10.0;
        const int lines = 2 + rng() % 3000;
        const int or_mask = rng() % 3 == 0 ? 1 << (rng() % 7) : 0;
        const int and_mask = rng() % 3 == 0 ? ~(1 << (rng() % 7)) : ~0;
        const int period = rng() % 2 ? 25 + rng() % 75 : 0;
        std::normal_distribution<double> noise(mean, sigma);
        for (int t = 0; t < lines; ++t) {
            const bool on_pulse = period != 0 && t % period == 0;
            int code = on_pulse ? static_cast<int>(rng() % 2) : static_cast<int>(std::lround(noise(rng)));
            code = code < 0 ? 0 : code > 1023 ? 1023 : code;
            code = (code | or_mask) & and_mask & 1023;
            ++all[code];
            ++codes.all[code];
            if (on_pulse) {
                ++pulse[code];
                ++codes.pulse[code];
            }
        }
        const std::string got = survey_names(all, pulse, period != 0);
        ASSERT_EQ(got, joined(model::fault_names(codes, period != 0))) << "channel " << n;
        named += got != "ok";
    }
    std::cout << named << " of " << kChannels << " random channels named something\n";
}

// The rows' three decimals are printf's, to the last digit: on means of
// every kind (sums over counts, which make exact ties such as 0.0625), on
// random values and on the ends of the range, by the million.
TEST(FaultRules, FiguresAreWrittenAsPrintfWritesThem)
{
    std::mt19937_64 rng(1024);
    std::vector<double> values = {0.0, 1023.0, 0.0005, 0.0015, 0.0625, 1022.9995, 511.5, 1e-300, 5e-324};
    for (int n = 0; n < 1000000; ++n) {
        const std::int64_t count = 1 + rng() % 100000;
        const std::int64_t sum = static_cast<std::int64_t>(rng() % (1024 * static_cast<std::uint64_t>(count)));
        values.push_back(static_cast<double>(sum) / count);
        values.push_back(std::ldexp(static_cast<double>(rng() >> 11), -43));  // any double below 1024
    }
    for (const double value : values) {
        char expected[32], got[32];
        std::snprintf(expected, sizeof expected, "%.3f", value);
        *rows::put_thousandths(got, value) = '\0';
        ASSERT_STREQ(got, expected) << std::hexfloat << value;
    }
}

}  // namespace
