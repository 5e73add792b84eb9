// What a channel's fault names mean, for the survey that names them and the
// report that judges chips by them: the names as the rows write them, their
// classes, and what each class makes of a chip.
#ifndef TAVRIN_FAULTS_H
#define TAVRIN_FAULTS_H

#include <cstddef>

namespace faults {

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
enum Verdict { kGood, kRetest, kScrap };
const int kVerdicts = kScrap + 1;

Verdict verdict_of(Class fault);
// "good", "re-test", "scrap"
const char* verdict_name(Verdict verdict);

}  // namespace faults

#endif
