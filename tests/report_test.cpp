// tavrin-report: its verdicts, summary line and page through processes, on
// campaigns of rows written here; its statistics and the fault sets that it
// shares with the survey, in-process, by the million.
#include "faults.h"
#include "report_charts.h"
#include "report_stats.h"
#include "rows.h"
#include "runner.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <regex.h>

namespace {

const Command kReport = program_beside(tools_under_test().front().command, "tavrin-report");

// --- text ----------------------------------------------------------------------------

// Every occurrence of from in text replaced, or only the first.
std::string replaced(std::string text, const std::string& from, const std::string& to, bool first_only = false)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
        if (first_only) break;
    }
    return text;
}

// The groups of an extended regular expression's first match in text, the
// whole match first; empty when it does not match. (POSIX's matcher, as
// the program's own, rather than <regex>, whose inlined code draws false
// warnings from g++ 12 in sanitized builds.)
std::vector<std::string> matched(const std::string& text, const char* pattern)
{
    regex_t expression;
    std::vector<std::string> found;
    if (regcomp(&expression, pattern, REG_EXTENDED) != 0) {
        ADD_FAILURE() << "a pattern that does not compile: " << pattern;
        return found;
    }
    regmatch_t groups[4];
    if (regexec(&expression, text.c_str(), 4, groups, 0) == 0) {
        for (const regmatch_t& group : groups) {
            if (group.rm_so >= 0) found.push_back(text.substr(group.rm_so, group.rm_eo - group.rm_so));
        }
    }
    regfree(&expression);
    return found;
}

// --- campaigns of rows ------------------------------------------------------------

// A recording's name in the station's naming.
std::string station(const std::string& chip, const std::string& config, const std::string& time = "091954")
{
    return time + "_sta2_sampa" + chip + "_quirn00_link02_" + config + "_adc.txt";
}

std::string header(rows::Kind kind)
{
    return rows::kHeaders[kind];
}

// A recording's 32 channel rows: the given channels' faults, the others ok,
// each channel's pedestal 50 + channel and noise 2, or as given.
std::string channel_rows(const std::string& name, const std::map<int, std::string>& faults = {},
                         const std::map<int, std::string>& pedestals = {})
{
    std::string rows;
    for (int chan = 0; chan < 32; ++chan) {
        const std::string mean = pedestals.count(chan) ? pedestals.at(chan) : std::to_string(50 + chan) + ".000";
        rows += name + "\t" + std::to_string(chan) + "\t400\t9\t40\t90\t" + mean + "\t2.000\t0000000000\t" +
                "1110000000\t" + (faults.count(chan) ? faults.at(chan) : "ok") + "\n";
    }
    return rows;
}

// A recording row: status, unfinished, malformed lines and the faults
// column; every channel's codes from lowest to highest.
std::string recording_row(const std::string& name, int status, int unfinished, int malformed,
                          const std::string& faults = "", int lowest = 7, int highest = 7)
{
    std::string lows, highs, numbers, bits, decimals;
    for (int chan = 0; chan < 32; ++chan) {
        const std::string comma = chan ? "," : "";
        lows += comma + std::to_string(lowest);
        highs += comma + std::to_string(highest);
        numbers += comma + "7";
        bits += comma + "0000000000";
        decimals += comma + "7.000";
    }
    return name + "\t" + std::to_string(status) + "\t400\t" + std::to_string(unfinished) + "\t\t\t" + lows + "\t" +
           highs + "\t" + numbers + "\t" + bits + "\t" + bits + "\t" + std::to_string(malformed) + "\t0\t8\t" +
           decimals + "\t" + decimals + "\t" + faults + "\n";
}

// A channel's code rows: each code with its count.
std::string code_rows(const std::string& name, int chan, const std::map<int, int>& counts)
{
    std::string rows;
    for (const auto& [code, count] : counts) {
        rows += name + "\t" + std::to_string(chan) + "\t" + std::to_string(code) + "\t" + std::to_string(count) + "\n";
    }
    return rows;
}

// Channel rows whose every channel's codes run from lowest to highest.
std::string spanning(const std::string& rows, int lowest, int highest)
{
    return replaced(rows, "\t40\t90\t", "\t" + std::to_string(lowest) + "\t" + std::to_string(highest) + "\t");
}

// Every channel's pedestal the same.
std::map<int, std::string> pedestals_of(const std::string& mean)
{
    std::map<int, std::string> means;
    for (int chan = 0; chan < 32; ++chan) means[chan] = mean;
    return means;
}

std::string channels_file(const std::string& rows)
{
    return header(rows::kChannels) + rows;
}

std::string recordings_file(const std::string& rows)
{
    return header(rows::kRecordings) + rows;
}

// Runs the report on the files with the arguments, the page going to
// page.html and the verdicts to v.tsv.
Outcome report(const std::map<std::string, std::string>& files, const std::vector<std::string>& args,
               const Child& child = {})
{
    for (const auto& [name, content] : files) {
        std::filesystem::create_directories(std::filesystem::path(name).parent_path().empty()
                                                ? "."
                                                : std::filesystem::path(name).parent_path());
        write_file(name, content);
    }
    std::vector<std::string> all = {"-o", "page.html", "--verdicts=v.tsv"};
    all.insert(all.end(), args.begin(), args.end());
    return finish(start(kReport, all, "out", child));
}

std::string summary(int recordings, int chips, int scrap, int retest, int good)
{
    return std::to_string(recordings) + " recordings, " + std::to_string(chips) + " chips: " + std::to_string(scrap) +
           " to scrap, " + std::to_string(retest) + " to re-test, " + std::to_string(good) + " good\n";
}

const std::string kVerdictsHeader = "chip\tverdict\treasons\n";

// The warnings before the summary line.
const std::string kNoRecordingRows =
    "tavrin-report: no recording rows: unreadable, cut and malformed recordings are not seen\n";

std::string outside_naming(int recordings)
{
    return "tavrin-report: " + std::to_string(recordings) +
           " recordings named outside the naming, each a chip of its own (see --names)\n";
}

