// Writes the survey's rows of a deterministic campaign, for the report's
// benchmark and its page checks: chips recorded in two configurations,
// each channel's codes a pedestal with noise and a few test pulses, and
// faults sown at known rates (stuck bits, dead and silent channels, missed
// pulses, recordings cut, unreadable or with malformed lines, chips
// recorded twice or in one configuration only; channel 17 misses pulses
// ten times as often as the others). Every kind of row describes the same
// campaign for the same chips and seed.
//
//   make_rows recordings|channels|codes CHIPS [SEED]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kChannels = 32;
constexpr int kCodes = 1024;
constexpr int kLines = 400;
constexpr int kPulses = 8;
constexpr int kSystematicChannel = 17;
const char* const kConfigs[] = {"20mV_delay-all", "30mV_delay-all"};
const double kNoiseScale[] = {1.0, 1.4};

// splitmix64: a stream of its own for every chip, configuration and take.
struct Random {
    std::uint64_t state;
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return (next() >> 11) * 0x1.0p-53; }
    bool chance(double p) { return uniform() < p; }
    int below(int n) { return static_cast<int>(uniform() * n); }
    double normal()
    {
        const double u = uniform() + 1e-12, v = uniform();
        return std::sqrt(-2 * std::log(u)) * std::cos(6.283185307179586 * v);
    }
};

Random stream(std::uint64_t seed, std::uint64_t chip, std::uint64_t config, std::uint64_t take)
{
    Random r{seed * 0x100000001B3ull ^ chip * 0x9E3779B1ull ^ config << 40 ^ take << 52};
    r.next();
    return r;
}

enum Fault { kOk, kNoData, kDead, kNeverLow, kStuck };

struct ChannelPlan {
    Fault fault = kOk;
    unsigned ones = 0, zeros = 0;  // stuck bits
    double pedestal = 0, noise = 0;
};

struct Take {
    std::string name;
    bool unreadable = false, cut = false;
    int malformed = 0;
    ChannelPlan channels[kChannels];
};

std::string name_of(int chip, int config, int take)
{
    const int seconds = 8 * 3600 + (chip * 37 + take * 7200) % (10 * 3600);
    char name[200];
    std::snprintf(name, sizeof name, "archive/202612%02d/%02d%02d%02d_sta%d_sampa%d/%02d%02d%02d_sta%d_sampa%d_quirn00_link%02d_%s_adc.txt",
                  1 + chip / 5000 + take, seconds / 3600, seconds / 60 % 60, seconds % 60, 1 + chip % 4, 100000 + chip,
                  seconds / 3600, seconds / 60 % 60, seconds % 60, 1 + chip % 4, 100000 + chip, chip % 8, kConfigs[config]);
    return name;
}

// The campaign's plan of one recording of a chip.
Take plan(std::uint64_t seed, int chip, int config, int take)
{
    Random chip_random = stream(seed, chip, 9, 0);  // what the chip is, in every configuration
    Random r = stream(seed, chip, config, take);
    Take t;
    t.name = name_of(chip, config, take);
    const bool retaken = stream(seed, chip, config, 7).chance(0.03);
    const bool earlier = retaken && take == 0;
    t.unreadable = r.chance(0.003);
    t.cut = earlier || r.chance(0.005);
    t.malformed = r.chance(0.004) ? 1 + r.below(3) : 0;
    const double chip_offset = 4 * chip_random.normal();
    const int stuck_channel = chip_random.chance(0.02) ? chip_random.below(kChannels) : -1;
    const int stuck_bit = chip_random.below(5);
    const bool stuck_zero = chip_random.chance(0.3);
    const int dead_channel = chip_random.chance(0.006) ? chip_random.below(kChannels) : -1;
    for (int chan = 0; chan < kChannels; ++chan) {
        ChannelPlan& c = t.channels[chan];
        c.pedestal = 60 + 1.5 * chan + chip_offset + 0.8 * r.normal();
        c.noise = kNoiseScale[config] * (1.1 + 0.01 * chan) * (1 + 0.06 * r.normal());
        if (r.chance(0.0015)) c.noise *= 4;   // a noisy channel
        if (r.chance(0.0008)) c.pedestal += 40;  // an offset one
        if (chan == stuck_channel) {
            c.fault = kStuck;
            (stuck_zero ? c.zeros : c.ones) = 1u << stuck_bit;
        } else if (chan == dead_channel) {
            c.fault = kDead;
        } else if (r.chance(chan == kSystematicChannel ? 0.01 : 0.001)) {
            c.fault = kNeverLow;
        } else if (r.chance(0.0005)) {
            c.fault = kNoData;
        }
        if (t.unreadable) c.fault = kNoData;
    }
    return t;
}

