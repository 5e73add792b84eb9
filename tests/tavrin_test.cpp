// End-to-end tests: the built tool runs in a scratch directory, and its
// standard output, standard error, exit status and range log are checked.
#include "line_model.h"
#include "runner.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <utility>

namespace {

const Command kTool = tools_under_test().front().command;
const std::string kLog = "zelquist_sampa7_cfg.log";  // next to "s.txt"

using Ranges = std::map<int, std::pair<int, int>>;  // channel -> (min, max)

// The block that the tool logs for the ranges, formatted as it does.
std::string block_of(const Ranges& ranges)
{
    std::string block = "Ch   Min   Max\n";
    for (int chan = 0; chan < 32; ++chan) {
        const auto range = ranges.count(chan) ? ranges.at(chan) : std::make_pair(1024, -1);
        char row[64];
        std::snprintf(row, sizeof row, "%2d  %4d  %4d\n", chan, range.first, range.second);
        block += row;
    }
    return block;
}

const std::string kEmptyLog = block_of({});

// Reads a one-block range log back; channels at their starting values are left out.
Ranges parse_log(const std::string& log)
{
    std::istringstream in(log);
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header, "Ch   Min   Max");
    Ranges ranges;
    int chan, low, high, rows = 0;
    for (; in >> chan >> low >> high; ++rows) {
        EXPECT_EQ(chan, rows);
        if (low != 1024 || high != -1) ranges[chan] = {low, high};
    }
    EXPECT_EQ(rows, 32);
    return ranges;
}

std::string line_of(const std::vector<int>& values)
{
    std::string line;
    for (const int value : values) line += std::to_string(value) + " ";
    return line + "\n";
}

const Command kSurvey = survey_beside(kTool);
const std::string kSurveyHeader = "file\tstatus\tlines\tunfinished\tstuck\tempty\tmin\tmax\tvalues\talways1\talways0\t"
                                  "malformed\tshort\tpulses\tmean\trms\tfaults\n";

// The survey's row for a recording of the samples, by the line model.
std::string modelled_row(const std::string& name, const std::string& samples, int status = 0)
{
    std::istringstream in(samples);
    return model::survey_row(name, model::scan(in, name), status);
}

const std::string kChannelHeader = "file\tchannel\tvalues\tcodes\tmin\tmax\tmean\trms\talways1\talways0\tfaults\n";
const std::string kCodeHeader = "file\tchannel\tcode\tcount\n";

// The survey's rows per channel, or per channel and code, by the model.
std::string modelled_rows(const std::string& kind, const std::string& name, const std::string& samples)
{
    std::istringstream in(samples);
    const model::Scan s = model::scan(in, name);
    return kind == "channels" ? model::channel_rows(name, s) : model::code_rows(name, s);
}

// A survey row's columns, by the header's names.
std::map<std::string, std::string> columns_of(const std::string& row)
{
    std::istringstream names(kSurveyHeader), fields(row.substr(0, row.find('\n')));
    std::map<std::string, std::string> columns;
    for (std::string name, field; std::getline(names, name, '\t') && std::getline(fields, field, '\t');) {
        columns[name.substr(0, name.find('\n'))] = field;
    }
    return columns;
}

// A per-channel column: the given channels' items, and rest for the others.
std::string per_channel(const std::map<int, std::string>& given, const std::string& rest)
{
    std::string column;
    for (int chan = 0; chan < 32; ++chan) column += (chan ? "," : "") + (given.count(chan) ? given.at(chan) : rest);
    return column;
}

// The survey's min and max columns for the ranges, with a space between.
std::string range_columns(const Ranges& ranges)
{
    std::map<int, std::string> low, high;
    for (const auto& [chan, range] : ranges) {
        low[chan] = std::to_string(range.first);
        high[chan] = std::to_string(range.second);
    }
    return per_channel(low, "1024") + " " + per_channel(high, "-1");
}

// The channels from first on, as the stuck and empty columns list them.
std::string channels_from(int first)
{
    std::string list;
    for (int chan = first; chan < 32; ++chan) list += (chan > first ? "," : "") + std::to_string(chan);
    return list;
}

// What a diagnostic of the tool says when the survey gives it.
std::string as_survey(std::string diagnostics)
{
    for (std::size_t at = 0; (at = diagnostics.find("tavrin: ", at)) != std::string::npos; at += 15) {
        diagnostics.replace(at, 8, "tavrin-survey: ");
    }
    return diagnostics;
}

// Runs the tool on the samples, as plain text or packed in a format.
Outcome analyse(const std::string& samples, const Packer* packer = nullptr)
{
    write_file("s.txt", packer == nullptr ? samples : packed(samples, *packer));
    return run(kTool, {"7", "cfg", "s.txt"});
}

class Tavrin : public ScratchDir {};

TEST_F(Tavrin, UsageWhenArgumentsAreMissing)
{
    const std::string syntax = "Syntax should be:\n./zelquist.exe chipstring config adcfilename\n"
                               "Example:\n./tavrin.exe 171741 20mV_delay-all /home/nuv/robot/"
                               "20180911/091954_sta2_sampa171471/091954_sta2_sampa171471_quirn00_"
                               "link02_20mV_delay-all_adc.txt\n";
    const std::vector<std::pair<std::vector<std::string>, int>> cases = {
        {{}, 1}, {{"7"}, 2}, {{"7", "cfg"}, 3}};
    for (const auto& [args, argc] : cases) {
        const Outcome outcome = run(kTool, args);
        EXPECT_EQ(outcome.status, 255);
        EXPECT_EQ(outcome.out, "not enough arguments: argc = " + std::to_string(argc) + "\n" + syntax);
        EXPECT_EQ(outcome.err, "");
    }
    // Nothing but what the runs printed is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 2);
}

TEST_F(Tavrin, ExtraArgumentsChangeNothing)
{
    write_file("s.txt", "0 5\n");
    const Outcome three = run(kTool, {"7", "cfg", "s.txt"});
    const Outcome five = run(kTool, {"7", "cfg", "s.txt", "x", "y"});
    EXPECT_EQ(five.out, three.out);
    EXPECT_EQ(five.status, 0);
    // Each run appends a block of its own.
    const std::string log = slurp(kLog);
    EXPECT_EQ(log, log.substr(0, log.size() / 2) + log.substr(0, log.size() / 2));
    EXPECT_EQ(parse_log(log.substr(0, log.size() / 2)), (Ranges{{0, {0, 0}}, {1, {5, 5}}}));
}

TEST_F(Tavrin, RangeLogIsNamedAfterDirectoryChipAndConfig)
{
    std::filesystem::create_directories("a/b");
    const std::string root_log = "/zelquist_sampa" + std::to_string(getpid()) + "_cfg.log";
    const std::vector<std::vector<std::string>> cases = {
        {"171741", "20mV_delay-all", "a/b/c_adc.txt", "a/b/zelquist_sampa171741_20mV_delay-all.log"},
        {"abc", "x", "a/c_adc.txt", "a/zelquist_sampaabc_x.log"},
        {"7", "cfg", "c_adc.txt", "./zelquist_sampa7_cfg.log"},
        {std::to_string(getpid()), "cfg", "/x_adc.txt", root_log},
    };
    for (const auto& c : cases) {
        const Outcome outcome = run(kTool, {c[0], c[1], c[2]});
        EXPECT_EQ(outcome.out.substr(0, outcome.out.find(" nstuck")),
                  " reading file " + c[2] + "\n writing file " + c[3] + "\n");
        if (c[3] != root_log) {
            EXPECT_EQ(slurp(c[3]), kEmptyLog) << c[3];
        }
    }
    std::filesystem::remove(root_log);
}

// A line of 32 values: the first count 0 or 1 by turns, the rest 50.
std::string pulse_line(int count)
{
    std::vector<int> values(32, 50);
    for (int chan = 0; chan < count; ++chan) values[chan] = chan % 2;
    return line_of(values);
}

// The ranges of a line of 32 values 50 and one from pulse_line(count).
Ranges first32_at(int value, int count = 16)
{
    Ranges ranges;
    for (int chan = 0; chan < 32; ++chan) ranges[chan] = {chan < count ? chan % 2 : value, value};
    return ranges;
}

// The ranges of one line of 31 values and then a 32nd.
Ranges first32_at_values(int value, int last)
{
    Ranges ranges;
    for (int chan = 0; chan < 32; ++chan) ranges[chan] = {chan < 31 ? value : last, chan < 31 ? value : last};
    return ranges;
}

// The means of the first count channels of a line of 50 and a line from
// pulse_line(count) that is no pulse line.
std::map<int, std::string> means_without_pulse(int count)
{
    std::map<int, std::string> items;
    for (int chan = 0; chan < count; ++chan) items[chan] = chan % 2 ? "25.500" : "25.000";
    return items;
}

struct ScanCase {
    const char* name;
    std::string samples;
    Ranges expected;
    std::map<std::string, std::string> survey = {};  // columns of the survey's row, checked by hand
};

