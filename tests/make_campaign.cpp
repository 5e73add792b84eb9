// Writes a test campaign: recordings of chips in several configurations,
// named and laid out as a test station does, some compressed, some faulty,
// and truth.tsv, the findings that the survey must give for each.
//
//   make_campaign [--seed=N] [--chips=N] [--faulty=F] [--plain] [--no-ramps] DIR
//
// The data model: pedestals of 20 to 200 codes; Gaussian noise with a
// standard deviation of 1 to 5 codes, rounded and clipped to 0 to 1023;
// 200 to 20,000 lines; pulse recordings (every 25th to 100th line every
// channel reads 0 or 1), baseline recordings and ramps (5,000 to 20,000
// lines sweeping 0 to 1023 one to three times, with the same noise). A
// faulty recording (a share F of them, 0.1 by default) has one of: a bit
// stuck at 1 (now and then two) or at 0 (bits 0 to 6), a dead channel, a
// channel that misses the pulse, lines that stop short of the last
// channels, a header line, tab-separated values, no lines at all, or a
// last line cut off. A channel's fault is put in only where the recording
// shows it, as the line model and the fault model judge the very bytes
// written; otherwise the recording is drawn again, and after a few tries
// it is left without the fault. Some chips are tested again later in one
// configuration, which gives a second recording of it. --plain leaves
// every recording uncompressed, --no-ramps makes pulse and baseline
// recordings alone (a ramp's mean and rms are no pedestal and noise, and
// stand out among theirs).
//
// truth.tsv has a row per recording: file (the path as written), status,
// unfinished, malformed, short and faults, as the survey's recording rows
// write them.
#include "fault_model.h"
#include "line_model.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kChannels = 32;
constexpr int kMaxCode = 1023;
constexpr int kTries = 30;  // draws of a faulty recording before its fault is left out
const std::vector<std::string> kConfigs = {"20mV_delay-all", "30mV_delay-all"};

enum Kind { kPulse, kBaseline, kRamp };
enum Fault {
    kNone,
    kStuck1,
    kStuck0,
    kDead,
    kMissesPulse,
    kShortLines,
    kHeader,
    kTabs,
    kEmpty,
    kCut,
};

struct Recording {
    Kind kind;
    int lines;
    int period;  // of the pulse lines
    int phase;
    int sweeps;  // of a ramp
    double pedestal[kChannels];
    double sigma[kChannels];
    Fault fault = kNone;
    int channel = 0;      // of a channel's fault
    int mask = 0;         // the stuck bits
    int dead_code = 0;
    int short_by = 0;     // channels that short lines lack
    double short_share = 0;
};

using Random = std::mt19937_64;

double uniform(Random& rng, double low, double high)
{
    return std::uniform_real_distribution<double>(low, high)(rng);
}

int pick(Random& rng, int low, int high)
{
    return std::uniform_int_distribution<int>(low, high)(rng);
}

int log_uniform(Random& rng, int low, int high)
{
    return static_cast<int>(std::exp(uniform(rng, std::log(low), std::log(high))));
}

bool ramps = true;  // whether recordings may be ramps

Recording draw(Random& rng)
{
    Recording r;
    const double kind = uniform(rng, 0, ramps ? 1 : 0.9);
    r.kind = kind < 0.5 ? kPulse : kind < 0.9 ? kBaseline : kRamp;
    r.lines = r.kind == kRamp ? pick(rng, 5000, 20000) : log_uniform(rng, 200, 20000);
    r.period = pick(rng, 25, 100);
    r.phase = pick(rng, 0, r.period - 1);
    r.sweeps = pick(rng, 1, 3);
    for (int chan = 0; chan < kChannels; ++chan) {
        r.pedestal[chan] = uniform(rng, 20, 200);
        r.sigma[chan] = uniform(rng, 1, 5);
    }
    return r;
}

// The faults, weighted: those of a channel come most often.
Fault draw_fault(Random& rng)
{
    static const std::vector<std::pair<Fault, int>> kWeights = {
        {kStuck1, 6}, {kStuck0, 5}, {kDead, 3}, {kMissesPulse, 3}, {kShortLines, 2},
        {kHeader, 2}, {kTabs, 1}, {kEmpty, 1}, {kCut, 1}};
    int at = pick(rng, 1, 24);
    for (const auto& [fault, weight] : kWeights) {
        if ((at -= weight) <= 0) return fault;
    }
    return kNone;
}

void put_fault(Random& rng, Recording& r, Fault fault)
{
    r.fault = fault;
    r.channel = pick(rng, 0, kChannels - 1);
    const int bit = pick(rng, 0, 6);
    r.mask = 1 << bit;
    if (fault == kStuck1 && pick(rng, 0, 3) == 0) r.mask |= 1 << ((bit + pick(rng, 1, 6)) % 7);
    r.dead_code = pick(rng, 0, kMaxCode);
    r.short_by = pick(rng, 1, 8);
    r.short_share = pick(rng, 0, 3) == 0 ? 1.0 : uniform(rng, 0.01, 0.3);
}