// Whether the page holds each fragment, or, for one that starts with !,
// holds the rest nowhere.
void expect_fragments(const std::string& page, const std::vector<std::string>& fragments, const std::string& name)
{
    for (const std::string& fragment : fragments) {
        if (fragment.rfind("!", 0) == 0) {
            EXPECT_EQ(page.find(fragment.substr(1)), std::string::npos) << name << ": " << fragment;
        } else {
            EXPECT_NE(page.find(fragment), std::string::npos) << name << ": " << fragment;
        }
    }
}

class Report : public ScratchDir {};

struct VerdictCase {
    const char* name;
    std::map<std::string, std::string> files;
    std::vector<std::string> args;
    std::string summary;   // standard error: the warnings and the summary line
    std::string verdicts;  // the rows after the header
    std::vector<std::string> page = {};  // fragments, as expect_fragments takes them
    Child child = {};
};

// Every way to a verdict, the recordings that count and the chips that
// names make, in the summary line and the verdicts file.
TEST_F(Report, VerdictsFollowTheRows)
{
    const std::string a = "20mV_delay-all", b = "30mV_delay_x";
    const std::string good_b = channel_rows(station("7", b));
    const std::string stuck = channel_rows(station("7", a), {{12, "stuck1:1,stuck1:2"}, {3, "stuck0:9"}});
    const std::string early_stuck = channel_rows(station("7", a, "081000"), {{4, "dead"}});
    const std::string later_good = channel_rows(station("7", a, "101000"));
    // Ten chips whose pedestals run from 0 to 90, and chip 99, whose codes
    // run from 0 to highest, its mean 512 and its channel 5 dead.
    const auto sweeping = [&a](int highest) {
        std::string rows;
        for (int chip = 0; chip < 10; ++chip) {
            rows += channel_rows(station(std::to_string(chip), a), {}, pedestals_of(std::to_string(chip * 10) + ".000"));
        }
        return channels_file(rows + spanning(channel_rows(station("99", a), {{5, "dead"}}, pedestals_of("512.000")), 0, highest));
    };
    std::map<int, std::string> silent;
    std::string silent_reasons;
    for (int chan = 0; chan < 32; ++chan) {
        silent[chan] = "no-data";
        silent_reasons += (chan ? "," : "") + a + ":" + std::to_string(chan) + ":no-data";
    }
    const std::string tens_good = "0\tgood\t\n1\tgood\t\n2\tgood\t\n3\tgood\t\n4\tgood\t\n5\tgood\t\n6\tgood\t\n7\tgood\t\n"
                                  "8\tgood\t\n9\tgood\t\n";
    const std::string w = kNoRecordingRows;
    write_file("inputs", "");
    // Code rows of stuck channel 12, two versions of them; the later file
    // given holds its histogram.
    const std::string codes_12 = header(rows::kCodes) + code_rows(station("7", a), 12, {{5, 3}, {6, 4}, {7, 5}});
    const std::string other_codes_12 = header(rows::kCodes) + code_rows(station("7", a), 12, {{6, 10}, {8, 2}});
    const std::string stuck_reasons = "7\tscrap\t" + a + ":3:stuck0:9," + a + ":12:stuck1:1," + a + ":12:stuck1:2\n";
    // Code rows through a pipe, which gives them once, as <(...) does.
    int piped[2];
    ASSERT_EQ(pipe(piped), 0);
    ASSERT_EQ(write(piped[1], codes_12.data(), codes_12.size()), static_cast<ssize_t>(codes_12.size()));
    close(piped[1]);
    const std::string pipe_path = "/proc/self/fd/" + std::to_string(piped[0]);
    const std::vector<VerdictCase> cases = {
        {"good in both configurations, the configuration's underscores kept",
         {{"c.tsv", channels_file(channel_rows(station("7", a)) + good_b)}}, {"c.tsv"}, w + summary(2, 1, 0, 0, 1),
         "7\tgood\t\n", {"<p class=\"warn\">No recording rows were given", "files of tavrin-survey's rows (c.tsv); made "}},
        {"stuck bits and a channel's bits in order", {{"c.tsv", channels_file(stuck + good_b)}}, {"c.tsv"},
         w + summary(2, 1, 1, 0, 0), "7\tscrap\t" + a + ":3:stuck0:9," + a + ":12:stuck1:1," + a + ":12:stuck1:2\n"},
        {"dead", {{"c.tsv", channels_file(channel_rows(station("7", a), {{0, "dead"}}))}}, {"c.tsv"},
         w + summary(1, 1, 1, 0, 0), "7\tscrap\t" + a + ":0:dead\n"},
        {"never-low and no data", {{"c.tsv", channels_file(channel_rows(station("7", a), {{5, "never-low"}, {31, "no-data"}}))}},
         {"c.tsv"}, w + summary(1, 1, 0, 1, 0), "7\tre-test\t" + a + ":5:never-low," + a + ":31:no-data\n"},
        {"a recording without data counts against none of its channels in the faults per channel",
         {{"c.tsv", channels_file(channel_rows(station("7", a), silent) + channel_rows(station("8", a), {{3, "no-data"}}))}},
         {"c.tsv"}, w + summary(2, 2, 0, 2, 0), "7\tre-test\t" + silent_reasons + "\n8\tre-test\t" + a + ":3:no-data\n",
         {"<title>channel 3: 1 faults (no-data 1)</title>", "!<title>channel 0: 1 faults"}},
        {"unreadable, cut, malformed, from recording rows alone",
         {{"r.tsv", recordings_file(recording_row(station("1", a), 1, 0, 0, "0:no-data") +
                                    recording_row(station("2", a), 0, 1, 0) + recording_row(station("3", a), 0, 0, 2))}},
         {"r.tsv"}, summary(3, 3, 0, 3, 0),
         "1\tre-test\t" + a + ":unreadable," + a + ":0:no-data\n2\tre-test\t" + a + ":cut\n3\tre-test\t" + a +
             ":malformed\n"},
        {"a scrap outweighs a re-test; recording and channel rows of one recording",
         {{"c.tsv", channels_file(stuck)}, {"r.tsv", recordings_file(recording_row(station("7", a), 0, 1, 0, "12:stuck1:1"))}},
         {"r.tsv", "c.tsv"}, summary(1, 1, 1, 0, 0),
         "7\tscrap\t" + a + ":cut," + a + ":3:stuck0:9," + a + ":12:stuck1:1," + a + ":12:stuck1:2\n",
         {"!No recording rows were given"}},
        {"the latest by name decides, the earlier counts as a recording",
         {{"c.tsv", channels_file(later_good + early_stuck)}}, {"c.tsv"}, w + summary(2, 1, 0, 0, 1), "7\tgood\t\n",
         {"<span>recordings (1 earlier one set aside)</span>"}},
        {"the latest by name decides, whatever the order of the files",
         {{"c.tsv", channels_file(early_stuck)}, {"d.tsv", channels_file(channel_rows(station("7", a, "071000")))}},
         {"c.tsv", "d.tsv"}, w + summary(2, 1, 1, 0, 0), "7\tscrap\t" + a + ":4:dead\n"},
        {"a configuration missing is said, not judged",
         {{"c.tsv", channels_file(channel_rows(station("7", a)) + good_b + channel_rows(station("8", a)))}}, {"c.tsv"},
         w + summary(3, 2, 0, 0, 2), "7\tgood\t\n8\tgood\t\n"},
        {"a recording given twice counts once; headers repeated inside a file",
         {{"c.tsv", channels_file(stuck) + header(rows::kChannels) + stuck}, {"d.tsv", channels_file(stuck)}},
         {"c.tsv", "d.tsv", "c.tsv"}, w + summary(1, 1, 1, 0, 0),
         "7\tscrap\t" + a + ":3:stuck0:9," + a + ":12:stuck1:1," + a + ":12:stuck1:2\n",
         {"from 3 files of tavrin-survey's rows (c.tsv, d.tsv, c.tsv); made "}},
        {"directories and a compression suffix aside; chips by number",
         {{"c.tsv", channels_file(channel_rows("run/x_1/" + station("171471", a) + ".gz") +
                                  channel_rows("/t\\\\/" + station("99", a)))}},
         {"c.tsv"}, w + summary(2, 2, 0, 0, 2), "99\tgood\t\n171471\tgood\t\n"},
        {"a file beside a recording is no recording of its chip, a compressed recording is",
         {{"c.tsv", channels_file(channel_rows(station("7", a)) +
                                  channel_rows(station("7", a, "101000") + ".report", {{3, "dead"}}) +
                                  channel_rows(station("7", a, "111000") + ".md5") + channel_rows(station("8", a) + ".zstd") +
                                  channel_rows(station("9", a) + ".bz2", {{2, "dead"}}))}},
         {"c.tsv"}, w + outside_naming(2) + summary(5, 5, 2, 0, 3),
         "7\tgood\t\n8\tgood\t\n9\tscrap\t" + a + ":2:dead\n" + station("7", a, "101000") + ".report\tscrap\t-:3:dead\n" +
             station("7", a, "111000") + ".md5\tgood\t\n"},
        {"a name out of the naming is a chip of its own, escaped",
         {{"c.tsv", channels_file(channel_rows("d/odd\\tname.txt", {{3, "dead"}}) + channel_rows(station("7", a)))}},
         {"c.tsv"}, w + outside_naming(1) + summary(2, 2, 1, 0, 1), "7\tgood\t\nd/odd\\tname.txt\tscrap\t-:3:dead\n"},
        {"names by a pattern", {{"c.tsv", channels_file(channel_rows("x/chip42-cold.txt", {{1, "never-low"}}))}},
         {"--names=^chip([0-9]+)-(.*)\\.txt$", "c.tsv"}, w + summary(1, 1, 0, 1, 0), "42\tre-test\tcold:1:never-low\n"},
        {"standard input", {{"c.tsv", channels_file(stuck)}}, {}, w + summary(1, 1, 1, 0, 0),
         "7\tscrap\t" + a + ":3:stuck0:9," + a + ":12:stuck1:1," + a + ":12:stuck1:2\n",
         {"files of tavrin-survey's rows (standard input); made "},
         {kAllOpen, RLIM_INFINITY, false, RLIM_INFINITY, "c.tsv"}},
        {"code rows alone make no recording",
         {{"k.tsv", header(rows::kCodes) + station("9", a) + "\t0\t5\t3\n"}, {"c.tsv", channels_file(good_b)}},
         {"k.tsv", "c.tsv"}, w + summary(1, 1, 0, 0, 1), "7\tgood\t\n"},
        {"channels whose codes span 512 are a ramp's, left out of pedestal and noise, whose axes start at 0",
         {{"c.tsv", sweeping(512)}}, {"c.tsv"}, w + summary(11, 11, 1, 0, 10), tens_good + "99\tscrap\t" + a + ":5:dead\n",
         {"Left out as ramps: 32 channels (" + a + " 32), ", "<h3>Outliers <small>0, ", "!class=\"ax\">-"}},
        {"channels whose codes span 511 are measured; an outlier's verdict",
         {{"c.tsv", sweeping(511)}}, {"c.tsv"}, w + summary(11, 11, 1, 0, 10), tens_good + "99\tscrap\t" + a + ":5:dead\n",
         {"Left out as ramps: 0 channels, ", "<h3>Outliers <small>32, ",
          "<tr><td>99</td><td><span class=\"tag v2\">scrap</span></td><td>" + a + "</td>"}},
        {"a ramp by its recording row; a recording without codes is none",
         {{"r.tsv", recordings_file(recording_row(station("1", a), 0, 0, 0) + recording_row(station("2", a), 0, 0, 0, "", 0, 512) +
                                    recording_row(station("3", a), 1, 0, 0, "", 1024, -1))}},
         {"r.tsv"}, summary(3, 3, 0, 1, 2), "1\tgood\t\n2\tgood\t\n3\tre-test\t" + a + ":unreadable\n",
         {"Left out as ramps: 32 channels (" + a + " 32), "}},
        {"code rows through a pipe are read once, where they stand", {{"c.tsv", channels_file(stuck)}},
         {pipe_path, "c.tsv"}, w + summary(1, 1, 1, 0, 0), stuck_reasons, {"<title>12 values in 3 codes from 5 to 7;"}},
        {"a recording's code rows given twice: those of the later file",
         {{"c.tsv", channels_file(stuck)}, {"k.tsv", codes_12}, {"l.tsv", other_codes_12}}, {"c.tsv", "k.tsv", "l.tsv"},
         w + summary(1, 1, 1, 0, 0), stuck_reasons, {"<title>12 values in 2 codes from 6 to 8;", "!codes from 5 to"}},
        {"a recording's code rows given twice, in the other order, the first on standard input",
         {{"c.tsv", channels_file(stuck)}, {"k.tsv", codes_12}, {"l.tsv", other_codes_12}}, {"-", "c.tsv", "k.tsv"},
         w + summary(1, 1, 1, 0, 0), stuck_reasons, {"<title>12 values in 3 codes from 5 to 7;", "!codes from 6 to"},
         {kAllOpen, RLIM_INFINITY, false, RLIM_INFINITY, "l.tsv"}},
    };
    for (const VerdictCase& c : cases) {
        const Outcome outcome = report(c.files, c.args, c.child);
        EXPECT_EQ(outcome.status, 0) << c.name;
        EXPECT_EQ(outcome.err, c.summary) << c.name;
        EXPECT_EQ(slurp("v.tsv"), kVerdictsHeader + c.verdicts) << c.name;
        expect_fragments(slurp("page.html"), c.page, c.name);
        for (const auto& entry : std::filesystem::directory_iterator(".")) std::filesystem::remove_all(entry);
    }
    close(piped[0]);
}