TEST_F(Tavrin, ScanRules)
{
    std::vector<int> forty(40);
    for (int i = 0; i < 40; ++i) forty[i] = 100 + i;
    Ranges first32;
    for (int chan = 0; chan < 32; ++chan) first32[chan] = {100 + chan, 100 + chan};
    const std::string longest = "1" + std::string(189, ' ') + "2\n";  // 191 characters
    const std::string zero_bits = "0000000000";
    const std::vector<ScanCase> cases = {
        {"empty file", "", {}, {{"lines", "0"}, {"stuck", channels_from(0)}, {"empty", channels_from(0)}}},
        {"one line", "5 6 7\n", {{0, {5, 5}}, {1, {6, 6}}, {2, {7, 7}}}},
        {"spaces", "  5   6 7  \n   \n\n", {{0, {5, 5}}, {1, {6, 6}}, {2, {7, 7}}}},
        {"tabs stay in tokens", "\t5 6\t7 \t \v\f8\n", {{0, {5, 5}}, {1, {6, 6}}, {2, {0, 0}}, {3, {8, 8}}},
         {{"empty", channels_from(4)}, {"values", per_channel({{0, "1"}, {1, "1"}, {2, "1"}, {3, "1"}}, "0")},
          {"malformed", "1"}, {"short", "0"}}},
        // For the survey's count a carriage return before the newline is
        // no token: "\r" is a blank line, "3 \r" a line of one value.
        {"carriage returns", "5 6\r\n\r\n3 \r\n", {{0, {0, 5}}, {1, {0, 6}}},
         {{"lines", "3"}, {"values", per_channel({{0, "3"}, {1, "2"}}, "0")}, {"malformed", "0"}, {"short", "2"},
          {"mean", per_channel({{0, "4.000"}, {1, "6.000"}}, "nan")}}},
        // A header line reads as zeros: its channels come down to 0, and
        // their bits, stuck or not, to none set in every value. The survey
        // counts it malformed, and it gives no codes.
        {"a header line", "ch0 ch1\n6 7\n6 5\n", {{0, {0, 6}}, {1, {0, 7}}},
         {{"stuck", channels_from(2)}, {"always1", per_channel({{0, zero_bits}, {1, zero_bits}}, "-")},
          {"malformed", "1"}, {"short", "2"}, {"mean", per_channel({{0, "6.000"}, {1, "6.000"}}, "nan")}}},
        // The 32nd value ends on the last byte of a 32-byte (and of a
        // 16-byte) stretch of the line, and a carriage return follows it.
        {"a carriage return after the 32nd value", line_of(std::vector<int>(31, 11)).substr(0, 93) + "111\r 5\n",
         first32_at_values(11, 111), {{"malformed", "1"}, {"short", "0"}, {"mean", per_channel({}, "nan")}}},
        // The pulse lines' codes are left out of the pedestal and noise.
        {"a pulse line: 16 of 32 values 0 or 1", line_of(std::vector<int>(32, 50)) + pulse_line(16), first32_at(50),
         {{"pulses", "1"}, {"mean", per_channel({}, "50.000")}, {"rms", per_channel({}, "0.000")}}},
        {"15 values 0 or 1 make no pulse line", line_of(std::vector<int>(32, 50)) + pulse_line(15),
         first32_at(50, 15), {{"pulses", "0"}, {"mean", per_channel(means_without_pulse(15), "50.000")}}},
        // The minimum 1 is not above 1: only the bits show bit 0 stuck at 1.
        {"bit 0 stuck at 1", "1 7\n3 6\n", {{0, {1, 3}}, {1, {6, 7}}},
         {{"stuck", channels_from(1)},
          {"always1", per_channel({{0, "0000000001"}, {1, "0000000110"}}, "-")},
          {"always0", per_channel({{0, "1111111100"}, {1, "1111111000"}}, "-")}}},
        {"a bit stuck at 0", "0\n1007\n", {{0, {0, 1007}}},
         {{"always1", per_channel({{0, zero_bits}}, "-")}, {"always0", per_channel({{0, "0000010000"}}, "-")}}},
        {"signs", "-5 +5 +-5 --5 - 5-3\n", {{0, {-5, -1}}, {1, {5, 5}}, {2, {0, 0}}, {3, {0, 0}}, {4, {0, 0}}, {5, {5, 5}}},
         {{"malformed", "1"}}},
        {"a sign and digits are a number", "-5 +5 -0 +007\n", {{0, {-5, -1}}, {1, {5, 5}}, {2, {0, 0}}, {3, {7, 7}}},
         {{"malformed", "0"}, {"short", "1"}, {"mean", per_channel({{1, "5.000"}, {2, "0.000"}, {3, "7.000"}}, "nan")}}},
        {"letters", "12abc abc 0x1F \xe9" "7\n", {{0, {12, 12}}, {1, {0, 0}}, {2, {0, 0}}, {3, {0, 0}}},
         {{"malformed", "1"}}},
        {"NUL ends the tokens of its line", std::string("5 6\0 7 8\n9\n", 11), {{0, {5, 9}}, {1, {6, 6}}},
         {{"malformed", "1"}, {"short", "1"}}},
        {"only 32 columns", line_of(forty), first32},
        {"saturation", "2147483648 -2147483649 99999999999999999999 -2147483648\n",
         {{0, {1024, INT_MAX}}, {1, {INT_MIN, -1}}, {2, {1024, INT_MAX}}, {3, {INT_MIN, -1}}}},
        {"out of ADC range", "-5 2000 1023\n-7 1500 0\n", {{0, {-7, -1}}, {1, {1024, 2000}}, {2, {0, 1023}}},
         {{"always1", per_channel({{2, zero_bits}}, "-")}, {"always0", per_channel({{2, zero_bits}}, "-")}}},
        {"191 characters", longest, {{0, {1, 1}}, {1, {2, 2}}}},
        {"text like a magic number", "BZh9 5 6\nBZh\n", {{0, {0, 0}}, {1, {5, 5}}, {2, {6, 6}}}},
    };
    for (const Packer* packer : formats_for(kTool)) {
        for (const ScanCase& c : cases) {
            const std::string name = c.name + (", " + format_name(packer));
            const Outcome outcome = analyse(c.samples, packer);
            EXPECT_EQ(outcome.status, 0) << name;
            EXPECT_EQ(outcome.err, "") << name;
            EXPECT_EQ(parse_log(slurp(kLog)), c.expected) << name;
            std::filesystem::remove(kLog);
            const Outcome surveyed = run(kSurvey, {"--no-header", "s.txt"});
            EXPECT_EQ(surveyed.status, 0) << name;
            EXPECT_EQ(surveyed.err, "") << name;
            EXPECT_EQ(surveyed.out, modelled_row("s.txt", c.samples)) << name;
            const auto columns = columns_of(surveyed.out);
            for (const auto& [column, value] : c.survey) EXPECT_EQ(columns.at(column), value) << name << ", " << column;
        }
    }
}

struct StopCase {
    const char* name;
    std::string samples;
    int status;
    std::string err;
    Ranges expected;
    std::map<std::string, std::string> survey;  // columns of the survey's row, checked by hand
};

TEST_F(Tavrin, LongLinesAndUnfinishedLastLines)
{
    const std::string line192 = std::string(191, ' ') + "1";
    const std::vector<StopCase> cases = {
        {"192 characters stop the scan", "7 8\n" + line192 + "\n2 2\n", 1,
         "tavrin: s.txt: line 2: more than 191 characters, scan stopped\n", {{0, {7, 7}}, {1, {8, 8}}},
         {{"lines", "1"}, {"unfinished", "0"}}},
        {"long last line without newline", line192, 1,
         "tavrin: s.txt: line 1: more than 191 characters, scan stopped\n", {}, {{"lines", "0"}, {"unfinished", "0"}}},
        {"no newline at the end", "5 6\n7 8", 0,
         "tavrin: s.txt: line 2: no newline at the end, line ignored\n", {{0, {5, 5}}, {1, {6, 6}}},
         {{"lines", "1"}, {"unfinished", "1"}}},
        {"191 characters without newline", line192.substr(1), 0,
         "tavrin: s.txt: line 1: no newline at the end, line ignored\n", {}, {{"lines", "0"}, {"unfinished", "1"}}},
    };
    for (const Packer* packer : formats_for(kTool)) {
        for (const StopCase& c : cases) {
            const std::string name = c.name + (", " + format_name(packer));
            const Outcome outcome = analyse(c.samples, packer);
            EXPECT_EQ(outcome.status, c.status) << name;
            EXPECT_EQ(outcome.err, c.err) << name;
            EXPECT_EQ(parse_log(slurp(kLog)), c.expected) << name;
            std::filesystem::remove(kLog);
            const Outcome surveyed = run(kSurvey, {"--no-header", "s.txt"});
            EXPECT_EQ(surveyed.status, c.status) << name;
            EXPECT_EQ(surveyed.err, as_survey(c.err)) << name;
            EXPECT_EQ(surveyed.out, modelled_row("s.txt", c.samples, c.status)) << name;
            const auto columns = columns_of(surveyed.out);
            for (const auto& [column, value] : c.survey) EXPECT_EQ(columns.at(column), value) << name << ", " << column;
        }
    }
}

const std::map<std::string, std::size_t> kMagicLength = {{"gzip", 2}, {"bzip2", 10}, {"xz", 6}, {"zstd", 4}};
// Where a byte of the data's check lies, counted from the end of the file.
const std::map<std::string, std::size_t> kCheckFromEnd = {{"gzip", 8}, {"bzip2", 3}, {"xz", 21}, {"zstd", 1}};