int clipped(double value)
{
    const long code = std::lround(value);
    return static_cast<int>(std::min<long>(std::max<long>(code, 0), kMaxCode));
}

// The channel's code at line t, before any fault.
int code_at(const Recording& r, int chan, int t, bool pulse, Random& rng)
{
    static std::normal_distribution<double> gauss;
    if (pulse) return static_cast<int>(rng() & 1);
    const double noise = r.sigma[chan] * gauss(rng);
    if (r.kind == kRamp) {
        const double ramp = std::fmod((t + 0.5) * r.sweeps * 1024.0 / r.lines, 1024.0);
        return clipped(ramp + noise);
    }
    return clipped(r.pedestal[chan] + noise);
}

int with_fault(const Recording& r, int chan, int code)
{
    if (chan != r.channel) return code;
    switch (r.fault) {
    case kStuck1: return code | r.mask;
    case kStuck0: return code & ~r.mask;
    case kDead: return r.dead_code;
    default: return code;
    }
}

// The recording's text, and the lines that came out short.
std::string render(const Recording& r, Random& rng, std::int64_t& short_lines)
{
    std::string text;
    short_lines = 0;
    if (r.fault == kEmpty) return text;
    if (r.fault == kHeader) {
        for (int chan = 0; chan < kChannels; ++chan) text += (chan ? " ch" : "ch") + std::to_string(chan);
        text += '\n';
    }
    const char separator = r.fault == kTabs ? '\t' : ' ';
    for (int t = 0; t < r.lines; ++t) {
        const bool pulse = r.kind == kPulse && t % r.period == r.phase;
        int columns = kChannels;
        if (r.fault == kShortLines && uniform(rng, 0, 1) < r.short_share) {
            columns -= r.short_by;
            ++short_lines;
        }
        char line[kChannels * 5 + 1];
        char* at = line;
        for (int chan = 0; chan < columns; ++chan) {
            const bool misses = r.fault == kMissesPulse && chan == r.channel;
            const int code = with_fault(r, chan, code_at(r, chan, t, pulse && !misses, rng));
            if (chan > 0) *at++ = separator;
            at = std::to_chars(at, line + sizeof line, code).ptr;
        }
        *at++ = '\n';
        text.append(line, at);
    }
    if (r.fault == kCut) text += "12 34 5";
    return text;
}

std::string joined(const std::vector<std::string>& names, const std::string& prefix)
{
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ",") + prefix + name;
    return text;
}

// The names that the fault put in should get.
std::vector<std::string> intended_names(const Recording& r)
{
    switch (r.fault) {
    case kStuck1:
    case kStuck0: {
        std::vector<std::string> names;
        for (int bit = 0; bit < model::kCodeBits; ++bit) {
            if (r.mask >> bit & 1) names.push_back((r.fault == kStuck1 ? "stuck1:" : "stuck0:") + std::to_string(bit));
        }
        return names;
    }
    case kDead: return {"dead"};
    case kMissesPulse: return {"never-low"};
    default: return {};
    }
}

// Whether the recording shows its channel's fault, as stated and as the
// survey judges: the model names that channel just so. A channel that
// misses the pulse shows it only where its codes on the pulse lines differ
// beyond bit 0; one that landed on S or S + 1 every time looks stuck.
bool shows_fault(const Recording& r, const model::Scan& s)
{
    const std::vector<std::string> intended = intended_names(r);
    if (intended.empty()) return true;
    const model::ChannelCodes& c = s.survey.codes[r.channel];
    const bool pulses = s.survey.pulses > 0;
    if (model::fault_names(c, pulses, model::kAsStated) != intended) return false;
    if (model::fault_names(c, pulses, model::kWithRamps) != intended) return false;
    if (r.fault != kMissesPulse) return true;
    const std::vector<int> pulsed = model::codes_that_came(c.pulse);
    return pulsed.front() / 2 != pulsed.back() / 2;
}

// What the survey's recording row says of the recording, as truth.tsv
// holds it: status, unfinished, malformed, short, faults.
std::string truth_of(const Recording& r, std::int64_t short_lines)
{
    std::vector<std::string> faults(kChannels);
    for (int chan = 0; chan < kChannels; ++chan) {
        const bool no_data = r.fault == kEmpty || r.fault == kTabs ||
                             (r.fault == kShortLines && r.short_share == 1.0 && chan >= kChannels - r.short_by);
        if (no_data) faults[chan] = "no-data";
    }
    if (!intended_names(r).empty()) faults[r.channel] = joined(intended_names(r), "");
    std::string column;
    for (int chan = 0; chan < kChannels; ++chan) {
        if (faults[chan].empty()) continue;
        std::vector<std::string> names;
        std::istringstream items(faults[chan]);
        for (std::string name; std::getline(items, name, ',');) names.push_back(name);
        column += (column.empty() ? "" : ",") + joined(names, std::to_string(chan) + ":");
    }
    const std::int64_t malformed = r.fault == kHeader ? 1 : r.fault == kTabs ? r.lines : 0;
    return std::string("0\t") + (r.fault == kCut ? "1" : "0") + "\t" + std::to_string(malformed) + "\t" +
           std::to_string(short_lines) + "\t" + column;
}