// The number on the page's tile of the label.
std::string tile(const std::string& page, const std::string& label);

// The verdict that the faults put in a campaign call for, chip by chip,
// from its truth file: the latest recording of each chip and
// configuration decides; scrap for a stuck bit or a dead channel, re-test
// for a channel that missed the pulse or had no codes, or a recording cut
// off or with malformed lines.
std::map<std::string, std::string> verdicts_put_in(const std::string& truth_path)
{
    const char* const station_name = "sampa([0-9]+)_quirn[0-9]+_link[0-9]+_(.*)_adc\\.txt";
    std::map<std::pair<std::string, std::string>, std::pair<std::string, std::string>> latest;  // by chip, config
    std::istringstream truth(slurp(truth_path));
    std::string line;
    std::getline(truth, line);
    while (std::getline(truth, line)) {
        const std::string file = line.substr(0, line.find('\t'));
        std::vector<std::string> name = matched(file, station_name);
        EXPECT_EQ(name.size(), 3u) << file;
        name.resize(3);
        auto& entry = latest[{name[1], name[2]}];
        if (file > entry.first) entry = {file, line.substr(file.size() + 1)};
    }
    std::map<std::string, std::string> verdicts;
    for (const auto& [chip_config, recording] : latest) {
        std::istringstream fields(recording.second);
        std::string status, unfinished, malformed, short_lines, faults;
        std::getline(fields, status, '\t');
        std::getline(fields, unfinished, '\t');
        std::getline(fields, malformed, '\t');
        std::getline(fields, short_lines, '\t');
        std::getline(fields, faults, '\t');
        const bool scrap = faults.find("stuck") != std::string::npos || faults.find("dead") != std::string::npos;
        const bool retest = faults.find("never-low") != std::string::npos || faults.find("no-data") != std::string::npos ||
                            status != "0" || unfinished != "0" || malformed != "0";
        std::string& verdict = verdicts[chip_config.first];
        if (scrap) verdict = "scrap";
        if (!scrap && retest && verdict != "scrap") verdict = "re-test";
        if (verdict.empty()) verdict = "good";
    }
    return verdicts;
}