struct CodecCase {
    const char* name;
    std::string (*file)(const Packer&);  // the file's bytes, made with the packer
    int status;
    std::string err;  // "@" stands for the format's name, "%" for its library's
    std::optional<Ranges> expected;  // none where a codec may check before or after its text comes out
    std::set<std::string> only = {};  // the formats that the case is about, if not all
    bool stand_in = false;  // the codec's library is a stand-in that lacks the codec's functions
};

const std::map<std::string, std::string> kLibraries = {
    {"gzip", "libz.so.1"}, {"bzip2", "libbz2.so.1.0"}, {"xz", "liblzma.so.5"}, {"zstd", "libzstd.so.1"}};

// Zero bytes that pad a file, as on a tape: more than the reader's 64 KiB
// buffer holds, and in fours, as xz's padding between streams is.
const std::string kZeroPadding(3 * 65536 + 4, '\0');

// A zstd skippable frame, as pzstd writes one first: its magic number,
// whose first byte is any of 0x50 to 0x5f, the size of its content and
// the content.
std::string skippable_frame(unsigned char first)
{
    return static_cast<char>(first) + std::string("\x2a\x4d\x18\x04\0\0\0" "size", 11);
}

// More recordings than the loader has link namespaces (16).
constexpr int kMoreThanNamespaces = 20;

// With the codec's library a stand-in that loads but lacks the codec's
// functions, the survey reports each of more such recordings (s.txt, again
// and again) than the loader has link namespaces, and then still reads one
// in another format. The stand-in is on the survey's library path alone:
// the survey needs the C library alone in every build, where the
// framework's libraries might need the real one.
void survey_with_stand_in(const Packer& packer, const std::string& err, const std::string& name)
{
    if (!std::string(TAVRIN_EMULATOR).empty()) {
        std::cout << "skipped: " << name << ", since the stand-in is built for this processor\n";
        return;
    }
    const std::string library = "stand-in/" + kLibraries.at(packer.format);
    const Outcome made = run({"sh"}, {"-c", "mkdir -p stand-in && c++ -shared -x c++ /dev/null -o " + library});
    ASSERT_EQ(made.status, 0) << name << ": " << made.err;
    const Packer& other = packers()[(&packer - packers().data() + 1) % packers().size()];
    write_file("other.txt", packed("5 6\n", other));
    std::vector<std::string> args = {"--no-header"};
    args.insert(args.end(), kMoreThanNamespaces, "s.txt");
    args.push_back("other.txt");
    Command survey = {"env", "LD_LIBRARY_PATH=stand-in"};
    survey.insert(survey.end(), kSurvey.begin(), kSurvey.end());
    const Outcome surveyed = run(survey, args);
    std::string errors, rows;
    for (int n = 0; n < kMoreThanNamespaces; ++n) {
        errors += as_survey(err);
        rows += modelled_row("s.txt", "", 1);
    }
    EXPECT_EQ(surveyed.status, 1) << name;
    EXPECT_EQ(surveyed.err, errors) << name;
    EXPECT_EQ(surveyed.out, rows + modelled_row("other.txt", "5 6\n")) << name;
    std::filesystem::remove_all("stand-in");
}

// CRC-32 as xz checks its headers with.
std::uint32_t crc32(const std::string& bytes)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = crc >> 1 ^ (crc & 1 ? 0xEDB88320u : 0);
    }
    return ~crc;
}

// An xz file whose first block asks for a dictionary of 1.5 GiB, with its
// header's check made anew: the LZMA2 filter's property byte follows the
// block header's size byte, flags, optional sizes, filter ID and property size.
std::string with_huge_dictionary(std::string xz)
{
    constexpr std::size_t kBlock = 12;  // after the stream header
    constexpr char kDictionary1536MiB = 37;
    const std::size_t header_size = (static_cast<unsigned char>(xz[kBlock]) + 1) * 4;
    const unsigned char flags = xz[kBlock + 1];
    std::size_t at = kBlock + 2;
    for (const unsigned char size_bit : {0x40, 0x80}) {  // compressed and uncompressed sizes
        if (flags & size_bit) while (xz[at++] & 0x80) {}
    }
    xz[at + 2] = kDictionary1536MiB;
    const std::uint32_t check = crc32(xz.substr(kBlock, header_size - 4));
    for (int i = 0; i < 4; ++i) xz[kBlock + header_size - 4 + i] = static_cast<char>(check >> 8 * i);
    return xz;
}

// What only compressed recordings have: streams one after another, and
// data that is corrupt, cut short or followed by bytes of another kind.
TEST_F(Tavrin, CompressedRecordings)
{
    const Ranges both = {{0, {5, 7}}, {1, {6, 8}}};
    const std::vector<CodecCase> cases = {
        {"streams one after another, a line across them",
         [](const Packer& p) { return packed("5 6\n7", p) + packed("", p) + packed(" 8\n", p); }, 0, "", both},
        {"magic number alone", [](const Packer& p) { return packed("", p).substr(0, kMagicLength.at(p.format)); },
         1, "tavrin: s.txt: @ data cut short\n", {}},
        {"cut short", [](const Packer& p) { const std::string b = packed("5 6\n7 8\n", p); return b.substr(0, b.size() - 1); },
         1, "tavrin: s.txt: @ data cut short\n", both},
        {"bytes after the last stream", [](const Packer& p) { return packed("5 6\n7 8\n", p) + "5 6\n"; }, 1,
         "tavrin: s.txt: bytes after the end of the @ data\n", both},
        {"corrupt", [](const Packer& p) {
             std::string b = packed("5 6\n7 8\n", p);
             b[b.size() - kCheckFromEnd.at(p.format)] ^= 0x20;
             return b;
         }, 1, "tavrin: s.txt: corrupt @ data", std::nullopt},
        {"more memory than any recording needs", [](const Packer& p) { return with_huge_dictionary(packed("5 6\n", p)); },
         1, "tavrin: s.txt: xz data needs more than 1 GiB of memory\n", Ranges{}, {"xz"}},
        // A valid frame whose window is above libzstd's limit, 128 MiB.
        {"a window over the library's limit",
         [](const Packer&) { return packed("5 6\n", {"zstd", "zstd -q -c --zstd=wlog=28 <"}); }, 1,
         "tavrin: s.txt: zstd data needs more than 128 MiB of memory\n", Ranges{}, {"zstd"}},
        // pzstd starts its files with a skippable frame, and such frames may
        // come between the others.
        {"skippable frames, one first", [](const Packer& p) {
             return skippable_frame(0x50) + packed("5 6\n7", p) + skippable_frame(0x5f) + packed(" 8\n", p);
         }, 0, "", both, {"zstd"}},
        {"a skippable frame alone", [](const Packer&) { return skippable_frame(0x5f); }, 0, "", Ranges{}, {"zstd"}},
        {"a skippable frame, then bytes of another kind", [](const Packer&) { return skippable_frame(0x50) + "5 6\n"; },
         1, "tavrin: s.txt: bytes after the end of the zstd data\n", Ranges{}, {"zstd"}},
        // Tapes and block devices pad a file's last block with zeros, which
        // gzip -dc, bzip2 -dc and xz -dc read as the end, and zstd -dc not.
        {"zero padding after the last stream", [](const Packer& p) { return packed("5 6\n7 8\n", p) + kZeroPadding; },
         0, "", both, {"gzip", "bzip2", "xz"}},
        {"zero padding after the last frame", [](const Packer& p) { return packed("5 6\n7 8\n", p) + kZeroPadding; },
         1, "tavrin: s.txt: bytes after the end of the zstd data\n", both, {"zstd"}},
        {"zero padding, then other bytes",
         [](const Packer& p) { return packed("5 6\n7 8\n", p) + kZeroPadding + "5 6\n"; }, 1,
         "tavrin: s.txt: bytes after the end of the @ data\n", both},
        // A library that loads without the codec's functions is let go
        // again: every such file would keep a link namespace, of which the
        // loader has 16, and then no codec could be loaded.
        {"its library lacking its functions, file after file", [](const Packer& p) { return packed("5 6\n", p); },
         1, "tavrin: s.txt: cannot load %\n", Ranges{}, {}, true},
    };
    for (const Packer* packer : formats_for(kTool)) {
        if (packer == nullptr) continue;
        for (const CodecCase& c : cases) {
            if (!c.only.empty() && c.only.count(packer->format) == 0) continue;
            const std::string name = c.name + (", " + packer->format);
            write_file("s.txt", c.file(*packer));
            std::string err = c.err;
            if (err.find('@') != std::string::npos) err.replace(err.find('@'), 1, packer->format);
            if (err.find('%') != std::string::npos) err.replace(err.find('%'), 1, kLibraries.at(packer->format));
            if (c.stand_in) {
                survey_with_stand_in(*packer, err, name);
                continue;
            }
            const Outcome outcome = run(kTool, {"7", "cfg", "s.txt"});
            EXPECT_EQ(outcome.status, c.status) << name;
            EXPECT_EQ(outcome.err.substr(0, err.size()), err) << name;
            EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), c.err.empty() ? 0 : 1) << name;
            const Ranges got = parse_log(slurp(kLog));
            if (c.expected) {
                EXPECT_EQ(got, *c.expected) << name;
            }
            std::filesystem::remove(kLog);
            // The survey reads it as the tool does, and says so alike.
            const Outcome surveyed = run(kSurvey, {"--no-header", "s.txt"});
            const auto columns = columns_of(surveyed.out);
            EXPECT_EQ(surveyed.status, c.status) << name;
            EXPECT_EQ(surveyed.err, as_survey(outcome.err)) << name;
            EXPECT_EQ(columns.at("status"), std::to_string(c.status)) << name;
            EXPECT_EQ(columns.at("min") + " " + columns.at("max"), range_columns(got)) << name;
        }
    }
}

