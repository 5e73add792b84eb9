// The survey's rows, read line by line and checked column by column: a
// row that is not what the survey writes stops the file with a message
// that names its line and column.
#include "report_rows.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace report {

namespace {

const std::size_t kBlockBytes = std::size_t{1} << 20;
// Far beyond any row: a recording row is under 3 KB plus its name.
const std::size_t kMaxLineBytes = std::size_t{1} << 20;
const int kColumns[rows::kKinds] = {17, 11, 4};
const int kMaxColumns = 17;
const int kMaxCode = (1 << kAdcBits) - 1;
const std::size_t kMaxDigits = 18;  // a count or a decimal's digits, well within 64 bits
const int kShownBytes = 40;         // of a refused field, in its message

struct Field {
    const char* text;
    std::size_t length;
};

struct Reason {
    char text[256];
};

bool is(const Field& field, const char* literal)
{
    return field.length == std::strlen(literal) && std::memcmp(field.text, literal, field.length) == 0;
}

// Splits the line at its tabs; returns how many fields it has, counting
// on past kMaxColumns without keeping them.
int split(const char* line, std::size_t length, Field (&fields)[kMaxColumns])
{
    int count = 0;
    for (const char* const end = line + length;; ++count) {
        const char* const tab = static_cast<const char*>(std::memchr(line, '\t', end - line));
        const char* const stop = tab == nullptr ? end : tab;
        if (count < kMaxColumns) fields[count] = {line, static_cast<std::size_t>(stop - line)};
        if (tab == nullptr) return count + 1;
        line = tab + 1;
    }
}

// --- columns ------------------------------------------------------------------

bool read_count(const Field& field, std::int64_t& value)
{
    if (field.length == 0 || field.length > kMaxDigits) return false;
    value = 0;
    for (std::size_t i = 0; i < field.length; ++i) {
        const unsigned digit = static_cast<unsigned char>(field.text[i]) - '0';
        if (digit > 9) return false;
        value = value * 10 + digit;
    }
    return true;
}

bool read_integer(const Field& field, std::int64_t& value)
{
    const bool minus = field.length > 0 && field.text[0] == '-';
    if (!read_count({field.text + minus, field.length - minus}, value)) return false;
    if (minus) value = -value;
    return true;
}

// An integer, or nan, read as if_nan.
bool read_integer_or_nan(const Field& field, std::int64_t if_nan, std::int64_t& value)
{
    value = if_nan;
    return is(field, "nan") || read_integer(field, value);
}

bool read_flag(const Field& field, bool& value)
{
    value = is(field, "1");
    return value || is(field, "0");
}

// A number such as -12.345, or nan.
bool read_decimal(const Field& field, float& value)
{
    if (is(field, "nan")) {
        value = NAN;
        return true;
    }
    const bool minus = field.length > 0 && field.text[0] == '-';
    const char* const text = field.text + minus;
    const std::size_t length = field.length - minus;
    const char* const point = static_cast<const char*>(std::memchr(text, '.', length));
    const std::size_t whole = point == nullptr ? length : point - text;
    const std::size_t decimals = point == nullptr ? 0 : length - whole - 1;
    if (whole == 0 || (point != nullptr && decimals == 0) || whole + decimals > kMaxDigits) return false;
    std::int64_t whole_part, decimal_part = 0;
    if (!read_count({text, whole}, whole_part)) return false;
    if (decimals > 0 && !read_count({point + 1, decimals}, decimal_part)) return false;
    double number = static_cast<double>(decimal_part);
    for (std::size_t i = 0; i < decimals; ++i) number /= 10;
    number += static_cast<double>(whole_part);
    value = static_cast<float>(minus ? -number : number);
    return true;
}

// A channel's mean or rms, of codes from 0 to 1023 and so within those
// bounds itself, or nan.
bool read_measure(const Field& field, float& value)
{
    return read_decimal(field, value) && !(value < 0 || value > kMaxCode);
}

// Ten binary digits, bit 9 first, or - for a channel without codes.
bool read_bits(const Field& field)
{
    if (is(field, "-")) return true;
    if (field.length != kAdcBits) return false;
    for (std::size_t i = 0; i < field.length; ++i) {
        if (field.text[i] != '0' && field.text[i] != '1') return false;
    }
    return true;
}

// Whether a channel's codes, from the lowest to the highest, span a ramp's
// sweep. A channel without codes has its lowest above its highest.
bool spans_ramp(std::int64_t lowest, std::int64_t highest)
{
    return highest - lowest >= kRampSpan;
}

bool read_channel(const Field& field, int& channel)
{
    std::int64_t value;
    if (!read_count(field, value) || value >= kChannels) return false;
    channel = static_cast<int>(value);
    return true;
}

// A recording's name as the rows write it: not empty, and every backslash
// the start of \\, \t or \n.
bool read_name(const Field& field)
{
    if (field.length == 0) return false;
    const char* const end = field.text + field.length;
    for (const char* at = field.text; (at = static_cast<const char*>(std::memchr(at, '\\', end - at))) != nullptr;
         at += 2) {
        if (at + 1 == end) return false;
        if (at[1] != '\\' && at[1] != 't' && at[1] != 'n') return false;
    }
    return true;
}

// Calls read on each comma-separated item of the field, which must have
// count of them (any number, none included, when count is negative).
template <typename Read>
bool read_items(const Field& field, int count, Read read)
{
    if (count < 0 && field.length == 0) return true;
    int items = 0;
    for (std::size_t start = 0; start <= field.length; ++items) {
        const char* const comma =
            static_cast<const char*>(std::memchr(field.text + start, ',', field.length - start));
        const std::size_t end = comma == nullptr ? field.length : comma - field.text;
        if (items == kChannels && count >= 0) return false;
        if (!read({field.text + start, end - start}, items)) return false;
        start = end + 1;
    }
    return count < 0 || items == count;
}

// The column's name, from the kind's header.
Field column_name(rows::Kind kind, int column)
{
    Field name = {rows::kHeaders[kind], 0};
    for (int i = 0;; ++i) {
        name.length = std::strcspn(name.text, "\t\n");
        if (i == column) return name;
        name.text += name.length + 1;
    }
}

// Fills in why the field of the column is refused; returns false.
bool refuse(Reason& reason, rows::Kind kind, int column, const Field& field, const char* wanted)
{
    const Field name = column_name(kind, column);
    const int shown = field.length > static_cast<std::size_t>(kShownBytes) ? kShownBytes : static_cast<int>(field.length);
    std::snprintf(reason.text, sizeof reason.text, "%.*s: '%.*s%s' is not %s", static_cast<int>(name.length),
                  name.text, shown, field.text, field.length > static_cast<std::size_t>(shown) ? "..." : "", wanted);
    return false;
}

const char kCount[] = "a count";
const char kIntegerOrNan[] = "an integer or nan";
const char kMeasure[] = "a number from 0 to 1023 or nan";
const char kFlag[] = "0 or 1";
const char kBits[] = "ten binary digits or -";
const char kChannel[] = "a channel from 0 to 31";
const char kName[] = "a name with \\\\, \\t and \\n its only escapes";

// --- rows ---------------------------------------------------------------------

// Finds the recording of the row's name, the last row's in a trice.
class Names {
public:
    explicit Names(Campaign& campaign) : campaign_(campaign) {}
    std::uint32_t recording(const Field& name, bool add)
    {
        if (last_ != Interner::kAbsent && campaign_.names.length(last_) == name.length &&
            std::memcmp(campaign_.names.text(last_), name.text, name.length) == 0) {
            return last_;
        }
        last_ = add ? recording_of(campaign_, name.text, name.length) : campaign_.names.find(name.text, name.length);
        return last_;
    }

private:
    Campaign& campaign_;
    std::uint32_t last_ = Interner::kAbsent;
};

bool read_channel_row(const Field* f, Names& names, Campaign& campaign, const Place& place, Reason& reason)
{
    const rows::Kind kind = rows::kChannels;
    int chan;
    std::int64_t count, lowest, highest;
    Channel channel;
    if (!read_name(f[0])) return refuse(reason, kind, 0, f[0], kName);
    if (!read_channel(f[1], chan)) return refuse(reason, kind, 1, f[1], kChannel);
    for (int column = 2; column <= 3; ++column) {
        if (!read_count(f[column], count)) return refuse(reason, kind, column, f[column], kCount);
    }
    if (!read_integer_or_nan(f[4], kNoMinimum, lowest)) return refuse(reason, kind, 4, f[4], kIntegerOrNan);
    if (!read_integer_or_nan(f[5], kNoMaximum, highest)) return refuse(reason, kind, 5, f[5], kIntegerOrNan);
    if (!read_measure(f[6], channel.mean)) return refuse(reason, kind, 6, f[6], kMeasure);
    if (!read_measure(f[7], channel.rms)) return refuse(reason, kind, 7, f[7], kMeasure);
    for (int column = 8; column <= 9; ++column) {
        if (!read_bits(f[column])) return refuse(reason, kind, column, f[column], kBits);
    }
    if (!faults::parse_set(f[10].text, f[10].length, channel.faults)) {
        return refuse(reason, kind, 10, f[10], "ok, no-data, dead, never-low or stuck names");
    }
    const std::uint32_t r = names.recording(f[0], true);
    channels_of(campaign, r)[chan] = channel;
    Recording& recording = campaign.recordings[r];
    const std::uint32_t bit = std::uint32_t{1} << chan;
    recording.channel_rows |= bit;
    recording.ramps = spans_ramp(lowest, highest) ? recording.ramps | bit : recording.ramps & ~bit;
    recording.last_channel_row = place;
    return true;
}

// A recording row's faults column: channel:name items, each channel's names
// together one channel's faults.
bool read_channel_faults(const Field& field, faults::Set (&sets)[kChannels])
{
    std::fill(sets, sets + kChannels, faults::kNoFault);
    return read_items(field, -1, [&sets](const Field& item, int) {
        const char* const colon = static_cast<const char*>(std::memchr(item.text, ':', item.length));
        int chan;
        faults::Class fault;
        int bit;
        if (colon == nullptr || !read_channel({item.text, static_cast<std::size_t>(colon - item.text)}, chan)) {
            return false;
        }
        if (!faults::parse(colon + 1, item.text + item.length - colon - 1, fault, bit)) return false;
        sets[chan] |= faults::set_of(fault, bit);
        return faults::is_valid(sets[chan]);
    });
}

bool read_recording_row(const Field* f, Names& names, Campaign& campaign, Reason& reason)
{
    const rows::Kind kind = rows::kRecordings;
    bool unreadable, cut;
    std::int64_t count, malformed;
    std::int64_t lowest[kChannels], highest[kChannels];
    float means[kChannels], rmses[kChannels];
    faults::Set sets[kChannels];
    const auto a_count = [&count](const Field& item, int) { return read_count(item, count); };
    const auto a_channel = [](const Field& item, int) {
        int chan;
        return read_channel(item, chan);
    };
    if (!read_name(f[0])) return refuse(reason, kind, 0, f[0], kName);
    if (!read_flag(f[1], unreadable)) return refuse(reason, kind, 1, f[1], kFlag);
    if (!read_count(f[2], count)) return refuse(reason, kind, 2, f[2], kCount);
    if (!read_flag(f[3], cut)) return refuse(reason, kind, 3, f[3], kFlag);
    for (int column = 4; column <= 5; ++column) {
        if (!read_items(f[column], -1, a_channel)) return refuse(reason, kind, column, f[column], "channels from 0 to 31");
    }
    std::int64_t* const bounds[2] = {lowest, highest};
    for (int column = 6; column <= 7; ++column) {
        std::int64_t* const values = bounds[column - 6];
        const auto an_integer = [values](const Field& item, int at) { return read_integer(item, values[at]); };
        if (!read_items(f[column], kChannels, an_integer)) return refuse(reason, kind, column, f[column], "32 integers");
    }
    if (!read_items(f[8], kChannels, a_count)) return refuse(reason, kind, 8, f[8], "32 counts");
    for (int column = 9; column <= 10; ++column) {
        if (!read_items(f[column], kChannels, [](const Field& item, int) { return read_bits(item); })) {
            return refuse(reason, kind, column, f[column], "32 items of ten binary digits or -");
        }
    }
    if (!read_count(f[11], malformed)) return refuse(reason, kind, 11, f[11], kCount);
    for (int column = 12; column <= 13; ++column) {
        if (!read_count(f[column], count)) return refuse(reason, kind, column, f[column], kCount);
    }
    float* const columns[2] = {means, rmses};
    for (int column = 14; column <= 15; ++column) {
        float* const values = columns[column - 14];
        if (!read_items(f[column], kChannels, [values](const Field& item, int at) { return read_measure(item, values[at]); })) {
            return refuse(reason, kind, column, f[column], "32 numbers from 0 to 1023 or nan");
        }
    }
    if (!read_channel_faults(f[16], sets)) return refuse(reason, kind, 16, f[16], "channel:name items");
    const std::uint32_t r = names.recording(f[0], true);
    Channel* const channels = channels_of(campaign, r);
    Recording& recording = campaign.recordings[r];
    recording.ramps = 0;
    for (int chan = 0; chan < kChannels; ++chan) {
        channels[chan] = {means[chan], rmses[chan], sets[chan]};
        if (spans_ramp(lowest[chan], highest[chan])) recording.ramps |= std::uint32_t{1} << chan;
    }
    recording.summarised = true;
    recording.findings = (unreadable ? 1 << faults::kUnreadable : 0) | (cut ? 1 << faults::kCut : 0) |
                         (malformed > 0 ? 1 << faults::kMalformed : 0);
    return true;
}

// Keeps a code row as evidence unless its channel is known to be ok; once
// every file of other rows has been read (late), a recording that none of
// them gave is known to have no faults.
bool read_code_row(const Field* f, Names& names, Campaign& campaign, const Source& source, Reason& reason)
{
    const rows::Kind kind = rows::kCodes;
    int chan;
    std::int64_t code, count;
    if (!read_name(f[0])) return refuse(reason, kind, 0, f[0], kName);
    if (!read_channel(f[1], chan)) return refuse(reason, kind, 1, f[1], kChannel);
    if (!read_count(f[2], code) || code > kMaxCode) return refuse(reason, kind, 2, f[2], "a code from 0 to 1023");
    if (!read_count(f[3], count) || count == 0) return refuse(reason, kind, 3, f[3], "a count above 0");
    const std::uint32_t r = names.recording(f[0], !source.late);
    if (r == Interner::kAbsent) return true;
    const Recording& recording = campaign.recordings[r];
    const bool known = recording.summarised || (recording.channel_rows >> chan & 1) != 0;
    if (known && channels_of(campaign, r)[chan].faults == faults::kNoFault) return true;
    const CodeCount kept = {r, static_cast<std::uint16_t>(chan), static_cast<std::uint16_t>(code),
                            static_cast<std::uint64_t>(count), source.file};
    campaign.codes.push(kept);
    return true;
}

// The kind whose header the line is, or -1.
int header_kind(const char* line, std::size_t length)
{
    for (int kind = 0; kind < rows::kKinds; ++kind) {
        // Most lines are rows, of another length than a header's.
        static const std::size_t kHeaderLengths[rows::kKinds] = {
            std::strlen(rows::kHeaders[0]) - 1, std::strlen(rows::kHeaders[1]) - 1, std::strlen(rows::kHeaders[2]) - 1};
        if (length == kHeaderLengths[kind] && std::memcmp(line, rows::kHeaders[kind], length) == 0) return kind;
    }
    return -1;
}

// Reports a line that the reader could not hand out whole; returns 1.
int fail_line(LineReader::Status status, const char* path, LineNumber line)
{
    if (status == LineReader::kReadError) return fail(path, errno);
    if (status == LineReader::kCutLine) return fail_at(path, line, "a row cut short: no newline at its end");
    return fail_at(path, line, "a line of more than 1 MiB, which no row of the survey is");
}

bool read_row(rows::Kind kind, const Field* fields, const Source& source, LineNumber line, Names& names,
              Campaign& campaign, Reason& reason)
{
    switch (kind) {
    case rows::kRecordings: return read_recording_row(fields, names, campaign, reason);
    case rows::kChannels: return read_channel_row(fields, names, campaign, {source.file, line}, reason);
    case rows::kCodes: return read_code_row(fields, names, campaign, source, reason);
    }
    return false;
}

}  // namespace