// From the archive of a generated campaign to a verdict per chip, as the
// README's recipe runs it: the three kinds of survey rows, then the
// report, whose verdicts must be those that the faults put in call for,
// and whose summary line and page must count them alike.
TEST_F(Report, TheVerdictsOfACampaignAreThoseOfItsFaults)
{
    const Outcome made = run({MAKE_CAMPAIGN_EXE}, {"--seed=32", "--chips=40", "--faulty=0.4", "archive"});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string list;
    for (const auto& entry : std::filesystem::recursive_directory_iterator("archive")) {
        const std::string path = entry.path().string();
        if (path.find("_adc.txt") != std::string::npos) list += path + '\0';
    }
    write_file("list", list);
    const Command survey = program_beside(tools_under_test().front().command, "tavrin-survey");
    for (const std::string kind : {"recordings", "channels", "codes"}) {
        EXPECT_EQ(run(survey, {"--rows=" + kind, "--files0-from=list"}, kind + ".tsv").status, 0) << kind;
    }
    const Outcome outcome = finish(start(kReport, {"-o", "page.html", "--verdicts=v.tsv", "recordings.tsv",
                                                   "channels.tsv", "codes.tsv"}));
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const std::map<std::string, std::string> expected = verdicts_put_in("archive/truth.tsv");
    std::map<std::string, int> counts;
    std::istringstream verdicts(slurp("v.tsv"));
    std::string line;
    std::getline(verdicts, line);
    std::size_t chips = 0;
    while (std::getline(verdicts, line)) {
        const std::string chip = line.substr(0, line.find('\t'));
        const std::string verdict = line.substr(chip.size() + 1, line.find('\t', chip.size() + 1) - chip.size() - 1);
        EXPECT_EQ(verdict, expected.count(chip) ? expected.at(chip) : "(none)") << line;
        ++counts[verdict];
        ++chips;
    }
    EXPECT_EQ(chips, expected.size());
    const std::size_t recordings = std::count(list.begin(), list.end(), '\0');
    EXPECT_EQ(outcome.err, summary(static_cast<int>(recordings), static_cast<int>(chips), counts["scrap"],
                                   counts["re-test"], counts["good"]));
    const std::string page = slurp("page.html");
    EXPECT_EQ(tile(page, "to scrap"), std::to_string(counts["scrap"]));
    EXPECT_EQ(tile(page, "to re-test"), std::to_string(counts["re-test"]));
    EXPECT_EQ(tile(page, "good"), std::to_string(counts["good"]));
    std::cout << outcome.err;
}