struct SurveyCase {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string out;  // all of standard output, or its start where it is not rows
    std::string err;
    Child child = {};
    std::string out_path = "out";
};

// The survey's rows in the order given, with names escaped, whatever
// failed; the lists that it reads; its usage errors.
TEST_F(Tavrin, SurveyOfAnArchive)
{
    const std::map<std::string, std::string> files = {
        {"a.txt", "0 5\n"}, {"t\tb.txt", "1 2\n"}, {"n\nc.txt", "3\n"}, {"s\\d.txt", ""}};
    for (const auto& [name, samples] : files) write_file(name, samples);
    std::filesystem::create_directory("dir");
    write_file("list", std::string("a.txt\0\0s\\d.txt", 15));
    const auto row = [&files](const std::string& name) { return modelled_row(name, files.at(name)); };
    const auto rows = [&files](const std::string& kind, const std::string& name) {
        return modelled_rows(kind, name, files.at(name));
    };
    const std::string failed_row = modelled_row("none.txt", "", 1);
    const std::string usage = "Try 'tavrin-survey --help' for more information.\n";
    // A name too long for a path, and a list without NULs, which is one name.
    const std::string long_name(PATH_MAX + 1, 'x');
    write_file("long-list", "a.txt" + std::string(1, '\0') + long_name + std::string(1, '\0') + "s\\d.txt");
    write_file("no-nuls", std::string(5000, 'a') + "\n" + std::string(5000, 'b'));
    const std::string too_long = "name 2 is too long: " + long_name.substr(0, 64) + "...\n";
    const rlim_t header_and_a_half = kSurveyHeader.size() + row("a.txt").size() / 2;
    const std::vector<SurveyCase> cases = {
        {"names escaped, in the order given", {"a.txt", "t\tb.txt", "n\nc.txt", "s\\d.txt"}, 0,
         kSurveyHeader + row("a.txt") + row("t\tb.txt") + row("n\nc.txt") + row("s\\d.txt"), ""},
        {"no header", {"--no-header", "a.txt"}, 0, row("a.txt"), ""},
        {"a row for what cannot be read", {"none.txt", "dir", "a.txt"}, 1,
         kSurveyHeader + failed_row + modelled_row("dir", "", 1) + row("a.txt"),
         "tavrin-survey: none.txt: No such file or directory\ntavrin-survey: dir: Is a directory\n"},
        {"a list after the operands", {"a.txt", "--files0-from=list"}, 1,
         kSurveyHeader + row("a.txt") + row("a.txt") + row("s\\d.txt"), "tavrin-survey: list: name 2 is empty\n"},
        {"a list on standard input", {"--no-header", "--files0-from", "-"}, 1, row("a.txt") + row("s\\d.txt"),
         "tavrin-survey: -: name 2 is empty\n", {kAllOpen, RLIM_INFINITY, false, RLIM_INFINITY, "list"}},
        {"a list that cannot be read", {"--files0-from=none"}, 1, kSurveyHeader,
         "tavrin-survey: none: No such file or directory\n"},
        {"a list on a closed standard input", {"--no-header", "--files0-from=-"}, 1, "",
         "tavrin-survey: -: Bad file descriptor\n", {STDIN_FILENO}},
        {"a name too long for a path: no row, the rest read", {"--no-header", "--files0-from=long-list"}, 1,
         row("a.txt") + row("s\\d.txt"), "tavrin-survey: long-list: " + too_long},
        {"a list without NULs is one name, shown in part", {"--no-header", "--files0-from=no-nuls"}, 1, "",
         "tavrin-survey: no-nuls: name 1 is too long: " + std::string(64, 'a') + "...\n"},
        {"a list that cannot be read", {"--no-header", "a.txt", "--files0-from=dir"}, 1, row("a.txt"),
         "tavrin-survey: dir: Is a directory\n"},
        {"a row per channel", {"--rows=channels", "a.txt", "t\tb.txt"}, 0,
         kChannelHeader + rows("channels", "a.txt") + rows("channels", "t\tb.txt"), ""},
        {"a row per channel and code", {"--rows=codes", "--no-header", "a.txt", "n\nc.txt", "s\\d.txt"}, 0,
         rows("codes", "a.txt") + rows("codes", "n\nc.txt"), ""},
        {"rows of a kind there is none of", {"--rows=files", "a.txt"}, 2, "",
         "tavrin-survey: invalid argument 'files' for '--rows': recordings, channels or codes\n" + usage},
        // The row that the limit cut is cut back: the output ends with its
        // last whole row.
        {"standard output reaching a size limit", {"a.txt", "a.txt"}, 1, kSurveyHeader,
         "tavrin-survey: standard output: File too large\n", {kAllOpen, header_and_a_half}},
        // A limit that standard error reaches first, while no row is being
        // written: its message is cut at the limit, and the survey goes on
        // to fail on its row rather than die of the signal.
        {"standard error reaching a size limit", {"--no-header", "none.txt"}, 1, "",
         "tavrin-survey: none.", {kAllOpen, 20}},
        {"nothing to survey", {}, 2, "", "Usage: tavrin-survey [--no-header] [--rows=KIND] [--files0-from=F] [FILE...]\n" + usage},
        {"an unknown option", {"--bogus", "a.txt"}, 2, "", "tavrin-survey: unrecognized option '--bogus'\n" + usage},
        {"an unknown short option", {"a.txt", "-xv"}, 2, "", "tavrin-survey: invalid option -- 'x'\n" + usage},
        {"an option given an argument", {"--no-header=1", "a.txt"}, 2, "",
         "tavrin-survey: option '--no-header' doesn't allow an argument\n" + usage},
        {"a list not named", {"a.txt", "--files0-from"}, 2, "",
         "tavrin-survey: option '--files0-from' requires an argument\n" + usage},
        {"help", {"--help"}, 0, "Usage: tavrin-survey [--no-header]", ""},
        {"version", {"--version"}, 0, "tavrin-survey (tavrin) ", ""},
        {"standard output on a full disk, said once", {"a.txt", "t\tb.txt"}, 1, "",
         "tavrin-survey: standard output: No space left on device\n", {}, "/dev/full"},
    };
    for (const SurveyCase& c : cases) {
        const Outcome outcome = finish(start(kSurvey, c.args, c.out_path, c.child), c.out_path);
        EXPECT_EQ(outcome.status, c.status) << c.name;
        const bool rows = c.out.empty() || c.out.back() == '\n';
        EXPECT_EQ(rows ? outcome.out : outcome.out.substr(0, c.out.size()), c.out) << c.name;
        EXPECT_EQ(outcome.err, c.err) << c.name;
    }
}

// Surveys that share a pipe, as xargs -P runs them, never mix their rows:
// each write carries whole rows, at most PIPE_BUF bytes of them.
TEST_F(Tavrin, SurveysSharingAPipeWriteWholeRows)
{
    constexpr int kRecordings = 1000;
    std::string list;
    for (int n = 0; n < kRecordings; ++n) {
        const std::string name = "r" + std::to_string(n) + ".txt";
        write_file(name, std::to_string(n % 7) + " 5\n");
        list += name + '\0';
    }
    write_file("list", list);
    std::string command;
    for (const std::string& word : kSurvey) command += " '" + word + "'";
    for (const std::string kind : {"recordings", "channels"}) {
        const Outcome outcome = run(
            {"sh"}, {"-c", "xargs -0 -P 2 -n 25" + command + " --no-header --rows=" + kind + " < list | cat"});
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        std::map<std::string, std::string> rows;  // by recording, in the order they came
        std::istringstream in(outcome.out);
        for (std::string line; std::getline(in, line);) rows[line.substr(0, line.find('\t'))] += line + "\n";
        for (const auto& [name, got] : rows) {
            const std::string expected =
                kind == "channels" ? modelled_rows(kind, name, slurp(name)) : modelled_row(name, slurp(name));
            EXPECT_EQ(got, expected) << kind << ": a mixed row";
        }
        EXPECT_EQ(rows.size(), static_cast<std::size_t>(kRecordings)) << kind;
    }
}

// The columns of a row, tab-separated.
std::vector<std::string> fields_of(const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
    if (!line.empty() && line.back() == '\t') fields.push_back("");
    return fields;
}