// The codes of a channel: expected counts of a normal pedestal, and,
// with pulses, the pulses down to 0 and 1; the stuck bits applied.
std::map<int, long> codes_of(const ChannelPlan& c, bool pulses = true)
{
    std::map<int, long> codes;
    if (c.fault == kNoData) return codes;
    if (c.fault == kDead) {
        codes[static_cast<int>(c.pedestal)] = kLines;
        return codes;
    }
    const int low = std::max(0, static_cast<int>(c.pedestal - 5 * c.noise));
    const int high = std::min(kCodes - 1, static_cast<int>(c.pedestal + 5 * c.noise) + 1);
    for (int code = low; code <= high; ++code) {
        const double z = (code - c.pedestal) / c.noise;
        const long count = std::lround((kLines - kPulses) * std::exp(-z * z / 2) / (2.5066 * c.noise));
        if (count > 0) codes[code] += count;
    }
    if (pulses && c.fault != kNeverLow) {
        codes[0] += kPulses / 2;
        codes[1] += kPulses - kPulses / 2;
    }
    std::map<int, long> stuck;
    for (const auto& [code, count] : codes) stuck[(code | c.ones) & ~c.zeros] += count;
    return stuck;
}

std::string bits_of(unsigned bits)
{
    std::string digits;
    for (int bit = 9; bit >= 0; --bit) digits += (bits >> bit & 1) ? '1' : '0';
    return digits;
}

std::string faults_of(const ChannelPlan& c)
{
    switch (c.fault) {
    case kOk: return "ok";
    case kNoData: return "no-data";
    case kDead: return "dead";
    case kNeverLow: return "never-low";
    case kStuck: break;
    }
    std::string names;
    for (int bit = 0; bit < 10; ++bit) {
        if (c.ones >> bit & 1) names += (names.empty() ? "" : ",") + std::string("stuck1:") + std::to_string(bit);
        if (c.zeros >> bit & 1) names += (names.empty() ? "" : ",") + std::string("stuck0:") + std::to_string(bit);
    }
    return names;
}

// A channel's columns from its codes; the mean and rms are the
// pedestal's and the noise's, without the pulses.
struct Summary {
    long values = 0;
    int codes = 0, min = -1, max = -1;
    double mean = NAN, rms = NAN;
    std::string always1 = "-", always0 = "-";
};

Summary summary_of(const ChannelPlan& c)
{
    Summary s;
    const std::map<int, long> codes = codes_of(c);
    if (codes.empty()) return s;
    unsigned all = 1023, any = 0;
    for (const auto& [code, count] : codes) {
        s.values += count;
        all &= code;
        any |= code;
    }
    double sum = 0, squares = 0, values = 0;
    for (const auto& [code, count] : codes_of(c, false)) {
        values += count;
        sum += static_cast<double>(code) * count;
        squares += static_cast<double>(code) * code * count;
    }
    s.codes = static_cast<int>(codes.size());
    s.min = codes.begin()->first;
    s.max = codes.rbegin()->first;
    s.mean = sum / values;
    s.rms = std::sqrt(std::max(0.0, squares / values - s.mean * s.mean));
    s.always1 = bits_of(all);
    s.always0 = bits_of(~any & 1023);
    return s;
}