struct BadCase {
    const char* name;
    std::string content;  // of f.tsv
    std::string err;      // after "tavrin-report: "
};

// Input that is not the survey's rows is refused with its place and
// reason, status 1, and nothing is written: the page and verdicts that
// were there stay, and no temporary file is left.
TEST_F(Report, BadInputWritesNothing)
{
    const std::string name = station("7", "cfg");
    const std::string rows = channel_rows(name);
    const std::string row2 = rows.substr(0, rows.find('\n') + 1);
    const auto with_column = [&row2, &rows](int column, const std::string& value) {
        std::vector<std::string> fields;
        std::istringstream in(row2.substr(0, row2.size() - 1));
        for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
        fields[column] = value;
        std::string row;
        for (const std::string& field : fields) row += (row.empty() ? "" : "\t") + field;
        return channels_file(row + "\n" + rows.substr(row2.size()));
    };
    const std::string recording = recording_row(name, 0, 0, 0);
    const std::string last_rms_below_0 = recording.substr(0, recording.rfind("7.000")) + "-0.500\t\n";
    const std::vector<BadCase> cases = {
        {"an empty file", "", "f.tsv:1: empty, where the survey's header was expected\n"},
        {"rows without a header", rows,
         "f.tsv:1: rows without the survey's header: keep its header line (leave out --no-header)\n"},
        {"other rows", "Ch   Min   Max\n 0     0    67\n",
         "f.tsv:1: not the survey's rows: the first line is none of its headers\n"},
        {"a header of another kind inside", channels_file(rows) + header(rows::kCodes),
         "f.tsv:34: a header of codes rows among channels rows\n"},
        {"a row of too few columns", channels_file(row2.substr(0, row2.rfind('\t')) + "\n"),
         "f.tsv:2: 10 columns, where channels rows have 11\n"},
        {"a row cut short at the end", channels_file(rows.substr(0, rows.size() - 4)),
         "f.tsv:33: a row cut short: no newline at its end\n"},
        {"a bad number", with_column(6, "5x.1"), "f.tsv:2: mean: '5x.1' is not a number from 0 to 1023 or nan\n"},
        {"a number without decimals after its point", with_column(7, "2."),
         "f.tsv:2: rms: '2.' is not a number from 0 to 1023 or nan\n"},
        {"a mean far beyond any code", with_column(6, "10000000000000000"),
         "f.tsv:2: mean: '10000000000000000' is not a number from 0 to 1023 or nan\n"},
        {"an rms above 1023", with_column(7, "1023.001"), "f.tsv:2: rms: '1023.001' is not a number from 0 to 1023 or nan\n"},
        {"a channel out of range", with_column(1, "32"), "f.tsv:2: channel: '32' is not a channel from 0 to 31\n"},
        {"a fault name", with_column(10, "stuck1:10"),
         "f.tsv:2: faults: 'stuck1:10' is not ok, no-data, dead, never-low or stuck names\n"},
        {"a fault beside ok", with_column(10, "ok,dead"),
         "f.tsv:2: faults: 'ok,dead' is not ok, no-data, dead, never-low or stuck names\n"},
        {"a bad escape", with_column(0, "a\\x"), "f.tsv:2: file: 'a\\x' is not a name with \\\\, \\t and \\n its only escapes\n"},
        {"bits", with_column(8, "001"), "f.tsv:2: always1: '001' is not ten binary digits or -\n"},
        {"channel rows stopping short", channels_file(rows.substr(0, rows.find('\n', row2.size()) + 1)),
         "f.tsv:3: " + name + ": rows for 2 of its 32 channels, and no recording row\n"},
        {"a recording row's mean of 31 items",
         recordings_file(replaced(recording, "\t7.000,", "\t", true)),
         "f.tsv:2: mean: '7.000,7.000,7.000,7.000,7.000,7.000,7.00...' is not 32 numbers from 0 to 1023 or nan\n"},
        {"a recording row's rms below 0, its last item", recordings_file(last_rms_below_0),
         "f.tsv:2: rms: '7.000,7.000,7.000,7.000,7.000,7.000,7.00...' is not 32 numbers from 0 to 1023 or nan\n"},
        {"a recording row's fault items", recordings_file(recording_row(name, 0, 0, 0, "3:dead,3:stuck1:2")),
         "f.tsv:2: faults: '3:dead,3:stuck1:2' is not channel:name items\n"},
        {"a code out of range", header(rows::kCodes) + name + "\t3\t1024\t5\n",
         "f.tsv:2: code: '1024' is not a code from 0 to 1023\n"},
        {"a count of none", header(rows::kCodes) + name + "\t3\t10\t0\n", "f.tsv:2: count: '0' is not a count above 0\n"},
        {"a line of 1 MiB, as long as a line may be", std::string(1 << 20, 'a') + "\n",
         "f.tsv:1: not the survey's rows: the first line is none of its headers\n"},
        {"a first line of 1 MiB and a byte", std::string((1 << 20) + 1, 'a') + "\n",
         "f.tsv:1: a line of more than 1 MiB, which no row of the survey is\n"},
        {"a row of 1.5 MB", channels_file(std::string(1500000, 'a') + "\n" + rows),
         "f.tsv:2: a line of more than 1 MiB, which no row of the survey is\n"},
        {"a row of 2.2 MB", channels_file(rows + std::string(2200000, 'a') + "\n"),
         "f.tsv:34: a line of more than 1 MiB, which no row of the survey is\n"},
    };
    for (const BadCase& c : cases) {
        write_file("page.html", "old page");
        write_file("v.tsv", "old verdicts");
        const Outcome outcome = report({{"good.tsv", channels_file(channel_rows(station("8", "cfg")))}, {"f.tsv", c.content}},
                                       {"good.tsv", "f.tsv"});
        EXPECT_EQ(outcome.status, 1) << c.name;
        EXPECT_EQ(outcome.err, "tavrin-report: " + c.err) << c.name;
        EXPECT_EQ(slurp("page.html"), "old page") << c.name;
        EXPECT_EQ(slurp("v.tsv"), "old verdicts") << c.name;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 6) << c.name << ": a file left behind";
    }
}

