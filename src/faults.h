// What a channel's fault names mean, for the survey that names them and the
// report that judges chips by them: the names as the rows write them, their
// classes, and what each class makes of a chip.
#ifndef TAVRIN_FAULTS_H
#define TAVRIN_FAULTS_H

#include <cstddef>
#include <cstdint>

namespace faults {

const int kCodes = 1024;    // the ADC codes, 0 to 1023
const int kCodeBits = 10;

// The faults a channel may be named with, in the order their rules are
// tried: a channel gets no-data, dead, one or more stuck bits, never-low or
// ok. A class is a name without its bit.
enum Class { kNoData, kDead, kStuck1, kStuck0, kNeverLow, kOk };
const int kClasses = kOk + 1;

// The class's name as the rows write it: "no-data", "dead", "stuck1",
// "stuck0", "never-low", "ok". A stuck name carries its bit after a colon
// ("stuck1:5").
const char* class_name(Class fault);
bool has_bit(Class fault);

// Reads one name of length bytes, such as "stuck0:3" or "dead"; false when
// it is none of them (the bit of a stuck name is 0 to 9).
bool parse(const char* text, std::size_t length, Class& fault, int& bit);

// What a chip's findings make of it: scrapped for a bit stuck or a dead
// channel, tested again for a channel without codes or one that missed the
// pulse, good otherwise.
// --- a channel's figures and names -------------------------------------------

// A channel's codes in one recording, as the survey counts them: how many
// times each code came on the lines that count, and on the pulse lines
// among them; every count outside lowest to highest is zero (inside, some
// may be too).
struct Codes {
    const std::int64_t* histogram;        // kCodes counts
    const std::int64_t* pulse_histogram;  // kCodes counts
    int lowest;   // highest < lowest when the channel has no code
    int highest;
};

// What a test engineer reads off a channel: its codes' count, range and
// steady bits, and its pedestal (mean) and noise (standard deviation,
// dividing by the count) over the codes that came off the pulse lines.
struct Figures {
    std::int64_t codes;
    int minimum;  // of the codes, when there are any
    int maximum;
    int ones;     // the bits set in every code
    int zeros;    // the bits clear in every code
    std::int64_t baseline;  // codes off the pulse lines
    double mean;  // NaN without baseline codes
    double rms;   // likewise
};

Figures figures_of(const Codes& codes);

// The names a channel gets: one class, and for a stuck bit the bits that
// are named stuck at 1 and at 0 (kStuck1 then stands for them all).
struct Findings {
    Class fault;
    int stuck1;  // a bit set per bit named stuck at 1
    int stuck0;
};

// Names the channel's faults from its codes, its figures and whether the
// recording had pulse lines.
Findings findings_of(const Codes& codes, const Figures& figures, bool pulses);

// One name of a channel, in the order the rows write them: its class and,
// for a stuck bit, the bit (else -1).
struct Name {
    Class fault;
    int bit;
};

// The findings as names, stuck bits ascending; returns their count (at
// most kCodeBits).
int names_of(const Findings& findings, Name (&names)[kCodeBits]);

// --- what the names make of a chip ------------------------------------------

enum Verdict { kGood, kRetest, kScrap };
const int kVerdicts = kScrap + 1;

Verdict verdict_of(Class fault);
// "good", "re-test", "scrap"
const char* verdict_name(Verdict verdict);

}  // namespace faults

#endif