// --- the reader ---------------------------------------------------------------

LineReader::~LineReader()
{
    std::free(buffer_);
}

bool LineReader::fill()
{
    held_ -= start_;
    if (held_ > 0) std::memmove(buffer_, buffer_ + start_, held_);
    start_ = 0;
    if (capacity_ < held_ + kBlockBytes) {
        char* const grown = static_cast<char*>(std::realloc(buffer_, held_ + kBlockBytes));
        if (grown == nullptr) out_of_memory();
        buffer_ = grown;
        capacity_ = held_ + kBlockBytes;
    }
    for (;;) {
        const ssize_t got = read(fd_, buffer_ + held_, capacity_ - held_);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got == 0;
        held_ += got;
        return true;
    }
}

LineReader::Status LineReader::next(const char*& line, std::size_t& length)
{
    for (std::size_t searched = 0;;) {
        const char* const begin = buffer_ + start_;
        const std::size_t available = held_ - start_;
        const char* const newline =
            available > searched ? static_cast<const char*>(std::memchr(begin + searched, '\n', available - searched))
                                 : nullptr;
        if (newline != nullptr) {
            line = begin;
            length = newline - begin;
            start_ += length + 1;
            ++number_;
            return length > kMaxLineBytes ? kLongLine : kLine;
        }
        if (available > kMaxLineBytes) {
            ++number_;
            return kLongLine;
        }
        searched = available;
        const std::size_t before = held_ - start_;
        if (!fill()) return kReadError;
        if (held_ - start_ == before) {  // the end of the file
            if (before == 0) return kEnd;
            line = buffer_ + start_;
            length = before;
            start_ = held_;
            ++number_;
            return kCutLine;
        }
    }
}

