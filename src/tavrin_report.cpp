// tavrin-report: turns tavrin-survey's rows into a verdict per chip (scrap,
// re-test or good) and one self-contained HTML page that shows the
// campaign: the verdict and yield, a map of each configuration's chips
// against their channels, the spread of pedestal and noise, and the
// evidence behind every reject and re-test. With --verdicts it also writes
// a row per chip for a production database.

#include "recording.h"
#include "report_campaign.h"
#include "report_page.h"
#include "report_rows.h"
#include "report_stats.h"
#include "report_text.h"
#include "report_verdicts.h"

#include <fcntl.h>
#include <getopt.h>
#include <regex.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

// The diagnostics' name.
extern const char kProgramName[] = "tavrin-report";

namespace {

const int kUsageStatus = 2;
const char kStandardStream[] = "-";

const char kUsage[] = "Usage: tavrin-report [-o PAGE] [--verdicts=FILE] [--names=PATTERN] [FILE...]\n";
const char kHelp[] =
    "Turns tavrin-survey's rows into a verdict per chip (scrap, re-test or good)\n"
    "and one self-contained HTML page: the verdict, the chip maps, pedestal and\n"
    "noise, and the reject and re-test lists with the evidence for each fault.\n"
    "\n"
    "  -o, --output=PAGE     write the page to PAGE (- or none: standard output)\n"
    "      --verdicts=FILE   also write a row per chip: chip, verdict, reasons\n"
    "      --names=PATTERN   take each recording's chip and configuration from\n"
    "                        its file name by this POSIX extended regular\n"
    "                        expression, the first two groups (by default the\n"
    "                        station's naming, <time>_sta<N>_sampa<chip>_\n"
    "                        quirn<NN>_link<NN>_<config>_adc.txt)\n"
    "      --help            display this help and exit\n"
    "      --version         output version information and exit\n"
    "\n"
    "Each FILE holds recording, channel or code rows of tavrin-survey, its header\n"
    "first; - or no FILE is standard input. One summary line goes to standard\n"
    "error, after a warning for what the rows leave unseen (no recording rows,\n"
    "names outside the naming). Exit status: 0 when the page (and verdicts)\n"
    "were written, 1 when an input was refused (then nothing is written) or an\n"
    "output failed, 2 for a usage error. See tavrin-report(1).\n";
const char kVersion[] =
    "tavrin-report (tavrin) " TAVRIN_VERSION "\n"
    "Copyright (c) 2026 The tavrin developers\n"
    "License MIT: <https://opensource.org/licenses/MIT>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

struct Options {
    const char* page = kStandardStream;
    const char* verdicts = nullptr;
    const char* naming = report::kStationNaming;
};

// --- reading the rows -----------------------------------------------------------

bool is_standard(const char* path)
{
    return std::strcmp(path, kStandardStream) == 0;
}

// The input's descriptor, or -1 after reporting why not.
int open_input(const char* path)
{
    if (is_standard(path)) {
        // A closed standard input holds /dev/null now: read as an empty
        // file, it would be refused for a reason that is not the real one.
        if (standard_descriptor_was_closed(STDIN_FILENO)) return fail(path, EBADF), -1;
        return STDIN_FILENO;
    }
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail(path, errno);
    return fd;
}

// The kinds of rows given, a bit each.
typedef unsigned Kinds;

bool given(Kinds kinds, rows::Kind kind)
{
    return (kinds >> kind & 1) != 0;
}

// Channel rows without recording rows, which alone show the recordings
// that were unreadable, cut or malformed.
bool recording_rows_missing(Kinds kinds)
{
    return given(kinds, rows::kChannels) && !given(kinds, rows::kRecordings);
}

// Whether the input can be opened again and read from its start: a
// regular file, and not standard input; a pipe, a FIFO or a device would
// give only what is left.
bool can_read_again(const char* path, int fd)
{
    struct stat status;
    return !is_standard(path) && fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// Reads one input into the campaign. A file of code rows that can be read
// again is only recognised while deferring: it is read once every other
// file has been, so that only the code rows of channels with a fault need
// be kept; other code rows are read where they stand. Returns 0, or 1
// after reporting a fault.
int read_input(const report::Source& source, bool deferring, report::Campaign& campaign, bool& deferred,
               Kinds& kinds)
{
    const int fd = open_input(source.path);
    if (fd < 0) return 1;
    report::LineReader reader(fd);
    rows::Kind kind;
    int status = report::read_header(reader, source.path, kind);
    if (status == 0) {
        kinds |= 1u << kind;
        deferred = deferring && kind == rows::kCodes && can_read_again(source.path, fd);
        if (!deferred) status = report::read_rows(reader, kind, source, campaign);
    }
    if (fd != STDIN_FILENO) close(fd);
    return status;
}

int read_inputs(const char* const* paths, int count, report::Campaign& campaign, Kinds& kinds)
{
    int status = 0;
    report::Array<int> deferred;
    for (int i = 0; i < count; ++i) {
        // By the last input every file of other rows has been read: code
        // rows read there, in place, are read late.
        bool later = false;
        status |= read_input({paths[i], static_cast<std::uint32_t>(i), i + 1 == count}, true, campaign, later, kinds);
        if (later) deferred.push(i);
    }
    for (const int i : deferred) {
        bool later = false;
        status |= read_input({paths[i], static_cast<std::uint32_t>(i), true}, false, campaign, later, kinds);
    }
    // A file refused part-way leaves its last recording short of rows.
    if (status == 0) status = report::check_channel_rows(campaign, paths);
    report::order_codes(campaign);
    return status;
}

// --- writing --------------------------------------------------------------------

// "2026-03-05T14:07:09+01:00"
typedef char Stamp[32];

// The time the page is made: now, in local time; or, with
// SOURCE_DATE_EPOCH set to seconds since the epoch, that time in UTC, so
// that a page can be made again byte for byte. False when it cannot be told.
bool page_time(std::tm& parts)
{
    const char* const fixed = std::getenv("SOURCE_DATE_EPOCH");
    char* end = nullptr;
    const long long seconds = fixed != nullptr ? std::strtoll(fixed, &end, 10) : -1;
    if (fixed != nullptr && *fixed != '\0' && *end == '\0' && seconds >= 0) {
        const std::time_t when = static_cast<std::time_t>(seconds);
        return gmtime_r(&when, &parts) != nullptr;
    }
    const std::time_t now = std::time(nullptr);
    return localtime_r(&now, &parts) != nullptr;
}

void stamp(Stamp& text)
{
    std::tm parts;
    char offset[8];
    // strftime writes the offset +0100; ISO 8601's extended form is +01:00.
    if (!page_time(parts) || std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts) == 0 ||
        std::strftime(offset, sizeof offset, "%z", &parts) != 5) {
        std::snprintf(text, sizeof text, "at an unknown time");
        return;
    }
    const std::size_t length = std::strlen(text);
    std::snprintf(text + length, sizeof text - length, "%.3s:%.2s", offset, offset + 3);
}

// Writes the outputs, each whole or not at all: both temporary files are
// written before either is put in place, and once one fails to go in
// place, the next is not put there either. Returns 0, or 1 after reporting.
int write_outputs(report::Output* outputs, int count)
{
    for (int i = 0; i < count; ++i) {
        if (report::prepare(outputs[i]) == 0) continue;
        for (int j = 0; j < i; ++j) report::discard(outputs[j]);
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        if (report::commit(outputs[i]) == 0) continue;
        for (int j = i + 1; j < count; ++j) report::discard(outputs[j]);
        return 1;
    }
    return 0;
}

// What the rows cannot show, one line each, before the summary line.
void warn(Kinds kinds, const report::Counts& counts)
{
    if (recording_rows_missing(kinds)) {
        std::fprintf(stderr, "%s: no recording rows: unreadable, cut and malformed recordings are not seen\n",
                     kProgramName);
    }
    if (counts.unnamed_recordings > 0) {
        std::fprintf(stderr, "%s: %zu recordings named outside the naming, each a chip of its own (see --names)\n",
                     kProgramName, counts.unnamed_recordings);
    }
}

int report_campaign(const Options& options, const regex_t& naming, const char* const* paths, int count)
{
    report::Campaign campaign;
    Kinds kinds = 0;
    if (read_inputs(paths, count, campaign, kinds) != 0) return 1;
    report::name_chips(campaign, naming);
    report::decide(campaign);
    report::Distributions distributions;
    report::measure(campaign, distributions);
    report::Counts counts;
    report::count(campaign, counts);
    report::Text page, verdicts;
    Stamp made;
    stamp(made);
    const report::PageFacts facts = {static_cast<std::size_t>(count),
                                     paths,
                                     given(kinds, rows::kCodes),
                                     recording_rows_missing(kinds),
                                     made,
                                     TAVRIN_VERSION};
    report::write_page(page, campaign, distributions, counts, facts);
    report::Output outputs[2] = {{options.page, &page, -1, {}, {}}, {options.verdicts, &verdicts, -1, {}, {}}};
    if (options.verdicts != nullptr) report::write_verdicts(campaign, verdicts);
    const int status = write_outputs(outputs, options.verdicts != nullptr ? 2 : 1);
    warn(kinds, counts);
    std::fprintf(stderr, "%zu recordings, %zu chips: %zu to scrap, %zu to re-test, %zu good\n", counts.recordings,
                 counts.chips, counts.verdicts[faults::kScrap], counts.verdicts[faults::kRetest],
                 counts.verdicts[faults::kGood]);
    return status;
}

// --- the command line -----------------------------------------------------------

int print_texts(const char* first, const char* second = "")
{
    std::fputs(first, stdout);
    std::fputs(second, stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) return fail("standard output", errno != 0 ? errno : EIO);
    return 0;
}

// Reports a usage error as GNU tools do: the problem, if any, then where
// help is. Returns the usage error's status.
int usage_error(const char* problem = nullptr)
{
    if (problem != nullptr) std::fprintf(stderr, "%s: %s\n", kProgramName, problem);
    std::fprintf(stderr, "%sTry 'tavrin-report --help' for more information.\n", problem == nullptr ? kUsage : "");
    return kUsageStatus;
}

// The long options, numbered past every character that names a short one.
enum Option { kVerdicts = 256, kNames, kHelpOption, kVersionOption };

// What getopt_long refused in the argument just read (arg), which it tells
// by optopt. Returns the usage error's status.
int refused_option(const char* arg, bool missing)
{
    const int name_length = static_cast<int>(std::strcspn(arg, "="));
    char problem[256];
    if (missing && optopt < kVerdicts && optopt != 0) {
        std::snprintf(problem, sizeof problem, "option requires an argument -- '%c'", optopt);
    } else if (missing) {
        std::snprintf(problem, sizeof problem, "option '%.*s' requires an argument", name_length, arg);
    } else if (optopt >= kVerdicts) {
        std::snprintf(problem, sizeof problem, "option '%.*s' doesn't allow an argument", name_length, arg);
    } else if (optopt != 0) {
        std::snprintf(problem, sizeof problem, "invalid option -- '%c'", optopt);
    } else {
        std::snprintf(problem, sizeof problem, "unrecognized option '%.200s'", arg);
    }
    return usage_error(problem);
}

// Compiles the naming; returns 0, or the usage error's status after
// saying what is wrong with it.
int compile_naming(const char* pattern, regex_t& naming)
{
    const int error = regcomp(&naming, pattern, REG_EXTENDED);
    char problem[512];
    if (error != 0) {
        char reason[256];
        regerror(error, &naming, reason, sizeof reason);
        std::snprintf(problem, sizeof problem, "--names: %s", reason);
        return usage_error(problem);
    }
    if (naming.re_nsub < 2) {
        regfree(&naming);
        return usage_error("--names: the pattern needs two groups, the chip's and the configuration's");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (standard_descriptors_guard_error() != 0) return fail("/dev/null", standard_descriptors_guard_error());
    // A reader that has gone, or a file size limit, is a failed write,
    // reported, not a silent end.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    static const struct option kOptions[] = {
        {"output", required_argument, nullptr, 'o'},
        {"verdicts", required_argument, nullptr, kVerdicts},
        {"names", required_argument, nullptr, kNames},
        {"help", no_argument, nullptr, kHelpOption},
        {"version", no_argument, nullptr, kVersionOption},
        {nullptr, 0, nullptr, 0},
    };
    Options options;
    opterr = 0;  // the messages are this program's own
    for (int option; (option = getopt_long(argc, argv, ":o:", kOptions, nullptr)) != -1;) {
        switch (option) {
        case 'o': options.page = optarg; break;
        case kVerdicts: options.verdicts = optarg; break;
        case kNames: options.naming = optarg; break;
        case kHelpOption: return print_texts(kUsage, kHelp);
        case kVersionOption: return print_texts(kVersion);
        case ':': return refused_option(argv[optind - 1], true);
        default: return refused_option(argv[optind - 1], false);
        }
    }
    if (options.verdicts != nullptr && is_standard(options.verdicts) && is_standard(options.page)) {
        return usage_error("the page and the verdicts cannot both go to standard output");
    }
    regex_t naming;
    const int refused = compile_naming(options.naming, naming);
    if (refused != 0) return refused;
    static const char* const kStandardInput[] = {kStandardStream};
    const bool named = optind < argc;
    const int status = report_campaign(options, naming, named ? argv + optind : kStandardInput, named ? argc - optind : 1);
    regfree(&naming);
    return status;
}