// A campaign made from the data model, faults put in only where the
// recordings show them: the survey names every fault put in, on its
// channel with its bits, and no other; and its three kinds of rows agree
// with one another.
TEST_F(Tavrin, SurveyNamesTheFaultsPutIn)
{
    const Outcome made = run({MAKE_CAMPAIGN_EXE}, {"--seed=31", "--chips=40", "--faulty=0.5", "campaign"});
    ASSERT_EQ(made.status, 0) << made.err;
    std::map<std::string, std::string> truth;  // by file: status, unfinished, malformed, short, faults
    std::string list;
    std::istringstream truth_rows(slurp("campaign/truth.tsv"));
    std::string line;
    std::getline(truth_rows, line);
    while (std::getline(truth_rows, line)) {
        const std::string file = line.substr(0, line.find('\t'));
        truth[file] = line.substr(file.size() + 1);
        list += file + '\0';
    }
    write_file("list", list);
    const Outcome surveyed = run(kSurvey, {"--no-header", "--files0-from=list"});
    int faulty = 0, findings = 0;
    std::istringstream rows(surveyed.out);
    while (std::getline(rows, line)) {
        const std::vector<std::string> f = fields_of(line);
        ASSERT_EQ(f.size(), 17u) << line;
        const std::string found = f[1] + "\t" + f[3] + "\t" + f[11] + "\t" + f[12] + "\t" + f[16];
        EXPECT_EQ(found, truth[f[0]]) << f[0];
        faulty += truth[f[0]] != "0\t0\t0\t0\t";
        findings += !f[16].empty();
    }
    std::cout << truth.size() << " recordings, " << faulty << " faulty, " << findings << " with named faults\n";
    EXPECT_EQ(surveyed.status, 0);
    // Each channel row names what the recording row names for it; the code
    // rows of a channel add up to its codes.
    const Outcome channels = run(kSurvey, {"--no-header", "--rows=channels", "--files0-from=list"});
    const Outcome codes = run(kSurvey, {"--no-header", "--rows=codes", "--files0-from=list"});
    std::map<std::string, std::string> named;  // file -> the faults column rebuilt from channel rows
    std::map<std::pair<std::string, std::string>, long long> counted;  // (file, channel) -> codes
    std::istringstream channel_rows(channels.out);
    while (std::getline(channel_rows, line)) {
        const std::vector<std::string> f = fields_of(line);
        ASSERT_EQ(f.size(), 11u) << line;
        counted[{f[0], f[1]}] += std::stoll(f[3]);
        if (f[10] == "ok") continue;
        std::istringstream names(f[10]);
        for (std::string name; std::getline(names, name, ',');) {
            named[f[0]] += (named[f[0]].empty() ? "" : ",") + f[1] + ":" + name;
        }
    }
    for (const auto& [file, row] : truth) EXPECT_EQ(named[file], row.substr(row.rfind('\t') + 1)) << file;
    std::istringstream code_rows(codes.out);
    while (std::getline(code_rows, line)) {
        const std::vector<std::string> f = fields_of(line);
        ASSERT_EQ(f.size(), 4u) << line;
        counted[{f[0], f[1]}] -= std::stoll(f[3]);
    }
    for (const auto& [channel, left] : counted) EXPECT_EQ(left, 0) << channel.first << ", channel " << channel.second;
}

TEST_F(Tavrin, ReportFormat)
{
    auto line_with = [](const std::map<int, int>& values, int columns = 32) {
        std::vector<int> line(columns, 0);
        for (const auto& [chan, value] : values) line[chan] = value;
        return line_of(line);
    };
    const std::string head = " reading file s.txt\n writing file ./" + kLog + "\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {line_with({{5, 1}, {6, -3}}), ""},
        {line_with({{3, 5}}), " nstuck 1\n stuck chan 3 min dec 5 hex 5 bin 0000000101\n"},
        {line_with({{4, 2}, {9, 1}, {31, 1023}}),
         " nstuck 2\n stuck chan 4 min dec 2 hex 2 bin 0000000010\n"
         " stuck chan 31 min dec 1023 hex 3ff bin 1111111111\n"},
        {line_with({}, 31), " nstuck 1\n stuck chan 31 min dec 1024 hex 400 bin 0000000000\n"},
    };
    for (const auto& [samples, report] : cases) {
        EXPECT_EQ(analyse(samples).out, head + report) << samples;
    }
}

TEST_F(Tavrin, LogRowsAreFixedWidth)
{
    analyse("0 5 -7 1023 2147483647 -2147483648\n5 7\n");
    const std::string rows = "Ch   Min   Max\n 0     0     5\n 1     5     7\n 2    -7    -1\n"
                             " 3  1023  1023\n 4  1024  2147483647\n 5  -2147483648    -1\n"
                             " 6  1024    -1\n";
    EXPECT_EQ(slurp(kLog).substr(0, rows.size()), rows);
}

// Also with the stack that a line-at-a-time reader needs, 16 KiB, in every
// format: where the stack starts varies from run to run, so each runs
// many times. An emulator needs more than that for itself, and the
// framework's start-up (its TROOT constructor, before main) needs about
// 24 KiB: at 16 to 19 KiB it crashed in half of 200 runs, at 20 to 22 KiB
// in 4 %, at 24 KiB and more in none of 500.
TEST_F(Tavrin, TheExampleRecordingHasOneStuckChannel)
{
    constexpr rlim_t kReaderStack = 16 * 1024;
    constexpr rlim_t kFrameworkStack = 32 * 1024;
    constexpr int kSmallStackRuns = 40;
    const std::string example = slurp(TAVRIN_EXAMPLE);
    rlim_t small_stack = kReaderStack;
    if (!std::string(TAVRIN_EMULATOR).empty() || TAVRIN_SANITIZED) {
        std::cout << "skipped: a small stack, which the emulator or the sanitizers' runtime does not run with\n";
        small_stack = RLIM_INFINITY;
    } else if (tools_under_test().front().framework) {
        std::cout << "skipped: a 16 KiB stack, below the 24 KiB that the framework's start-up needs; "
                     "run with 32 KiB\n";
        small_stack = kFrameworkStack;
    }
    for (const Packer* packer : formats_for(kTool)) {
        write_file("171741_adc.txt", packer == nullptr ? example : packed(example, *packer));
        for (int n = 0; n <= (small_stack == RLIM_INFINITY ? 0 : kSmallStackRuns); ++n) {
            const rlim_t stack = n == 0 ? RLIM_INFINITY : small_stack;
            const std::string context = format_name(packer) + ", stack " + std::to_string(stack);
            const Outcome outcome = finish(start(kTool, {"171741", "20mV_delay-all", "./171741_adc.txt"},
                                                 "out", {kAllOpen, RLIM_INFINITY, false, stack}));
            ASSERT_EQ(outcome.status, 0) << context;
            EXPECT_EQ(outcome.out, " reading file ./171741_adc.txt\n"
                                   " writing file ./zelquist_sampa171741_20mV_delay-all.log\n"
                                   " nstuck 1\n stuck chan 12 min dec 6 hex 6 bin 0000000110\n")
                << context;
            EXPECT_EQ(outcome.err, "") << context;
        }
    }
}

// Why the tool's system calls cannot be traced here, or nothing.
std::string why_not_traced()
{
    if (!std::string(TAVRIN_EMULATOR).empty()) return "strace does not trace under qemu-user";
    if (TAVRIN_SANITIZED) return "the sanitizers' runtime does not run under strace";
    if (run({"sh"}, {"-c", "strace -qq -o /dev/null true"}).status != 0) return "strace is missing or cannot trace here";
    return "";
}

// The tool under strace, which follows what it starts (its threads too)
// and writes its trace to trace_path, with the given options, such as
// failures to inject.
Command under_strace(const std::vector<std::string>& options, const std::string& trace_path = "/dev/null")
{
    Command traced = {"strace", "-f", "-qq", "-o", trace_path};
    traced.insert(traced.end(), options.begin(), options.end());
    traced.insert(traced.end(), kTool.begin(), kTool.end());
    return traced;
}

Command traced_tool()
{
    return under_strace({}, "trace.txt");
}

// What the log is when a run starts: a file, a FIFO with or without a
// reader, one whose reader has stopped reading with the pipe full, or a
// file that another program holds a lock on.
enum LogKind { kRegularLog, kFifoLog, kFifoLogWithReader, kFifoLogStalled, kLockedLog, kSharedLockedLog };

struct FailureCase {
    const char* name;
    std::vector<std::string> args;
    std::string out_path;  // where standard output goes; "" for none, with a pipe
    std::string err;
    std::string log;   // the log the run should leave at kLog
    bool reported;     // whether the stuck-channel report reaches standard output
    int status = 1;
    Child child = {};
    std::string log_before = "";
    off_t log_hole = 0;  // a hole of this size in front of log_before
    LogKind log_kind = kRegularLog;
    bool rival = false;  // another run, without limits, appends to the same log
    std::vector<std::string> inject = {};  // failures that strace injects into the calls on the log
    int signal = 0;      // sent once the run waits to write its block
};

bool locked(const FailureCase& c)
{
    return c.log_kind == kLockedLog || c.log_kind == kSharedLockedLog;
}