struct UsageCase {
    std::vector<std::string> args;
    int status;
    std::string err;
    std::string out = "";                           // standard output, a file
    std::map<std::string, std::string> files = {};  // files as the run leaves them
};

TEST_F(Report, CommandLine)
{
    write_file("c.tsv", channels_file(channel_rows(station("7", "cfg"))));
    // Symbolic links, which the outputs go through and leave as they are:
    // to standard output, and to a regular file in another directory.
    std::filesystem::create_symlink("/proc/self/fd/1", "so");
    std::filesystem::create_directory("elsewhere");
    write_file("elsewhere/v.tsv", "old verdicts");
    std::filesystem::create_symlink("elsewhere/v.tsv", "linked.tsv");
    const std::string verdicts = kVerdictsHeader + "7\tgood\t\n";
    const std::string more = "Try 'tavrin-report --help' for more information.\n";
    const std::vector<UsageCase> cases = {
        {{"--bogus"}, 2, "tavrin-report: unrecognized option '--bogus'\n" + more},
        {{"c.tsv", "-o"}, 2, "tavrin-report: option requires an argument -- 'o'\n" + more},
        {{"--names=(a", "c.tsv"}, 2, "tavrin-report: --names: Unmatched ( or \\(\n" + more},
        {{"--names=^(.*)$", "c.tsv"}, 2,
         "tavrin-report: --names: the pattern needs two groups, the chip's and the configuration's\n" + more},
        {{"--verdicts=-", "c.tsv"}, 2,
         "tavrin-report: the page and the verdicts cannot both go to standard output\n" + more},
        {{"none.tsv", "c.tsv"}, 1, "tavrin-report: none.tsv: No such file or directory\n"},
        {{"-o", "nodir/page.html", "c.tsv"}, 1,
         "tavrin-report: nodir/page.html: No such file or directory\n" + kNoRecordingRows + summary(1, 1, 0, 0, 1)},
        {{"-o", "/dev/full", "c.tsv"}, 1,
         "tavrin-report: /dev/full: No space left on device\n" + kNoRecordingRows + summary(1, 1, 0, 0, 1)},
        {{"-o", "page.html", "--verdicts=-", "c.tsv"}, 0, kNoRecordingRows + summary(1, 1, 0, 0, 1), verdicts},
        {{"-o", "page.html", "--verdicts=so", "c.tsv"}, 0, kNoRecordingRows + summary(1, 1, 0, 0, 1), verdicts},
        {{"-o", "page.html", "--verdicts=linked.tsv", "c.tsv"}, 0, kNoRecordingRows + summary(1, 1, 0, 0, 1), "",
         {{"elsewhere/v.tsv", verdicts}}},
    };
    for (const UsageCase& c : cases) {
        std::string name;
        for (const std::string& arg : c.args) name += arg + " ";
        const Outcome outcome = run(kReport, c.args);
        EXPECT_EQ(outcome.status, c.status) << name;
        EXPECT_EQ(outcome.err, c.err) << name;
        EXPECT_EQ(outcome.out, c.out) << name;
        for (const auto& [path, content] : c.files) EXPECT_EQ(slurp(path), content) << name << ": " << path;
        EXPECT_TRUE(std::filesystem::is_symlink("so") && std::filesystem::is_symlink("linked.tsv")) << name;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator("elsewhere"), {}), 1) << name;
    }
}

// The page and the verdicts file go through a temporary file beside them
// that a failure or a signal removes: the old page stays whole.
TEST_F(Report, OutputsAreReplacedWholeOrNotAtAll)
{
    if (TAVRIN_SANITIZED || !std::string(TAVRIN_EMULATOR).empty()) GTEST_SKIP() << "strace cannot trace here";
    if (run({"sh"}, {"-c", "strace -qq -o /dev/null true"}).status != 0) GTEST_SKIP() << "strace cannot trace here";
    write_file("c.tsv", channels_file(channel_rows(station("7", "cfg"), {{3, "dead"}})));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"write:error=ENOSPC:when=1", "No space left on device"},
        {"fsync:error=EIO", "Input/output error"},
        {"rename:error=EXDEV:when=1", "Invalid cross-device link"},
        {"rename:error=EIO:when=2", "Input/output error"},
    };
    for (const auto& [failure, reason] : cases) {
        write_file("page.html", "old page");
        write_file("v.tsv", "old verdicts");
        chmod("page.html", 0640);
        Command traced = {"strace", "-f", "-qq", "-o", "/dev/null", "-e", "inject=" + failure};
        traced.insert(traced.end(), kReport.begin(), kReport.end());
        const Outcome outcome = run(traced, {"-o", "page.html", "--verdicts=v.tsv", "c.tsv"});
        EXPECT_EQ(outcome.status, 1) << failure;
        const bool second = failure.find("when=2") != std::string::npos;
        EXPECT_EQ(outcome.err, "tavrin-report: " + std::string(second ? "v.tsv" : "page.html") + ": " + reason + "\n" +
                                   kNoRecordingRows + summary(1, 1, 1, 0, 0)) << failure;
        // Only a failure of the second rename leaves the new page in place.
        EXPECT_EQ(slurp("page.html").substr(0, 9), second ? "<!DOCTYPE" : "old page") << failure;
        EXPECT_EQ(slurp("v.tsv"), "old verdicts") << failure;
        struct stat status;
        EXPECT_EQ(stat("page.html", &status) == 0 ? status.st_mode & 0777 : 0, 0640u) << failure;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 5) << failure << ": a file left behind";
    }
    // A signal while the page is being flushed removes its temporary file.
    write_file("page.html", "old page");
    Command slowed = {"strace", "-f", "-qq", "-o", "/dev/null", "-e", "inject=fsync:delay_enter=3000000"};
    slowed.insert(slowed.end(), kReport.begin(), kReport.end());
    const pid_t pid = start(slowed, {"-o", "page.html", "c.tsv"});
    const auto temporary = [] {
        for (const auto& entry : std::filesystem::directory_iterator(".")) {
            if (entry.path().filename().string().rfind(".page.html.", 0) == 0) return true;
        }
        return false;
    };
    for (int tries = 0; tries < 500 && !temporary(); ++tries) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(temporary());
    // The run itself, strace's child.
    const pid_t traced = std::atoi(slurp("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children").c_str());
    ASSERT_GT(traced, 0);
    kill(traced, SIGTERM);
    finish(pid);
    EXPECT_FALSE(temporary());
    EXPECT_EQ(slurp("page.html"), "old page");
}