// --- reading files ------------------------------------------------------------

int fail_at(const char* path, LineNumber line, const char* reason)
{
    std::fprintf(stderr, "%s: %s:%lld: %s\n", kProgramName, path, static_cast<long long>(line), reason);
    return 1;
}

int read_header(LineReader& reader, const char* path, rows::Kind& kind)
{
    const char* line;
    std::size_t length;
    const LineReader::Status status = reader.next(line, length);
    if (status == LineReader::kEnd) return fail_at(path, 1, "empty, where the survey's header was expected");
    if (status != LineReader::kLine) return fail_line(status, path, reader.number());
    const int found = header_kind(line, length);
    if (found >= 0) {
        kind = static_cast<rows::Kind>(found);
        return 0;
    }
    Field fields[kMaxColumns];
    const int columns = split(line, length, fields);
    if (std::find(kColumns, kColumns + rows::kKinds, columns) != kColumns + rows::kKinds) {
        return fail_at(path, 1, "rows without the survey's header: keep its header line (leave out --no-header)");
    }
    return fail_at(path, 1, "not the survey's rows: the first line is none of its headers");
}

int read_rows(LineReader& reader, rows::Kind kind, const Source& source, Campaign& campaign)
{
    Names names(campaign);
    Field fields[kMaxColumns];
    Reason reason;
    for (;;) {
        const char* line;
        std::size_t length;
        const LineReader::Status status = reader.next(line, length);
        if (status == LineReader::kEnd) return 0;
        const LineNumber number = reader.number();
        if (status != LineReader::kLine) return fail_line(status, source.path, number);
        const int header = header_kind(line, length);
        if (header == kind) continue;  // surveys run side by side into one file each wrote theirs
        if (header >= 0) {
            std::snprintf(reason.text, sizeof reason.text, "a header of %s rows among %s rows",
                          rows::kKindNames[header], rows::kKindNames[kind]);
            return fail_at(source.path, number, reason.text);
        }
        const int columns = split(line, length, fields);
        if (columns != kColumns[kind]) {
            std::snprintf(reason.text, sizeof reason.text, "%d columns, where %s rows have %d", columns,
                          rows::kKindNames[kind], kColumns[kind]);
            return fail_at(source.path, number, reason.text);
        }
        if (!read_row(kind, fields, source, number, names, campaign, reason)) {
            return fail_at(source.path, number, reason.text);
        }
    }
}

