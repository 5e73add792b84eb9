// Formats the survey's rows: each column from the tally, the channels'
// figures and fault names from the code histograms.
#include "survey_rows.h"

#include "faults.h"
#include "row_output.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

static_assert(faults::kCodes == kCodes, "the faults are named from the survey's codes");

// The most that each column of a row takes after the file's name, tabs and
// commas included: a count or number takes up to 21 bytes, a channel 3, a
// code 5, ten binary digits 11, a mean or rms (up to 1023.000) 9, a fault
// name with its channel 12 ("31:stuck1:9,"), of which a channel has at most
// one per bit.
const std::size_t kCount = 21, kChannel = 3, kCode = 5, kDigits = 11, kFigure = 9, kNamed = 12;
const std::size_t kMaxRecordingColumns = 2 + kCount + 2 + 2 * kNChan * kChannel + 3 * kNChan * kCount +
                                         2 * kNChan * kDigits + 3 * kCount + 2 * kNChan * kFigure +
                                         kNChan * faults::kCodeBits * kNamed;
const std::size_t kMaxChannelColumns = kChannel + 2 * kCount + 2 * kCode + 2 * kFigure + 2 * kDigits +
                                       faults::kCodeBits * kNamed;
const std::size_t kMaxCodeColumns = kChannel + kCode + kCount;
static_assert(rows::kThousandthsBytes + 1 <= kFigure, "a figure and its comma fit their room");

char* put_text(char* at, const char* text)
{
    while (*text != '\0') *at++ = *text++;
    return at;
}

char* put_number(char* at, long long value)
{
    char digits[24];
    char* first = digits + sizeof digits;
    unsigned long long magnitude = value < 0 ? 0 - static_cast<unsigned long long>(value) : value;
    do {
        *--first = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) *at++ = '-';
    while (first < digits + sizeof digits) *at++ = *first++;
    return at;
}

// A figure with three decimals, or "nan" for one that does not exist,
// which pandas, DuckDB and ROOT all read as a missing number.
char* put_figure(char* at, double figure)
{
    if (std::isnan(figure)) return put_text(at, "nan");
    return rows::put_thousandths(at, figure);
}

// Ends a column; the row's last one ends the line.
char* end_column(char* at, bool last = false)
{
    *at++ = last ? '\n' : '\t';
    return at;
}

// --- the name ------------------------------------------------------------------

// The name as given, with its backslashes, tabs and newlines escaped, so
// that each row stays one line of the right columns; made once for all the
// rows of a recording.
char* escaped = nullptr;
std::size_t escaped_length = 0;
std::size_t escaped_capacity = 0;

bool escape_name(const char* name)
{
    const std::size_t needed = 2 * std::strlen(name) + 1;
    if (needed > escaped_capacity) {
        char* const grown = static_cast<char*>(std::realloc(escaped, needed));
        if (grown == nullptr) return false;
        escaped = grown;
        escaped_capacity = needed;
    }
    char* at = escaped;
    for (; *name != '\0'; ++name) {
        const char code = *name == '\\' ? '\\' : *name == '\t' ? 't' : *name == '\n' ? 'n' : '\0';
        if (code != '\0') {
            *at++ = '\\';
            *at++ = code;
        } else {
            *at++ = *name;
        }
    }
    escaped_length = at - escaped;
    return true;
}

// Room for a row with the name and up to columns bytes after it, the name
// and its tab already in; nullptr when there is no memory.
char* start_row(std::size_t columns)
{
    char* const row = output::row_room(escaped_length + 1 + columns);
    if (row == nullptr) return nullptr;
    std::memcpy(row, escaped, escaped_length);
    return end_column(row + escaped_length);
}

// --- the channels' figures --------------------------------------------------

struct Channel {
    LineNumber values;  // by tavrin's rules
    faults::Figures figures;
    faults::Findings findings;
};

faults::Codes codes_of(const CodeTally& codes, int chan)
{
    const faults::Codes c = {codes.histogram[chan], codes.pulse_histogram[chan], codes.lowest[chan],
                             codes.highest[chan]};
    return c;
}

// Every channel's count of values, figures and fault names.
void describe_channels(const CodeTally& codes, Channel (&channels)[kNChan])
{
    LineNumber reaching = 0;  // lines that gave channel chan a value, counted down from the last channel
    for (int chan = kNChan - 1; chan >= 0; --chan) {
        reaching += codes.lines_reaching[chan + 1];
        Channel& c = channels[chan];
        c.values = reaching;
        const faults::Codes channel_codes = codes_of(codes, chan);
        c.figures = faults::figures_of(channel_codes);
        c.findings = faults::findings_of(channel_codes, c.figures, codes.pulses > 0);
    }
}

// The channel's names, comma-separated, each after prefix (its channel and
// a colon, or nothing).
char* put_names(char* at, const faults::Findings& findings, const char* prefix)
{
    faults::Name names[faults::kCodeBits];
    const int count = faults::names_of(findings, names);
    for (int n = 0; n < count; ++n) {
        if (n > 0) *at++ = ',';
        at = put_text(put_text(at, prefix), faults::class_name(names[n].fault));
        if (names[n].bit >= 0) at = put_number(put_text(at, ":"), names[n].bit);
    }
    return at;
}

// --- the recording's row ----------------------------------------------------

// The channels for which chosen is set, ascending, comma-separated.
char* put_channels(char* at, const bool (&chosen)[kNChan])
{
    const char* separator = "";
    for (int chan = 0; chan < kNChan; ++chan) {
        if (!chosen[chan]) continue;
        at = put_number(put_text(at, separator), chan);
        separator = ",";
    }
    return at;
}

