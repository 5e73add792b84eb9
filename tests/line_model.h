// The plainest line-at-a-time scan of a sample file (getline into the
// line buffer, strtok, a saturating atoi), which every scan kernel and the
// block reader must match exactly; what the survey learns of each line
// besides; and the survey's rows that they give.
#ifndef TAVRIN_TESTS_LINE_MODEL_H
#define TAVRIN_TESTS_LINE_MODEL_H

#include "fault_model.h"

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

// What the survey counts besides: the malformed, short and pulse lines,
// and each channel's codes.
struct Survey {
    std::int64_t malformed = 0;
    std::int64_t short_lines = 0;
    std::int64_t pulses = 0;
    ChannelCodes codes[kNChan];
};

inline bool operator==(const Survey& a, const Survey& b)
{
    if (a.malformed != b.malformed || a.short_lines != b.short_lines || a.pulses != b.pulses) return false;
    for (int chan = 0; chan < kNChan; ++chan) {
        if (a.codes[chan].all != b.codes[chan].all || a.codes[chan].pulse != b.codes[chan].pulse) return false;
    }
    return true;
}

// The tokens of a line's text, split at spaces.
inline std::vector<std::string> split_at_spaces(const std::string& text)
{
    std::vector<std::string> tokens;
    std::string token;
    for (const char c : text + " ") {
        if (c != ' ') {
            token += c;
        } else if (!token.empty()) {
            tokens.push_back(token);
            token.clear();
        }
    }
    return tokens;
}

inline bool is_number_token(const std::string& token)
{
    const std::size_t digits = token[0] == '+' || token[0] == '-' ? 1 : 0;
    if (token.size() == digits) return false;
    return std::all_of(token.begin() + digits, token.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Counts one line, its bytes without the newline, as the survey does: a
// NUL, or a token among the first 32 that is not an optional sign and
// digits, makes it malformed; a carriage return before the newline is no
// token's; its values from 0 to 1023 are codes, also of the pulse line
// that it is when 16 of its values or more are 0 or 1.
inline void survey_line(std::string text, Survey& s)
{
    if (text.find('\0') != std::string::npos) {
        ++s.malformed;
        return;
    }
    if (!text.empty() && text.back() == '\r') text.pop_back();
    std::vector<std::string> tokens = split_at_spaces(text);
    if (tokens.size() > static_cast<std::size_t>(kNChan)) tokens.resize(kNChan);
    if (!std::all_of(tokens.begin(), tokens.end(), is_number_token)) {
        ++s.malformed;
        return;
    }
    if (tokens.empty()) return;
    s.short_lines += tokens.size() < static_cast<std::size_t>(kNChan);
    std::vector<int> values;
    for (const std::string& token : tokens) values.push_back(saturating_atoi(token.c_str()));
    const bool pulse = std::count_if(values.begin(), values.end(), [](int v) { return v == 0 || v == 1; }) >= 16;
    s.pulses += pulse;
    for (std::size_t chan = 0; chan < values.size(); ++chan) {
        if (values[chan] < 0 || values[chan] > 1023) continue;
        ++s.codes[chan].all[values[chan]];
        if (pulse) ++s.codes[chan].pulse[values[chan]];
    }
}

struct Scan {
    Ranges ranges;
    int status;          // 1 when a line was too long, otherwise 0
    std::string err;     // the diagnostic on standard error, if any
    std::int64_t lines;  // lines scanned
    bool unfinished;     // a last line without a newline was left out
    Survey survey;
};

// Scans a sample file named path from in, as tavrin does, or the program
// named whose diagnostics are tavrin's under its own name; and counts what
// the survey counts when asked.
inline Scan scan(std::istream& in, const std::string& path, const char* program = "tavrin", bool survey = true)
{
    Scan s = {empty_ranges(), 0, "", 0, false, {}};
    char line[kMaxLineLength];
    std::int64_t number = 0;
    while (in.good()) {
        in.getline(line, kMaxLineLength);
        if (!in.good()) break;
        ++number;
        if (survey) survey_line(std::string(line, in.gcount() - 1), s.survey);
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

// A name as the survey's rows write it.
inline std::string escaped_name(const std::string& name)
{
    std::string text;
    for (const char c : name) text += c == '\\' ? "\\\\" : c == '\t' ? "\\t" : c == '\n' ? "\\n" : std::string(1, c);
    return text;
}

// A mean or rms as the rows write it.
inline std::string figure(bool exists, long double value)
{
    if (!exists) return "nan";
    char text[32];
    std::snprintf(text, sizeof text, "%.3Lf", value);
    return text;
}

inline std::string comma_joined(const std::vector<std::string>& items, const std::string& prefix = "")
{
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ",") + prefix + item;
    return text;
}

// tavrin-survey's row for the recording whose text the model scanned, under
// the name given, with the status the survey gives it.
inline std::string survey_row(const std::string& name, const Scan& s, int status)
{
    const Ranges& r = s.ranges;
    std::string row = escaped_name(name);
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
    row += "\t" + comma_separated(always0, kNChan);
    const Survey& v = s.survey;
    row += "\t" + std::to_string(v.malformed) + "\t" + std::to_string(v.short_lines) + "\t" + std::to_string(v.pulses);
    std::string means[kNChan], noises[kNChan], faults;
    for (int chan = 0; chan < kNChan; ++chan) {
        const Pedestal p = pedestal_of(v.codes[chan]);
        means[chan] = figure(p.exists, p.mean);
        noises[chan] = figure(p.exists, p.rms);
        const std::vector<std::string> names = fault_names(v.codes[chan], v.pulses > 0);
        if (names.front() == "ok") continue;
        faults += (faults.empty() ? "" : ",") + comma_joined(names, std::to_string(chan) + ":");
    }
    row += "\t" + comma_separated(means, kNChan) + "\t" + comma_separated(noises, kNChan);
    return row + "\t" + faults + "\n";
}

// The survey's rows of each channel of the recording.
inline std::string channel_rows(const std::string& name, const Scan& s)
{
    std::string rows;
    for (int chan = 0; chan < kNChan; ++chan) {
        const ChannelCodes& c = s.survey.codes[chan];
        const std::vector<int> came = codes_that_came(c.all);
        const Pedestal p = pedestal_of(c);
        int ones = 1023, any = 0;
        for (const int code : came) {
            ones &= code;
            any |= code;
        }
        rows += escaped_name(name) + "\t" + std::to_string(chan) + "\t" + std::to_string(s.ranges.values[chan]);
        rows += "\t" + std::to_string(count_of(c.all));
        rows += "\t" + (came.empty() ? "nan" : std::to_string(came.front()));
        rows += "\t" + (came.empty() ? "nan" : std::to_string(came.back()));
        rows += "\t" + figure(p.exists, p.mean) + "\t" + figure(p.exists, p.rms);
        rows += "\t" + (came.empty() ? "-" : std::bitset<10>(ones).to_string());
        rows += "\t" + (came.empty() ? "-" : std::bitset<10>(~any).to_string());
        rows += "\t" + comma_joined(fault_names(c, s.survey.pulses > 0)) + "\n";
    }
    return rows;
}

// The survey's rows of each channel and code of the recording.
inline std::string code_rows(const std::string& name, const Scan& s)
{
    std::string rows;
    for (int chan = 0; chan < kNChan; ++chan) {
        for (const auto& [code, k] : s.survey.codes[chan].all) {
            rows += escaped_name(name) + "\t" + std::to_string(chan) + "\t" + std::to_string(code) + "\t" +
                    std::to_string(k) + "\n";
        }
    }
    return rows;
}

}  // namespace model

#endif