int check_channel_rows(const Campaign& campaign, const char* const* paths)
{
    int status = 0;
    for (std::uint32_t r = 0; r < campaign.recordings.size(); ++r) {
        const Recording& recording = campaign.recordings[r];
        if (recording.summarised || recording.channel_rows == 0 || recording.channel_rows == kAllChannels) continue;
        int given = 0;
        for (std::uint32_t rows = recording.channel_rows; rows != 0; rows &= rows - 1) ++given;
        char reason[256];
        std::snprintf(reason, sizeof reason, "%.160s: rows for %d of its %d channels, and no recording row",
                      campaign.names.text(r), given, kChannels);
        status = fail_at(paths[recording.last_channel_row.file], recording.last_channel_row.line, reason);
    }
    return status;
}

void order_codes(Campaign& campaign)
{
    Array<CodeCount>& codes = campaign.codes;
    const auto channel_key = [](const CodeCount& c) { return std::uint64_t{c.recording} << 16 | c.channel; };
    // By recording, channel, file and code; the count last, so that even
    // rows of one code that a file gives twice come in one order.
    std::sort(codes.begin(), codes.end(), [&channel_key](const CodeCount& a, const CodeCount& b) {
        if (channel_key(a) != channel_key(b)) return channel_key(a) < channel_key(b);
        if (a.file != b.file) return a.file < b.file;
        return a.code != b.code ? a.code < b.code : a.count < b.count;
    });
    // Of each recording and channel, the rows of the last file that gave
    // any, which take the place of the earlier files' rows.
    std::size_t kept = 0;
    for (std::size_t start = 0; start < codes.size();) {
        std::size_t end = start + 1;
        while (end < codes.size() && channel_key(codes[end]) == channel_key(codes[start])) ++end;
        const std::uint32_t last_file = codes[end - 1].file;
        for (std::size_t i = start; i < end; ++i) {
            if (codes[i].file != last_file || (i + 1 < end && codes[i + 1].code == codes[i].code)) continue;
            codes[kept++] = codes[i];
        }
        start = end;
    }
    codes.resize(kept, CodeCount());
}

}  // namespace report
