// The plainest line-at-a-time scan of a sample file (getline into the
// line buffer, strtok, a saturating atoi), which every scan kernel and the
// block reader must match exactly.
#ifndef TAVRIN_TESTS_LINE_MODEL_H
#define TAVRIN_TESTS_LINE_MODEL_H

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <string>

namespace model {

constexpr int kNChan = 32;
constexpr int kMaxLineLength = 192;

struct Ranges {
    int minimum[kNChan];
    int maximum[kNChan];
};

inline bool operator==(const Ranges& a, const Ranges& b)
{
    return std::equal(a.minimum, a.minimum + kNChan, b.minimum) &&
           std::equal(a.maximum, a.maximum + kNChan, b.maximum);
}

inline Ranges empty_ranges()
{
    Ranges r;
    for (int chan = 0; chan < kNChan; ++chan) {
        r.minimum[chan] = 1024;
        r.maximum[chan] = -1;
    }
    return r;
}

inline int saturating_atoi(const char* token)
{
    const long long value = std::strtoll(token, nullptr, 10);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

// Folds the tokens of one line, without its newline, into the ranges.
// strtok writes into the line.
inline void fold_line(char* line, Ranges& r)
{
    int chan = 0;
    for (char* token = std::strtok(line, " "); token && chan < kNChan;
         token = std::strtok(nullptr, " "), ++chan) {
        const int value = saturating_atoi(token);
        if (value < r.minimum[chan]) r.minimum[chan] = value;
        if (value > r.maximum[chan]) r.maximum[chan] = value;
    }
}

struct Scan {
    Ranges ranges;
    int status;          // 1 when a line was too long, otherwise 0
    std::string err;     // the diagnostic on standard error, if any
    std::int64_t lines;  // lines scanned
};

// Scans a sample file named path from in, as tavrin does.
inline Scan scan(std::istream& in, const std::string& path)
{
    Scan s = {empty_ranges(), 0, "", 0};
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
        std::snprintf(text, sizeof text, "tavrin: %s: line %lld: more than %d characters, scan stopped\n",
                      path.c_str(), static_cast<long long>(number + 1), kMaxLineLength - 1);
        s.err = text;
        s.status = 1;
    } else if (in.gcount() > 0) {
        std::snprintf(text, sizeof text, "tavrin: %s: line %lld: no newline at the end, line ignored\n",
                      path.c_str(), static_cast<long long>(number + 1));
        s.err = text;
    }
    return s;
}

}  // namespace model

#endif