template <typename Number>
char* put_numbers(char* at, const Number (&numbers)[kNChan])
{
    for (int chan = 0; chan < kNChan; ++chan) at = put_number(chan == 0 ? at : put_text(at, ","), numbers[chan]);
    return at;
}

// Each channel's mean, or rms, comma-separated.
char* put_figures(char* at, const Channel (&channels)[kNChan], bool rms)
{
    for (int chan = 0; chan < kNChan; ++chan) {
        if (chan > 0) *at++ = ',';
        const faults::Figures& f = channels[chan].figures;
        at = put_figure(at, rms ? f.rms : f.mean);
    }
    return at;
}

// The bits set in all, or clear in any, as tavrin's binary digits; "-" when
// there is no code, which is the one case in which all holds bits that any
// lacks.
char* put_steady(char* at, int all, int any, bool ones)
{
    if ((all & ~any) != 0) return put_text(at, "-");
    return put_text(at, adc_bits(ones ? all : ~any).digits);
}

// For each channel, the bits that were 1 (ones) or 0 in all of its values
// from 0 to 1023, as tavrin reads them.
char* put_steady_bits(char* at, const scan::CodeBits& bits, bool ones)
{
    for (int chan = 0; chan < kNChan; ++chan) {
        if (chan > 0) *at++ = ',';
        at = put_steady(at, bits.all[chan], bits.any[chan], ones);
    }
    return at;
}

// The faults of the channels that are not ok, each name after its channel.
char* put_faults(char* at, const Channel (&channels)[kNChan])
{
    const char* separator = "";
    for (int chan = 0; chan < kNChan; ++chan) {
        if (channels[chan].findings.fault == faults::kOk) continue;
        char prefix[8];
        *put_text(put_number(prefix, chan), ":") = '\0';
        at = put_names(put_text(at, separator), channels[chan].findings, prefix);
        separator = ",";
    }
    return at;
}

bool write_recording_row(const Surveyed& r, const Channel (&channels)[kNChan])
{
    char* at = start_row(kMaxRecordingColumns);
    if (at == nullptr) return false;
    const Tally& tally = r.tally;
    LineNumber values[kNChan];
    bool stuck[kNChan];
    bool empty[kNChan];
    for (int chan = 0; chan < kNChan; ++chan) {
        values[chan] = channels[chan].values;
        stuck[chan] = tally.minimum[chan] > kHighestUnstuckMinimum;
        empty[chan] = values[chan] == 0;
    }
    at = end_column(put_number(at, r.status));
    at = end_column(put_number(at, tally.lines));
    at = end_column(put_number(at, tally.unfinished));
    at = end_column(put_channels(at, stuck));
    at = end_column(put_channels(at, empty));
    at = end_column(put_numbers(at, tally.minimum));
    at = end_column(put_numbers(at, tally.maximum));
    at = end_column(put_numbers(at, values));
    at = end_column(put_steady_bits(at, r.codes.line.bits, true));
    at = end_column(put_steady_bits(at, r.codes.line.bits, false));
    at = end_column(put_number(at, r.codes.malformed));
    at = end_column(put_number(at, r.codes.short_lines));
    at = end_column(put_number(at, r.codes.pulses));
    at = end_column(put_figures(at, channels, false));
    at = end_column(put_figures(at, channels, true));
    output::row_done(end_column(put_faults(at, channels), true));
    return true;
}

// --- a row per channel ------------------------------------------------------

// A code figure: the number, or "nan" where the channel has no code.
char* put_code_figure(char* at, const faults::Figures& f, int figure)
{
    return f.codes == 0 ? put_text(at, "nan") : put_number(at, figure);
}

bool write_channel_rows(const Channel (&channels)[kNChan])
{
    for (int chan = 0; chan < kNChan; ++chan) {
        char* at = start_row(kMaxChannelColumns);
        if (at == nullptr) return false;
        const Channel& c = channels[chan];
        const faults::Figures& f = c.figures;
        const int any = ~f.zeros;
        at = end_column(put_number(at, chan));
        at = end_column(put_number(at, c.values));
        at = end_column(put_number(at, f.codes));
        at = end_column(put_code_figure(at, f, f.minimum));
        at = end_column(put_code_figure(at, f, f.maximum));
        at = end_column(put_figure(at, f.mean));
        at = end_column(put_figure(at, f.rms));
        at = end_column(f.codes == 0 ? put_text(at, "-") : put_steady(at, f.ones, any, true));
        at = end_column(f.codes == 0 ? put_text(at, "-") : put_steady(at, f.ones, any, false));
        output::row_done(end_column(put_names(at, c.findings, ""), true));
    }
    return true;
}

// --- a row per code ---------------------------------------------------------

bool write_code_rows(const CodeTally& codes)
{
    for (int chan = 0; chan < kNChan; ++chan) {
        for (int code = codes.lowest[chan]; code <= codes.highest[chan]; ++code) {
            const LineNumber count = codes.histogram[chan][code];
            if (count == 0) continue;
            char* at = start_row(kMaxCodeColumns);
            if (at == nullptr) return false;
            at = end_column(put_number(at, chan));
            at = end_column(put_number(at, code));
            output::row_done(end_column(put_number(at, count), true));
        }
    }
    return true;
}

}  // namespace

bool write_rows(rows::Kind kind, const Surveyed& recording)
{
    if (!escape_name(recording.name)) return false;
    bool written;
    if (kind == rows::kCodes) {
        written = write_code_rows(recording.codes);
    } else {
        static Channel channels[kNChan];
        describe_channels(recording.codes, channels);
        written = kind == rows::kRecordings ? write_recording_row(recording, channels) : write_channel_rows(channels);
    }
    output::recording_done();
    return written;
}