// Sets up kLog for a case; returns the descriptor of the FIFO's reader or
// of the lock's holder, or -1.
int prepare_log(const FailureCase& c)
{
    if (c.log_kind == kFifoLog || c.log_kind == kFifoLogWithReader || c.log_kind == kFifoLogStalled) {
        EXPECT_EQ(mkfifo(kLog.c_str(), 0600), 0);
        if (c.log_kind == kFifoLog) return -1;
        const int reader = open(kLog.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (c.log_kind == kFifoLogStalled) {
            const int filler = open(kLog.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            const std::string fill(4096, '#');
            while (write(filler, fill.data(), fill.size()) > 0) {
            }
            close(filler);
        }
        return reader;
    }
    if (c.log_before.empty() && c.log_hole == 0 && !locked(c)) return -1;
    write_file(kLog, "");
    std::filesystem::resize_file(kLog, c.log_hole);
    std::ofstream(kLog, std::ios::binary | std::ios::app) << c.log_before;
    if (!locked(c)) return -1;
    const int holder = open(kLog.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(flock(holder, c.log_kind == kLockedLog ? LOCK_EX : LOCK_SH), 0);
    return holder;
}

// Whether the process waits for a file lock, as /proc/locks shows it.
bool waits_for_lock(pid_t pid)
{
    std::ifstream locks("/proc/locks");
    const std::string waiter = " " + std::to_string(pid) + " ";
    for (std::string line; std::getline(locks, line);) {
        if (line.find("->") != std::string::npos && line.find(waiter) != std::string::npos) return true;
    }
    return false;
}

// Whether a started run has ended; it is left for finish to collect.
bool ended(pid_t pid)
{
    siginfo_t info{};
    return waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// Waits until the run waits for a lock on its log; false when it ends, or
// its deadline passes, without ever waiting.
bool blocks_on_lock(pid_t pid)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunDeadlineSeconds);
    while (!waits_for_lock(pid)) {
        if (ended(pid) || std::chrono::steady_clock::now() >= deadline) return false;
        usleep(20);
    }
    return true;
}

// Lets the runs go once each of them waits for the lock that the test
// holds on the log; until then the log must stay as it was.
void release_when_waiting(const FailureCase& c, const std::vector<pid_t>& runs, int holder)
{
    for (const pid_t pid : runs) EXPECT_TRUE(blocks_on_lock(pid)) << c.name << ": a run did not wait for the lock";
    EXPECT_EQ(slurp(kLog), c.log_before) << c.name << ": the log changed while another program held its lock";
    close(holder);
}

// Waits until the run sleeps in a write to a full pipe, as its wait
// channel shows; false when it ends, or its deadline passes, first.
bool blocks_in_pipe_write(pid_t pid)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunDeadlineSeconds);
    while (slurp("/proc/" + std::to_string(pid) + "/wchan").find("pipe_write") == std::string::npos) {
        if (ended(pid) || std::chrono::steady_clock::now() >= deadline) return false;
        usleep(100);
    }
    return true;
}

// Waits until the log has grown past its size before the run, the run's
// partial block in it.
void wait_for_part_of_block(const FailureCase& c)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kRunDeadlineSeconds);
    while (std::filesystem::file_size(kLog) <= c.log_before.size()) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << c.name << ": the run wrote nothing";
        usleep(100);
    }
}

// What the run left in kLog after the hole, or what the FIFO's reader got
// after what filled the pipe.
std::string leftover_log(const FailureCase& c, int reader)
{
    if (c.log_kind == kFifoLogWithReader || c.log_kind == kFifoLogStalled) {
        std::string got;
        char chunk[4096];
        for (ssize_t n; (n = read(reader, chunk, sizeof chunk)) > 0;) got.append(chunk, n);
        close(reader);
        return got.substr(std::min(got.size(), got.find_first_not_of('#')));
    }
    if (!std::filesystem::is_regular_file(kLog)) return "";
    EXPECT_GE(std::filesystem::file_size(kLog), static_cast<std::uintmax_t>(c.log_hole)) << c.name;
    std::ifstream in(kLog, std::ios::binary);
    in.seekg(c.log_hole);
    std::ostringstream rest;
    rest << in.rdbuf();
    return rest.str();
}

TEST_F(Tavrin, FailuresAreReportedAndTheRestStillDone)
{
    std::filesystem::create_directory("dir");
    std::filesystem::create_directory("full");
    std::filesystem::create_symlink("/dev/full", "full/" + kLog);
    write_file("s.txt", "0 5\n");
    write_file("full/s.txt", "0 5\n");
    write_file("open.txt", "0 5\n7");
    write_file("long.txt", "0 5\n" + std::string(192, '7') + "\n");
    std::string no_samples = kEmptyLog;
    std::string samples = kEmptyLog;
    samples.replace(samples.find(" 0  1024    -1"), 14, " 0     0     0");
    samples.replace(samples.find(" 1  1024    -1"), 14, " 1     5     5");
    const std::string open_end = "tavrin: ./open.txt: line 2: no newline at the end, line ignored\n";
    const std::string too_long = "tavrin: ./long.txt: line 2: more than 191 characters, scan stopped\n";
    const std::string closed_out = "tavrin: standard output: Bad file descriptor\n";
    const std::string too_large = "tavrin: ./" + kLog + ": File too large\n";
    const std::string left_behind =
        "tavrin: ./" + kLog + ": part of a block left in the log: more was appended after it\n";
    const rlim_t block = samples.size();  // standard output is unlimited /dev/null below
    const off_t kOver2GiB = (off_t{1} << 31) + 100;
    const std::vector<FailureCase> cases = {
        {"missing samples", {"7", "cfg", "./none.txt"}, "out",
         "tavrin: ./none.txt: No such file or directory\n", no_samples, true},
        {"samples are a directory", {"7", "cfg", "./dir"}, "out", "tavrin: ./dir: Is a directory\n",
         no_samples, true},
        {"log directory missing", {"7", "cfg/x", "./s.txt"}, "out",
         "tavrin: ./zelquist_sampa7_cfg/x.log: No such file or directory\n", "", true},
        {"log on a full disk", {"7", "cfg", "full/s.txt"}, "out",
         "tavrin: full/zelquist_sampa7_cfg.log: No space left on device\n", "", true},
        {"standard output on a full disk", {"7", "cfg", "./s.txt"}, "/dev/full",
         "tavrin: standard output: No space left on device\n", samples, false},
        {"standard output's reader gone", {"7", "cfg", "./s.txt"}, "",
         "tavrin: standard output: Broken pipe\n", samples, false, 1, {kAllOpen, RLIM_INFINITY, true}},
        {"standard input closed", {"7", "cfg", "./open.txt"}, "out", open_end, samples, true, 0, {0}},
        {"standard input closed, long line", {"7", "cfg", "./long.txt"}, "out", too_long, samples, true,
         1, {0}},
        {"standard output closed", {"7", "cfg", "./open.txt"}, "out", open_end + closed_out, samples,
         false, 1, {1}},
        {"standard output closed, long line", {"7", "cfg", "./long.txt"}, "out", too_long + closed_out,
         samples, false, 1, {1}},
        {"standard error closed", {"7", "cfg", "./open.txt"}, "out", "", samples, true, 0, {2}},
        {"standard error closed, long line", {"7", "cfg", "./long.txt"}, "out", "", samples, true, 1,
         {2}},
        {"size limit inside the block, empty log", {"7", "cfg", "./s.txt"}, "/dev/null", too_large, "", false,
         1, {kAllOpen, block / 2}},
        {"size limit inside the block, one block before", {"7", "cfg", "./s.txt"}, "/dev/null", too_large,
         samples, false, 1, {kAllOpen, block + block / 2}, samples},
        {"size limit at the log's size", {"7", "cfg", "./s.txt"}, "/dev/null", too_large, samples, false, 1,
         {kAllOpen, block}, samples},
        {"size limit with room for the block", {"7", "cfg", "./s.txt"}, "/dev/null", "", samples + samples,
         false, 0, {kAllOpen, 2 * block}, samples},
        // A 32-bit build without large-file support cannot even measure
        // such a log, and would leave the cut block in it.
        {"size limit inside the block, log over 2 GiB", {"7", "cfg", "./s.txt"}, "/dev/null", too_large,
         samples, false, 1, {kAllOpen, kOver2GiB + block + block / 2}, samples, kOver2GiB},
        {"log is a FIFO without a reader", {"7", "cfg", "./s.txt"}, "out",
         "tavrin: ./" + kLog + ": No such device or address\n", "", true, 1, {}, "", 0, kFifoLog},
        {"log is a FIFO with a reader", {"7", "cfg", "./s.txt"}, "out", "", samples, true, 0, {}, "", 0,
         kFifoLogWithReader},
        // Runs sharing a log take turns through its lock, and so does a
        // reader that holds it shared.
        {"log locked by another program", {"7", "cfg", "./s.txt"}, "out", "", samples + samples, true, 0, {},
         samples, 0, kLockedLog},
        {"log locked shared by a reader", {"7", "cfg", "./s.txt"}, "out", "", samples + samples, true, 0, {},
         samples, 0, kSharedLockedLog},
        // Without the lock, the other run could append between this run's
        // measuring the log and its cutting back, and lose its block.
        {"size limit inside the block, another run waiting", {"7", "cfg", "./s.txt"}, "/dev/null", too_large,
         samples + samples, false, 1, {kAllOpen, block + block / 2}, samples, 0, kLockedLog, true},
        // A run stops at once, having written nothing to a FIFO whose
        // reader has stopped reading: a FIFO takes the block whole or not.
        {"log is a FIFO whose reader stopped reading, the run stopped", {"7", "cfg", "./s.txt"}, "out", "", "",
         false, 128 + SIGTERM, {}, "", 0, kFifoLogStalled, false, {}, SIGTERM},
        // Where no lock can be had (NFS without a lock manager), a run still
        // appends, and still cuts back its own part of a block, but only
        // while nothing follows it in the log.
        {"lock not available", {"7", "cfg", "./s.txt"}, "out", "", samples + samples, true, 0, {}, samples, 0,
         kRegularLog, false, {"flock:error=ENOLCK"}},
        {"lock not available, size limit inside the block", {"7", "cfg", "./s.txt"}, "/dev/null", too_large,
         samples, false, 1, {kAllOpen, block + block / 2}, samples, 0, kRegularLog, false, {"flock:error=ENOLCK"}},
        {"lock not available, size limit inside the block, another run appends meanwhile", {"7", "cfg", "./s.txt"},
         "/dev/null", left_behind + too_large, samples + samples.substr(0, block / 2) + samples, false, 1,
         {kAllOpen, block + block / 2}, samples, 0, kRegularLog, true,
         {"flock:error=ENOLCK", "write:delay_exit=" + std::to_string(kRunDeadlineSeconds * 50000) + ":when=1"}},
        // A cut-back that fails, or cannot see where the log ends, leaves
        // the part of the block, and says so.
        {"size limit inside the block, the cut-back fails", {"7", "cfg", "./s.txt"}, "/dev/null",
         "tavrin: ./" + kLog + ": Input/output error\n" + too_large, samples + samples.substr(0, block / 2), false,
         1, {kAllOpen, block + block / 2}, samples, 0, kRegularLog, false, {"ftruncate:error=EIO"}},
        {"size limit inside the block, the log cannot be measured", {"7", "cfg", "./s.txt"}, "/dev/null",
         "tavrin: ./" + kLog + ": Input/output error\n" + too_large, samples + samples.substr(0, block / 2), false,
         1, {kAllOpen, block + block / 2}, samples, 0, kRegularLog, false, {"newfstatat:error=EIO:when=2"}},
        // Signals stay held until the cut-back is done: a SIGTERM that comes
        // as it begins, at its lseek, ends the run once the log is as it was.
        // (At the ftruncate it would come too late to tell.)
        {"size limit inside the block, a signal as the cut-back begins", {"7", "cfg", "./s.txt"}, "/dev/null", "",
         samples, false, 128 + SIGTERM, {kAllOpen, block + block / 2}, samples, 0, kRegularLog, false,
         {"lseek:signal=SIGTERM"}},
    };
    const std::string untraced = why_not_traced();
    for (const FailureCase& c : cases) {
        if (!c.inject.empty() && !untraced.empty()) {
            std::cout << "skipped: " << c.name << ", since " << untraced << "\n";
            continue;
        }
        const int held = prepare_log(c);
        // The injections go into the calls on the log alone, counted there.
        std::vector<std::string> options = {"-P", std::filesystem::absolute(kLog).string()};
        for (const std::string& failure : c.inject) options.insert(options.end(), {"-e", "inject=" + failure});
        const Command command = c.inject.empty() ? kTool : under_strace(options);
        std::vector<pid_t> runs = {start(command, c.args, c.out_path, c.child)};
        // Without the lock, the other run comes once this one has written
        // part of its block.
        if (c.rival && !locked(c)) wait_for_part_of_block(c);
        if (c.rival) runs.push_back(start(kTool, c.args, "/dev/null", {}, "rival.err"));
        if (locked(c)) release_when_waiting(c, runs, held);
        if (c.signal != 0) {
            EXPECT_TRUE(blocks_in_pipe_write(runs[0])) << c.name << ": the run did not wait to write";
            kill(runs[0], c.signal);
        }
        const Outcome outcome = finish(runs[0], c.out_path);
        if (c.rival) {
            const Outcome rival = finish(runs[1], "/dev/null");
            EXPECT_EQ(rival.status, 0) << c.name << ", the other run: " << rival.err;
        }
        EXPECT_EQ(outcome.status, c.status) << c.name;
        EXPECT_EQ(outcome.err, c.err) << c.name;
        EXPECT_EQ(leftover_log(c, held), c.log) << c.name;
        EXPECT_EQ(outcome.out.find(" nstuck ") != std::string::npos, c.reported) << c.name;
        std::filesystem::remove(kLog);
    }
}