std::string decimal(double value)
{
    if (std::isnan(value)) return "nan";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string integer_or_nan(int value, bool none)
{
    return none ? "nan" : std::to_string(value);
}

void channel_rows(const Take& t)
{
    for (int chan = 0; chan < kChannels; ++chan) {
        const Summary s = summary_of(t.channels[chan]);
        std::printf("%s\t%d\t%ld\t%d\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n", t.name.c_str(), chan, s.values, s.codes,
                    integer_or_nan(s.min, s.values == 0).c_str(), integer_or_nan(s.max, s.values == 0).c_str(),
                    decimal(s.mean).c_str(), decimal(s.rms).c_str(), s.always1.c_str(), s.always0.c_str(),
                    faults_of(t.channels[chan]).c_str());
    }
}

void code_rows(const Take& t)
{
    for (int chan = 0; chan < kChannels; ++chan) {
        for (const auto& [code, count] : codes_of(t.channels[chan])) {
            std::printf("%s\t%d\t%d\t%ld\n", t.name.c_str(), chan, code, count);
        }
    }
}

void recording_row(const Take& t)
{
    std::string columns[9];  // stuck, empty, min, max, values, always1, always0, mean, rms
    std::string faults;
    int pulses = kPulses;
    for (int chan = 0; chan < kChannels; ++chan) {
        const Summary s = summary_of(t.channels[chan]);
        const std::string comma = chan == 0 ? "" : ",";
        if (s.values == 0 || s.min > 1) columns[0] += (columns[0].empty() ? "" : ",") + std::to_string(chan);
        if (s.values == 0) columns[1] += (columns[1].empty() ? "" : ",") + std::to_string(chan);
        columns[2] += comma + std::to_string(s.values == 0 ? 1024 : s.min);
        columns[3] += comma + std::to_string(s.values == 0 ? -1 : s.max);
        columns[4] += comma + std::to_string(s.values);
        columns[5] += comma + s.always1;
        columns[6] += comma + s.always0;
        columns[7] += comma + decimal(s.mean);
        columns[8] += comma + decimal(s.rms);
        if (t.channels[chan].fault == kNoData && t.unreadable) pulses = 0;
        if (t.channels[chan].fault == kOk) continue;
        std::string names = faults_of(t.channels[chan]);
        for (std::size_t start = 0; start <= names.size();) {
            const std::size_t end = std::min(names.find(',', start), names.size());
            faults += (faults.empty() ? "" : ",") + std::to_string(chan) + ":" + names.substr(start, end - start);
            start = end + 1;
        }
    }
    std::printf("%s\t%d\t%d\t%d\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%d\t%d\t%d\t%s\t%s\t%s\n", t.name.c_str(), t.unreadable,
                t.unreadable ? 0 : kLines + t.malformed, t.cut, columns[0].c_str(), columns[1].c_str(),
                columns[2].c_str(), columns[3].c_str(), columns[4].c_str(), columns[5].c_str(), columns[6].c_str(),
                t.malformed, 0, pulses, columns[7].c_str(), columns[8].c_str(), faults.c_str());
}

const std::map<std::string, std::string> kHeaders = {
    {"recordings", "file\tstatus\tlines\tunfinished\tstuck\tempty\tmin\tmax\tvalues\talways1\talways0\t"
                   "malformed\tshort\tpulses\tmean\trms\tfaults\n"},
    {"channels", "file\tchannel\tvalues\tcodes\tmin\tmax\tmean\trms\talways1\talways0\tfaults\n"},
    {"codes", "file\tchannel\tcode\tcount\n"},
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || !kHeaders.count(argv[1])) {
        std::fprintf(stderr, "usage: make_rows recordings|channels|codes CHIPS [SEED]\n");
        return 2;
    }
    const std::string kind = argv[1];
    const int chips = std::atoi(argv[2]);
    const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
    static char buffer[1 << 20];
    std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::fputs(kHeaders.at(kind).c_str(), stdout);
    for (int chip = 0; chip < chips; ++chip) {
        for (int config = 0; config < 2; ++config) {
            if (config == 1 && stream(seed, chip, 9, 1).chance(0.005)) continue;  // never recorded
            const int takes = stream(seed, chip, config, 7).chance(0.03) ? 2 : 1;
            for (int take = 0; take < takes; ++take) {
                const Take t = plan(seed, chip, config, take);
                if (kind == "channels") channel_rows(t);
                if (kind == "codes") code_rows(t);
                if (kind == "recordings") recording_row(t);
            }
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
