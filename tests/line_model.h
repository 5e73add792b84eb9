// The plainest line-at-a-time scan of a sample file (getline into the
// line buffer, strtok, a saturating atoi), which every scan kernel and the
// block reader must match exactly, and the survey's row that it gives.
#ifndef TAVRIN_TESTS_LINE_MODEL_H
#define TAVRIN_TESTS_LINE_MODEL_H

#include <algorithm>
#include <bitset>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <sstream>
#include <string>
#include <vector>

namespace model {

constexpr int kNChan = 32;
constexpr int kMaxLineLength = 192;

// What a scan keeps per channel: its range, how many values it received,
// and, over its values from 0 to 1023 (ADC codes), the bits set in every
// one and the bits set in any.
struct Ranges {
    int minimum[kNChan];
    int maximum[kNChan];
    std::int64_t values[kNChan];
    int all[kNChan];
    int any[kNChan];
};

inline bool operator==(const Ranges& a, const Ranges& b)
{
    return std::equal(a.minimum, a.minimum + kNChan, b.minimum) &&
           std::equal(a.maximum, a.maximum + kNChan, b.maximum) &&
           std::equal(a.values, a.values + kNChan, b.values) && std::equal(a.all, a.all + kNChan, b.all) &&
           std::equal(a.any, a.any + kNChan, b.any);
}

inline Ranges empty_ranges()
{
    Ranges r;
    for (int chan = 0; chan < kNChan; ++chan) {
        r.minimum[chan] = 1024;
        r.maximum[chan] = -1;
        r.values[chan] = 0;
        r.all[chan] = 1023;
        r.any[chan] = 0;
    }
    return r;
}

inline int saturating_atoi(const char* token)
{
    const long long value = std::strtoll(token, nullptr, 10);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

// Folds the tokens of one line, without its newline, into the ranges;
// returns how many it folded. strtok writes into the line.
inline int fold_line(char* line, Ranges& r)
{
    int chan = 0;
    for (char* token = std::strtok(line, " "); token && chan < kNChan;
         token = std::strtok(nullptr, " "), ++chan) {
        const int value = saturating_atoi(token);
        if (value < r.minimum[chan]) r.minimum[chan] = value;
        if (value > r.maximum[chan]) r.maximum[chan] = value;
        ++r.values[chan];
        if (value >= 0 && value <= 1023) {
            r.all[chan] &= value;
            r.any[chan] |= value;
        }
    }
    return chan;
}

struct Scan {
    Ranges ranges;
    int status;          // 1 when a line was too long, otherwise 0
    std::string err;     // the diagnostic on standard error, if any
    std::int64_t lines;  // lines scanned
    bool unfinished;     // a last line without a newline was left out
};

// Scans a sample file named path from in, as tavrin does, or the program
// named whose diagnostics are tavrin's under its own name.
inline Scan scan(std::istream& in, const std::string& path, const char* program = "tavrin")
{
    Scan s = {empty_ranges(), 0, "", 0, false};
    char line[kMaxLineLength];
    std::int64_t number = 0;
    while (in.good()) {
        in.getline(line, kMaxLineLength);
        if (!in.good()) break;
        ++number;
        fold_line(line, s.ranges);
    }
    s.lines = number;
    char text[512];
    if (!in.eof()) {
        std::snprintf(text, sizeof text, "%s: %s: line %lld: more than %d characters, scan stopped\n", program,
                      path.c_str(), static_cast<long long>(number + 1), kMaxLineLength - 1);
        s.err = text;
        s.status = 1;
    } else if (in.gcount() > 0) {
        s.unfinished = true;
        std::snprintf(text, sizeof text, "%s: %s: line %lld: no newline at the end, line ignored\n", program,
                      path.c_str(), static_cast<long long>(number + 1));
        s.err = text;
    }
    return s;
}

// Numbers or texts, comma-separated.
template <typename Item>
std::string comma_separated(const Item* items, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i) {
        std::ostringstream item;
        item << items[i];
        text += (i == 0 ? "" : ",") + item.str();
    }
    return text;
}

// tavrin-survey's row for the recording whose text the model scanned, under
// the name given, with the status the survey gives it.
inline std::string survey_row(const std::string& name, const Scan& s, int status)
{
    const Ranges& r = s.ranges;
    std::string row;
    for (const char c : name) row += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : std::string(1, c);
    row += "\t" + std::to_string(status) + "\t" + std::to_string(s.lines) + "\t" + (s.unfinished ? "1" : "0");
    std::vector<int> stuck, empty;
    std::string always1[kNChan], always0[kNChan];
    for (int chan = 0; chan < kNChan; ++chan) {
        if (r.minimum[chan] > 1) stuck.push_back(chan);
        if (r.values[chan] == 0) empty.push_back(chan);
        // A channel with a code has every bit of all within any.
        const bool codes = (r.all[chan] & ~r.any[chan]) == 0;
        always1[chan] = codes ? std::bitset<10>(r.all[chan]).to_string() : "-";
        always0[chan] = codes ? std::bitset<10>(~r.any[chan]).to_string() : "-";
    }
    row += "\t" + comma_separated(stuck.data(), static_cast<int>(stuck.size()));
    row += "\t" + comma_separated(empty.data(), static_cast<int>(empty.size()));
    row += "\t" + comma_separated(r.minimum, kNChan) + "\t" + comma_separated(r.maximum, kNChan);
    row += "\t" + comma_separated(r.values, kNChan) + "\t" + comma_separated(always1, kNChan);
    return row + "\t" + comma_separated(always0, kNChan) + "\n";
}

}  // namespace model

#endif