// Whether text is one whole block of the range log: the header and 32 rows.
bool whole_block(const std::string& text)
{
    return block_of(parse_log(text)) == text;
}

// One system call of a traced run: its name, which occurrence of that name
// it is in its thread (strace counts injections per thread), its first
// argument and its result, and whether the
// tool made it rather than a library's initialiser.
struct Call {
    std::string name;
    int occurrence;
    std::string first_argument;
    long result;
    std::string line;  // as strace shows it
    bool own;
};

// Reads the trace of strace -f -o and gives its calls, with their
// occurrences counted from the start of each thread; those of the dynamic loader, which
// come before the tool's first own call, are left out unless asked for.
// The tool's own calls are its guard's, which runs before any library's
// initialiser, from its look at standard input on, and main's, from its
// first (ignoring SIGPIPE) on. Between them the libraries' initialisers
// run, the framework's where it is linked, whose failures are not the
// tool's to handle.
std::vector<Call> traced_calls(const std::string& trace_path, bool with_loader = false)
{
    enum Part { kLoader, kGuard, kInitialisers, kMain };
    std::ifstream trace(trace_path);
    std::map<std::string, int> seen;
    std::vector<Call> calls;
    Part part = kLoader;
    for (std::string line; std::getline(trace, line);) {
        const std::size_t name_at = line.find_first_not_of(' ', line.find(' '));
        const std::size_t open = line.find('(', name_at);
        const std::size_t equals = line.rfind(" = ");
        if (name_at == std::string::npos || open == std::string::npos || equals == std::string::npos) continue;
        Call call{line.substr(name_at, open - name_at), 0, "", 0, line, false};
        call.occurrence = ++seen[line.substr(0, line.find(' ')) + " " + call.name];
        call.first_argument = line.substr(open + 1, line.find_first_of(",)", open) - open - 1);
        call.result = std::atol(line.c_str() + equals + 3);
        const auto is = [&](const char* text) { return line.compare(name_at, std::strlen(text), text) == 0; };
        if (part == kLoader && is("fcntl(0, F_GETFD)")) part = kGuard;
        if (part == kGuard && !is("fcntl(") && !is("openat(AT_FDCWD, \"/dev/null\"")) part = kInitialisers;
        if (part == kInitialisers && is("rt_sigaction(SIGPIPE, {sa_handler=SIG_IGN")) part = kMain;
        call.own = part == kGuard || part == kMain;
        if (part != kLoader || with_loader) calls.push_back(call);
    }
    return calls;
}

// Whether a traced call opens what the dynamic loader opens: its cache of
// libraries, or a library (name.so, or name.so.version).
bool opens_library(const std::string& line)
{
    const std::size_t open = line.find('"');
    const std::size_t close = line.find('"', open + 1);
    if (open == std::string::npos || close == std::string::npos) return false;
    const std::string path = line.substr(open + 1, close - open - 1);
    const std::string file = path.substr(path.rfind('/') + 1);
    const std::size_t so = file.find(".so");
    return file == "ld.so.cache" || (so != std::string::npos && (so + 3 == file.size() || file[so + 3] == '.'));
}

// The calls that hand out a new descriptor as their result.
const std::set<std::string> kDescriptorCalls = {"openat", "open", "socket", "accept", "accept4", "dup",
                                                "dup2", "dup3", "memfd_create", "eventfd2", "epoll_create1"};

// A closed standard descriptor is filled before anything in the process
// opens a file, the framework's initialisers included, which run before
// main: no call gets it but the guard's open of /dev/null and the dynamic
// loader's opens of libraries, which it closes before any code runs.
TEST_F(Tavrin, ClosedStandardDescriptorsAreFilledBeforeAnythingOpens)
{
    if (TAVRIN_SANITIZED) GTEST_SKIP() << "the sanitizers' runtime opens files of its own before anything else";
    if (const std::string why = why_not_traced(); !why.empty()) GTEST_SKIP() << why;
    write_file("s.txt", "0 5\n");
    const Command traced = traced_tool();
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        finish(start(traced, {"7", "cfg", "./s.txt"}, "out", {fd}));
        int filled = 0;
        for (const Call& call : traced_calls("trace.txt", true)) {
            if (!kDescriptorCalls.count(call.name) || call.result != fd) continue;
            const bool guard = call.line.find("\"/dev/null\"") != std::string::npos;
            const bool library = !call.own && opens_library(call.line);
            filled += guard;
            EXPECT_TRUE(guard || library) << "descriptor " << fd << " went to: " << call.line;
        }
        EXPECT_EQ(filled, 1) << "descriptor " << fd << " was not filled with /dev/null";
    }
}

// The errnos that each call of the run really returns. lseek and ftruncate
// run only to cut back a write of the log that failed part-way, which a
// file size limit makes and injection cannot: the failure table injects them.
const std::map<std::string, std::vector<std::string>> kCallErrors = {
    {"openat", {"EACCES", "EMFILE", "ENOSPC", "EROFS", "EDQUOT", "EINTR"}},
    {"read", {"EIO", "EINTR"}},
    {"pread64", {"EIO", "EINTR"}},
    {"write", {"EIO", "ENOSPC", "EDQUOT", "EFBIG", "EPIPE", "EINTR"}},
    {"newfstatat", {"EIO", "EOVERFLOW"}},
    {"fstat", {"EIO", "EOVERFLOW"}},
    {"flock", {"ENOLCK", "EINTR"}},
    {"fcntl", {"EBADF", "EINVAL"}},
    {"close", {"EIO", "EINTR"}},
    {"mmap", {"ENOMEM"}},
};