// --- the page -------------------------------------------------------------------

// Whether a program is there to run.
bool have(const std::string& program)
{
    return run({"sh"}, {"-c", "command -v " + program}).status == 0;
}

// The number in the page's verdict tile of the label.
std::string tile(const std::string& page, const std::string& label)
{
    const std::size_t end = page.find("</b><span>" + label + "</span>");
    if (end == std::string::npos) return "none";
    const std::size_t start = page.rfind("<b>", end) + 3;
    return page.substr(start, end - start);
}

// A campaign with every kind of finding and names that need escaping: the
// page agrees with the summary line, keeps its sections in order, parses
// as XML in every picture, passes tidy, and names no other resource.
TEST_F(Report, ThePageIsWholeAndSelfContained)
{
    std::string channels, codes = header(rows::kCodes);
    std::mt19937 random(7);
    std::normal_distribution<double> pedestal(60, 0.7);
    for (int chip = 0; chip < 40; ++chip) {
        for (const std::string config : {"20mV", "30mV"}) {
            const std::string name = "ar\\\\ch<&\"'\xe9/" + station(std::to_string(1000 + chip), config);
            std::map<int, std::string> faults, means;
            if (chip % 9 == 1) faults[chip % 32] = "stuck1:3";
            if (chip % 11 == 2) faults[5] = "never-low";
            if (chip == 3) faults[7] = "no-data", means[7] = "nan";
            for (int chan = 0; chan < 32; ++chan) {
                if (!means.count(chan)) means[chan] = std::to_string(pedestal(random) + (chip == 5 ? 30 : 0));
            }
            if (!(chip == 6 && config == "30mV")) channels += channel_rows(name, faults, means);
            for (int code = 52; code < 70; ++code) {
                if ((code & 8) || chip % 9 != 1) codes += name + "\t" + std::to_string(chip % 32) + "\t" + std::to_string(code) + "\t" + std::to_string(20 - std::abs(code - 61)) + "\n";
            }
        }
    }
    const Outcome outcome = report({{"c.tsv", channels_file(channels)}, {"k.tsv", codes}}, {"k.tsv", "c.tsv"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.err, kNoRecordingRows + summary(79, 40, 5, 5, 30));
    const std::string page = slurp("page.html");
    EXPECT_LT(page.size(), 1u << 20);
    EXPECT_EQ(tile(page, "to scrap") + " " + tile(page, "to re-test") + " " + tile(page, "good") + " " +
                  tile(page, "chips"), "5 5 30 40");
    // Each part of the yield bar has its count and share beneath the bar,
    // and in it only where they fit: an eighth of the bar is too narrow.
    expect_fragments(page,
                     {"</span>scrap 5 (12.5 %)</span>", "</span>re-test 5 (12.5 %)</span>", "</span>good 30 (75.0 %)</span>",
                      "class=\"on\">good 30 (75.0 %)</text>", "!class=\"on\">scrap", "!class=\"on\">re-test"},
                     "the yield bar");
    std::size_t at = 0;
    for (const std::string section : {"verdict", "map", "spread", "lists"}) {
        const std::size_t found = page.find("<section id=\"" + section + "\">");
        EXPECT_NE(found, std::string::npos) << section;
        EXPECT_GT(found, at) << section << " out of order";
        at = found;
    }
    EXPECT_NE(page.find("<td class=\"n\">+"), std::string::npos) << "chip 1005's pedestals are no outliers";
    for (const std::string outside : {"http", "src=", "href", "<script", "url(", "@import", "<link", "<img"}) {
        EXPECT_EQ(page.find(outside), std::string::npos) << outside;
    }
    if (have("xmllint")) {
        int pictures = 0;
        for (std::size_t start = 0; (start = page.find("<svg", start)) != std::string::npos; start += 4) {
            const std::size_t end = page.find("</svg>", start);
            ASSERT_NE(end, std::string::npos);
            write_file("picture.svg", page.substr(start, end + 6 - start));
            const Outcome parsed = run({"xmllint"}, {"--noout", "picture.svg"});
            EXPECT_EQ(parsed.status, 0) << parsed.err;
            ++pictures;
        }
        EXPECT_GT(pictures, 10);
    } else {
        std::cout << "skipped: the pictures' XML, since xmllint is missing\n";
    }
    if (have("tidy")) {
        const Outcome tidied = run({"tidy"}, {"-q", "-e", "page.html"});
        EXPECT_EQ(tidied.status, 0) << tidied.err;
        if (tidied.status == 0) std::cout << "tidy: no error or warning\n";
    } else {
        std::cout << "skipped: tidy, which is missing\n";
    }
}

// The page's header says when it was made: now, in local time, or at
// SOURCE_DATE_EPOCH, in UTC, when the page is made again byte for byte.
TEST_F(Report, ThePageSaysWhenItWasMade)
{
    write_file("c.tsv", channels_file(channel_rows(station("7", "cfg"))));
    const auto made = [](const std::vector<std::string>& settings, const std::string& page) {
        Command command = {"env", "-u", "SOURCE_DATE_EPOCH"};
        command.insert(command.end(), settings.begin(), settings.end());
        command.insert(command.end(), kReport.begin(), kReport.end());
        EXPECT_EQ(run(command, {"-o", page, "c.tsv"}).status, 0) << page;
        return slurp(page);
    };
    const char* const local_time = "made <span class=\"nw\">[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\+03:00</span> by tavrin-report ";
    EXPECT_FALSE(matched(made({"TZ=UTC-3"}, "now.html"), local_time).empty());
    const std::string fixed = made({"TZ=UTC-3", "SOURCE_DATE_EPOCH=1767225600"}, "fixed.html");
    EXPECT_NE(fixed.find("made <span class=\"nw\">2026-01-01T00:00:00+00:00</span> by tavrin-report "), std::string::npos);
    EXPECT_EQ(made({"SOURCE_DATE_EPOCH=1767225600"}, "again.html"), fixed);
}

// --- in-process ---------------------------------------------------------------------

// The median, the quartiles' places, the robust sd (with its fallback
// where the MAD is 0) and the whiskers against a plain sort, on a million
// values in arrays of every size, many with ties.
TEST(ReportStatistics, SpreadsMatchSorting)
{
    std::mt19937 random(1);
    std::size_t values_seen = 0;
    for (int array = 0; values_seen < 1000000; ++array) {
        const std::size_t count = 1 + random() % (array % 2 ? 9 : 3000);
        const int levels = array % 3 == 0 ? 3 : 100000;  // heavy ties on every third
        std::vector<float> values(count), scratch(count);
        for (float& value : values) value = static_cast<float>(random() % levels) / 7 - (array % 5 == 0 ? 1e4f : 0);
        if (array % 7 == 0) values.back() = 1e6f;
        std::vector<float> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        const report::Spread spread = report::spread_of(values.data(), count, scratch.data());
        const double median = count % 2 ? sorted[count / 2] : (double(sorted[count / 2 - 1]) + sorted[count / 2]) / 2;
        std::vector<double> deviation(count);
        double mean_deviation = 0;
        for (std::size_t i = 0; i < count; ++i) {
            deviation[i] = std::fabs(sorted[i] - float(median));
            mean_deviation += deviation[i] / count;
        }
        std::sort(deviation.begin(), deviation.end());
        const double mad = count % 2 ? deviation[count / 2] : (deviation[count / 2 - 1] + deviation[count / 2]) / 2;
        // The rule as the page states it, not as the program names it.
        const double sigma = mad > 0 ? 1.4826 * mad : 1.2533 * mean_deviation;
        ASSERT_FLOAT_EQ(spread.median, float(median)) << array;
        ASSERT_NEAR(spread.sigma, sigma, 1e-6 * (1 + sigma)) << array;
        ASSERT_EQ(spread.lower_quartile, sorted[(count - 1) / 4]) << array;
        ASSERT_EQ(spread.upper_quartile, sorted[(count - 1) * 3 / 4]) << array;
        float low = spread.median, high = spread.median;
        for (const float value : sorted) {
            if (sigma > 0 && std::fabs(value - spread.median) > 5 * sigma) continue;
            low = std::min(low, value);
            high = std::max(high, value);
        }
        ASSERT_EQ(spread.low_whisker, low) << array;
        ASSERT_EQ(spread.high_whisker, high) << array;
        values_seen += count;
    }
}

// The box plots' axes come to an end whatever the values: those of one
// chip whose every mean and rms is one value, far beyond any code.
TEST(ReportCharts, AxesEndWhateverTheValues)
{
    for (const float value : {1e16f, 3e38f}) {
        report::Campaign campaign;
        const std::string name = station("7", "cfg");
        const std::uint32_t r = report::recording_of(campaign, name.data(), name.size());
        campaign.recordings[r].channel_rows = report::kAllChannels;
        for (int chan = 0; chan < 32; ++chan) report::channels_of(campaign, r)[chan] = {value, value, faults::kNoFault};
        regex_t naming;
        ASSERT_EQ(regcomp(&naming, report::kStationNaming, REG_EXTENDED), 0);
        report::name_chips(campaign, naming);
        regfree(&naming);
        report::decide(campaign);
        report::Distributions distributions;
        report::measure(campaign, distributions);
        for (const report::Quantity quantity : {report::kPedestal, report::kNoise}) {
            report::Text text;
            report::box_plots(text, campaign, distributions, 0, quantity);
            EXPECT_EQ(std::string(text.data(), text.size()).rfind("</svg>\n"), text.size() - 7) << value;
        }
    }
}

// Every set a channel can have, a million of them: its names, as
// take_name gives them, read back by parse_set make it again; its verdict
// is the worst of its classes'.
TEST(ReportFaults, EverySetReadsBackFromItsNames)
{
    std::vector<faults::Set> sets;
    for (const faults::Class alone : {faults::kNoData, faults::kDead, faults::kNeverLow}) sets.push_back(faults::set_of(alone, -1));
    for (unsigned bits = 1; bits < 1u << 20; ++bits) {
        faults::Set set = faults::kNoFault;
        for (int bit = 0; bit < 10; ++bit) {
            if (bits >> bit & 1) set |= faults::set_of(faults::kStuck1, bit);
            if (bits >> (bit + 10) & 1) set |= faults::set_of(faults::kStuck0, bit);
        }
        sets.push_back(set);
    }
    for (const faults::Set set : sets) {
        std::string names;
        faults::Set rest = set;
        faults::Class fault;
        int bit, last_bit = -1;
        while (faults::take_name(rest, fault, bit)) {
            ASSERT_GE(bit, last_bit) << "names out of bit order";
            last_bit = bit;
            names += (names.empty() ? "" : ",") + std::string(faults::class_name(fault)) + (bit < 0 ? "" : ":" + std::to_string(bit));
        }
        faults::Set read = ~faults::kNoFault;
        ASSERT_TRUE(faults::parse_set(names.data(), names.size(), read)) << names;
        ASSERT_EQ(read, set) << names;
        ASSERT_TRUE(faults::is_valid(set)) << names;
        const faults::Verdict expected = faults::has(set, faults::kStuck1) || faults::has(set, faults::kStuck0) ||
                                                 faults::has(set, faults::kDead)
                                             ? faults::kScrap
                                             : faults::kRetest;
        ASSERT_EQ(faults::verdict_of(set), expected) << names;
    }
    EXPECT_EQ(faults::verdict_of(faults::kNoFault), faults::kGood);
    EXPECT_FALSE(faults::is_valid(faults::set_of(faults::kDead, -1) | faults::set_of(faults::kStuck1, 2)));
}

}  // namespace
