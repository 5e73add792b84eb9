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
    std::int64_t distinct;  // different codes
    int minimum;  // of the codes, when there are any
    int maximum;
    int ones;     // the bits set in every code
    int zeros;    // the bits clear in every code
    std::int64_t baseline;  // codes off the pulse lines
    double mean;  // NaN without baseline codes
    double rms;   // likewise
    bool on_pulses;  // some code came on a pulse line
    bool came_down;  // one of those was 0 or 1
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

// A channel's faults as one set: the bits stuck at 1, the bits stuck at 0,
// or one class without a bit; ok is the empty set, kNoFault. A channel has either one
// class without a bit or stuck bits, never both.
typedef std::uint32_t Set;
const Set kNoFault = 0;

Set set_of(Class fault, int bit);
bool has(Set set, Class fault);
// The stuck bits of the class (kStuck1 or kStuck0), bit n as 1 << n.
unsigned stuck_bits(Set set, Class fault);

// Reads a faults column of channel rows: comma-separated names, exactly one
// of "ok", "no-data", "dead", "never-low", or one or more stuck names; false
// for anything else.
bool parse_set(const char* text, std::size_t length, Set& set);

// Whether the set is one a channel can have: stuck bits, or one class
// without a bit, or none.
bool is_valid(Set set);

// The worst verdict of the set's names.
Verdict verdict_of(Set set);
// The class that stands for the set where one must: the first of its
// classes in the order of Class.
Class first_class(Set set);
// Takes the set's name of the lowest bit (stuck at 1 before stuck at 0),
// or its class without a bit, out of set; false when set is ok.
bool take_name(Set& set, Class& fault, int& bit);

// What a recording itself may show, apart from its channels: it could not
// be read to its end, its last line was cut, or lines of it were malformed.
// Each asks for the chip to be tested again.
enum Finding { kUnreadable, kCut, kMalformed };
const int kFindings = kMalformed + 1;
const Verdict kFindingVerdict = kRetest;
// "unreadable", "cut", "malformed"
const char* finding_name(Finding finding);

}  // namespace faults

#endif