// Draws a recording with the fault, if any, until it shows; returns its
// text and truth.
std::string make_recording(Random& rng, Fault fault, std::string& truth)
{
    for (int attempt = 0;; ++attempt) {
        Recording r = draw(rng);
        if (fault != kNone && attempt < kTries) {
            if (fault == kMissesPulse && r.kind != kPulse) continue;
            put_fault(rng, r, fault);
        }
        std::int64_t short_lines = 0;
        const std::string text = render(r, rng, short_lines);
        if (!intended_names(r).empty()) {
            std::istringstream in(text);
            if (!shows_fault(r, model::scan(in, "recording"))) continue;
        }
        truth = truth_of(r, short_lines);
        return text;
    }
}

// Writes the file, compressed by the command (such as "gzip -c") when one is given.
void write_recording(const std::string& path, const std::string& text, const std::string& packer)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (packer.empty()) {
        std::ofstream(path, std::ios::binary) << text;
        return;
    }
    const std::string command = packer + " >'" + path + "'";
    FILE* pipe = popen(command.c_str(), "w");
    if (pipe == nullptr || std::fwrite(text.data(), 1, text.size(), pipe) != text.size() || pclose(pipe) != 0) {
        std::cerr << "make_campaign: " << command << " failed\n";
        std::exit(1);
    }
}

struct Options {
    std::uint64_t seed = 1;
    int chips = 300;
    double faulty = 0.1;
    bool plain = false;  // no compressed recordings
    bool ramps = true;
    std::string dir;
};

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&arg](const char* name) { return arg.substr(std::string(name).size()); };
        if (arg.rfind("--seed=", 0) == 0) {
            o.seed = std::stoull(value("--seed="));
        } else if (arg.rfind("--chips=", 0) == 0) {
            o.chips = std::stoi(value("--chips="));
        } else if (arg.rfind("--faulty=", 0) == 0) {
            o.faulty = std::stod(value("--faulty="));
        } else if (arg == "--plain") {
            o.plain = true;
        } else if (arg == "--no-ramps") {
            o.ramps = false;
        } else if (o.dir.empty() && arg[0] != '-') {
            o.dir = arg;
        } else {
            std::cerr << "usage: make_campaign [--seed=N] [--chips=N] [--faulty=F] [--plain] [--no-ramps] DIR\n";
            std::exit(2);
        }
    }
    if (o.dir.empty()) {
        std::cerr << "usage: make_campaign [--seed=N] [--chips=N] [--faulty=F] [--plain] DIR\n";
        std::exit(2);
    }
    return o;
}

// The station's name of a recording: its time, station, chip, link and
// configuration, in a directory of the day and one of the chip.
std::string station_path(const std::string& dir, int day, int seconds, int chip, const std::string& config)
{
    char time[16], date[16];
    std::snprintf(time, sizeof time, "%02d%02d%02d", seconds / 3600 % 24, seconds / 60 % 60, seconds % 60);
    std::snprintf(date, sizeof date, "2026%02d%02d", 10 + day / 28, 1 + day % 28);
    const std::string run = std::string(time) + "_sta2_sampa" + std::to_string(chip);
    return dir + "/" + date + "/" + run + "/" + run + "_quirn00_link02_" + config + "_adc.txt";
}

}  // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    ramps = options.ramps;
    Random rng(options.seed);
    static const std::vector<std::pair<std::string, std::string>> kPackers = {
        {".gz", "gzip -c"}, {".bz2", "bzip2 -c"}, {".xz", "xz -1 -c"}, {".zst", "zstd -q -c"}};
    std::filesystem::create_directories(options.dir);
    std::ofstream truth(options.dir + "/truth.tsv", std::ios::binary);
    truth << "file\tstatus\tunfinished\tmalformed\tshort\tfaults\n";
    int seconds = 8 * 3600;
    for (int n = 0; n < options.chips; ++n) {
        const int chip = 170000 + n;
        const int day = n / 50;
        std::vector<std::string> configs = kConfigs;
        if (uniform(rng, 0, 1) < 0.03) configs.push_back(kConfigs[pick(rng, 0, 1)]);  // tested again
        for (const std::string& config : configs) {
            seconds += pick(rng, 20, 200);
            const Fault fault = uniform(rng, 0, 1) < options.faulty ? draw_fault(rng) : kNone;
            std::string row;
            const std::string text = make_recording(rng, fault, row);
            std::string path = station_path(options.dir, day, seconds, chip, config);
            std::string packer;
            if (!options.plain && uniform(rng, 0, 1) < 0.1) {
                const auto& [suffix, command] = kPackers[pick(rng, 0, 3)];
                path += suffix;
                packer = command;
            }
            write_recording(path, text, packer);
            truth << path << "\t" << row << "\n";
        }
    }
    return truth.good() ? 0 : 1;
}