struct Injected {
    std::string failure;                // strace's inject= expression
    bool log_close;                     // the failure is the log's close
    std::string err = "";               // what the run must report, where it is known
};

// One run for each call at each errno; the log's descriptor is the first
// that an open returns. Names the calls that are not injected. For a
// compressed recording, one run more finds its codec's library missing:
// every open fails from the one with which dlopen starts to look for it.
std::vector<Injected> injections(const std::vector<Call>& calls, const Packer* packer,
                                 std::set<std::string>& not_injected)
{
    std::string log_fd;
    std::vector<Injected> runs;
    for (const Call& call : calls) {
        if (!call.own) continue;
        const std::string when = ":when=" + std::to_string(call.occurrence);
        if (call.name == "openat" && call.result >= 0 && log_fd.empty()) log_fd = std::to_string(call.result);
        const auto errors = kCallErrors.find(call.name);
        if (errors == kCallErrors.end()) {
            not_injected.insert(call.name);
            continue;
        }
        const bool of_log = call.first_argument == log_fd;
        if (packer != nullptr && call.line.find("/etc/ld.so.cache") != std::string::npos) {
            runs.push_back({"openat:error=ENOENT" + when + "+", false,
                            "tavrin: ./s.txt: cannot load " + kLibraries.at(packer->format) + "\n"});
            packer = nullptr;  // the first look alone
        }
        for (const std::string& error : errors->second) {
            runs.push_back({call.name + ":error=" + error + when, call.name == "close" && of_log});
        }
    }
    EXPECT_FALSE(log_fd.empty());
    EXPECT_EQ(packer, nullptr) << "dlopen never looked for the codec's library";
    return runs;
}

// The rules that a run with an injected failure broke. The log started as
// the block, which is also the one block that the run may add.
std::vector<std::string> broken_rules(const Outcome& outcome, const Outcome& expected, const std::string& block,
                                      bool log_close)
{
    const std::string log = slurp(kLog);
    const bool kept = log.compare(0, block.size(), block) == 0;
    const std::string added = kept ? log.substr(block.size()) : log;
    std::vector<std::string> faults;
    if (outcome.status != 0 && outcome.status != 1) faults.push_back("status " + std::to_string(outcome.status));
    if (!kept || !(added.empty() || whole_block(added))) faults.push_back("the log is harmed");
    const bool reported = outcome.status == 1 && !outcome.err.empty();
    if ((added.empty() || outcome.out != expected.out || log_close) && !reported) {
        faults.push_back("a failure passed unreported");
    }
    const bool whole = outcome.out == expected.out && added == block && outcome.err.empty();
    if (outcome.status == 0 && !whole) faults.push_back("status 0 without it all");
    return faults;
}

// No failure may pass unseen, and none may harm the range log: each system
// call that the tool makes after the loader fails in turn, at each of its
// occurrences, with each errno that such a call returns; on the example
// recording, plain and in each compressed format, whose codec's library
// the run loads.
TEST_F(Tavrin, InjectedFailuresNeverPassUnseen)
{
    if (TAVRIN_SANITIZED) GTEST_SKIP() << "the sanitizers' runtime needs system calls of its own";
    if (const std::string why = why_not_traced(); !why.empty()) GTEST_SKIP() << why;
    const std::string example = slurp(TAVRIN_EXAMPLE);
    const std::vector<std::string> args = {"7", "cfg", "./s.txt"};
    const Command traced = traced_tool();
    std::size_t all_calls = 0, all_runs = 0;
    int broken = 0;
    std::set<std::string> not_injected;
    for (const Packer* packer : formats_for(kTool)) {
        write_file("s.txt", packer == nullptr ? example : packed(example, *packer));
        std::filesystem::remove(kLog);
        const Outcome expected = run(traced, args);
        ASSERT_EQ(expected.status, 0) << expected.err;
        const std::string block = slurp(kLog);
        ASSERT_TRUE(whole_block(block));
        const std::vector<Call> calls = traced_calls("trace.txt");
        const std::vector<Injected> runs = injections(calls, packer, not_injected);
        for (const Injected& injected : runs) {
            write_file(kLog, block);
            const std::string context = format_name(packer) + ", injected: " + injected.failure;
            const Outcome outcome = run(under_strace({"-e", "inject=" + injected.failure}), args);
            const std::vector<std::string> faults = broken_rules(outcome, expected, block, injected.log_close);
            for (const std::string& fault : faults) ADD_FAILURE() << context << ": " << fault << "\n" << outcome.err;
            broken += !faults.empty();
            if (!injected.err.empty()) {  // nothing scanned, and said why
                EXPECT_EQ(outcome.status, 1) << context;
                EXPECT_EQ(outcome.err, injected.err) << context;
                EXPECT_EQ(parse_log(slurp(kLog).substr(block.size())), Ranges{}) << context;
            }
        }
        const auto own = std::count_if(calls.begin(), calls.end(), [](const Call& call) { return call.own; });
        std::cout << format_name(packer) << ": " << own << " system calls of the tool's own, "
                  << runs.size() << " failures injected\n";
        all_calls += own;
        all_runs += runs.size();
    }
    std::cout << "in all: " << all_calls << " system calls of the tool's own (not injected:";
    for (const std::string& name : not_injected) std::cout << " " << name;
    std::cout << "), " << all_runs << " failures injected, " << broken << " broken\n";
}

// A signal that ends a program by default ends the run, whatever the
// framework installs for some of them, and leaves no partial block.
TEST_F(Tavrin, KilledRunLeavesNoPartialBlock)
{
    for (const int signal : {SIGKILL, SIGTERM, SIGINT, SIGHUP, SIGALRM, SIGUSR1, SIGUSR2}) {
        // The run blocks opening a pipe with no writer, with its log already open.
        ASSERT_EQ(mkfifo("s.txt", 0600), 0);
        const pid_t pid = start(kTool, {"7", "cfg", "./s.txt"});
        for (int tries = 0; tries < 500 && !std::filesystem::exists(kLog); ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(std::filesystem::exists(kLog)) << strsignal(signal);
        kill(pid, signal);
        EXPECT_EQ(finish(pid).status, 128 + signal) << strsignal(signal);
        EXPECT_EQ(slurp(kLog), "") << strsignal(signal);
        std::filesystem::remove("s.txt");
        std::filesystem::remove(kLog);
    }
}

// A signal that arrives while write(2) copies the block must not leave a
// part of it: the run holds its log's lock from the test, and the signal
// follows the lock's release by 0 to 60 microseconds, which is when the
// run wakes and writes. The log ends near a page boundary, so that the
// block crosses it, where the kernel stops a write for a fatal signal.
TEST_F(Tavrin, SignalDuringAppendLeavesNothingOrWholeBlock)
{
    // Under an emulator every run is slow and the timing aims at nothing.
    const int kTries = std::string(TAVRIN_EMULATOR).empty() ? 300 : 40;
    constexpr int kPageBytes = 4096;
    write_file("s.txt", "3 4\n");
    run(kTool, {"7", "cfg", "./s.txt"}, "/dev/null");
    const std::string block = slurp(kLog);
    const std::string before(kPageBytes - block.size() / 2, '#');
    int whole = 0;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        write_file(kLog, before);
        const int lock = open(kLog.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(flock(lock, LOCK_EX), 0);
        const pid_t pid = start(kTool, {"7", "cfg", "./s.txt"}, "/dev/null");
        ASSERT_TRUE(blocks_on_lock(pid)) << "attempt " << attempt << ": the run did not wait for the lock";
        const int signal = attempt % 2 ? SIGTERM : SIGINT;
        const auto delay = std::chrono::nanoseconds(attempt * 60000 / kTries);
        close(lock);
        for (const auto released = std::chrono::steady_clock::now();
             std::chrono::steady_clock::now() - released < delay;) {
        }
        kill(pid, signal);
        const int status = finish(pid, "/dev/null").status;
        EXPECT_TRUE(status == 0 || status == 128 + signal) << status;
        const std::string log = slurp(kLog);
        whole += log == before + block;
        ASSERT_TRUE(log == before || log == before + block)
            << "attempt " << attempt << ", " << log.size() - before.size() << " bytes appended";
    }
    std::cout << whole << " of " << kTries << " runs appended their block before the signal\n";
}

TEST_F(Tavrin, ConcurrentRunsAppendWholeBlocks)
{
    constexpr int kRuns = 16;
    write_file("s.txt", "3 4\n");
    std::vector<pid_t> runs;
    for (int i = 0; i < kRuns; ++i) runs.push_back(start(kTool, {"7", "cfg", "./s.txt"}, "/dev/null"));
    for (const pid_t pid : runs) EXPECT_EQ(finish(pid, "/dev/null").status, 0);
    const std::string log = slurp(kLog);
    const std::string block = log.substr(0, log.size() / kRuns);
    EXPECT_EQ(parse_log(block), (Ranges{{0, {3, 3}}, {1, {4, 4}}}));
    std::string expected;
    for (int i = 0; i < kRuns; ++i) expected += block;
    EXPECT_EQ(log, expected);
}

}  // namespace
