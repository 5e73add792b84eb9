// tavrin-survey: surveys an archive of recordings in one process and writes
// tab-separated rows: one per recording (how it was read, tavrin's ranges
// and stuck channels, the lines that are malformed, short or pulses, each
// channel's pedestal and noise and its faults), one per channel, or one per
// channel and code. It reads each recording as tavrin does and writes
// nothing but its standard output and standard error.

#include "recording.h"
#include "row_output.h"
#include "rows.h"
#include "survey_rows.h"

#include <fcntl.h>
#include <getopt.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The diagnostics' name.
extern const char kProgramName[] = "tavrin-survey";

namespace {

const int kUsageStatus = 2;

const char kUsage[] = "Usage: tavrin-survey [--no-header] [--rows=KIND] [--files0-from=F] [FILE...]\n";
const char kHelp[] =
    "Surveys recordings of a 32-channel ADC readout chip, as tavrin reads them,\n"
    "and writes tab-separated rows, in the order given: a row per recording, with\n"
    "each channel's pedestal, noise and faults; a row per channel; or a row per\n"
    "channel and code that came.\n"
    "\n"
    "      --no-header       leave out the header line\n"
    "      --rows=KIND       the rows to write: recordings (the default),\n"
    "                        channels or codes\n"
    "      --files0-from=F   after the FILEs, read the recordings named in F,\n"
    "                        each name ended by a NUL; F - is standard input\n"
    "      --help            display this help and exit\n"
    "      --version         output version information and exit\n"
    "\n"
    "The columns of each kind and the fault names: see tavrin-survey(1). Exit\n"
    "status: 0 when every recording was read to its end, 1 when any was not,\n"
    "2 for a usage error.\n";
const char kVersion[] =
    "tavrin-survey (tavrin) " TAVRIN_VERSION "\n"
    "Copyright (c) 2026 The tavrin developers\n"
    "License MIT: <https://opensource.org/licenses/MIT>.\n"
    "This is free software: you are free to change and redistribute it.\n"
    "There is NO WARRANTY, to the extent permitted by law.\n";

// --- surveying ----------------------------------------------------------------

rows::Kind kind = rows::kRecordings;

// Reads the recording at path and writes its rows, whether it could be
// read or not. Returns 0 when it was read to its end, otherwise 1.
int survey(const char* path)
{
    // Off the stack, as the read buffer; the code tally starts zero.
    static Tally tally;
    static CodeTally codes;
    start_tally(tally);
    start_codes(codes);
    int status = 0;
    const int fd = open(path, O_RDONLY);
    if (fd < 0) {
        status = fail(path, errno);
    } else {
        status = scan_file(fd, path, tally, kMaxBlockBytes, &codes);
        close(fd);
    }
    const Surveyed surveyed = {path, status, tally, codes};
    if (!write_rows(kind, surveyed)) {
        output::finish();  // the rows of the recordings before
        std::exit(fail(path, ENOMEM));
    }
    return status;
}

// --- the list of names ----------------------------------------------------------

// A list is read through a fixed buffer, and a name is kept up to PATH_MAX
// bytes, however long it is: memory stays flat whatever the list holds,
// such as a list without NULs, which is one name of its whole length.
const std::size_t kListBlockBytes = 65536;
const std::size_t kShownBytes = 64;  // of a name too long to be kept

struct List {
    const char* path;
    int fd;
    char block[kListBlockBytes];
    std::size_t start, end;  // the unread bytes of the block
    bool ended;
    char name[PATH_MAX + 1];
    std::size_t length;  // of the name, which may run past what is kept
};

// What reading the next name found.
enum Next { kName, kListEnd, kListFailed };

// Reads more of the list into its block: the count of bytes, 0 at its
// end, or -1 with errno set.
ssize_t refill(List& list)
{
    ssize_t got;
    while ((got = read(list.fd, list.block, sizeof list.block)) < 0 && errno == EINTR) {
    }
    list.start = 0;
    list.end = got > 0 ? got : 0;
    list.ended = got == 0;
    return got;
}

// Reads the next name, up to its NUL or the list's end, keeping its first
// PATH_MAX bytes; a failed read of the list is reported.
Next next_name(List& list, int& status)
{
    const std::size_t kept_at_most = sizeof list.name - 1;
    list.length = 0;
    for (;;) {
        if (list.start == list.end) {
            if (list.ended) return list.length > 0 ? kName : kListEnd;
            if (refill(list) < 0) {
                status = fail(list.path, errno);
                return kListFailed;
            }
            continue;
        }
        const char* const from = list.block + list.start;
        const std::size_t left = list.end - list.start;
        const char* const nul = static_cast<const char*>(std::memchr(from, '\0', left));
        const std::size_t taken = nul != nullptr ? static_cast<std::size_t>(nul - from) : left;
        if (list.length < kept_at_most) {
            const std::size_t room = kept_at_most - list.length;
            std::memcpy(list.name + list.length, from, taken < room ? taken : room);
        }
        list.length += taken;
        list.start += taken;
        if (nul != nullptr) {
            ++list.start;
            return kName;
        }
    }
}

// Reports a name too long to be a path, with its number and first bytes.
int too_long(const List& list, long number)
{
    char shown[4 * kShownBytes + 1];
    char* at = shown;
    for (std::size_t i = 0; i < kShownBytes; ++i) {
        const unsigned char c = list.name[i];
        at += c >= ' ' && c < 0x7f && c != '\\' ? std::sprintf(at, "%c", c) : std::sprintf(at, "\\x%02x", c);
    }
    char reason[sizeof shown + 64];
    std::snprintf(reason, sizeof reason, "name %ld is too long: %s...", number, shown);
    return fail_because(list.path, reason);
}

// Surveys the recordings named in the file list, each name ended by a NUL
// (the last one may end with the file). Returns 0, or 1 when any failed.
int survey_listed(const char* path)
{
    const bool from_input = std::strcmp(path, "-") == 0;
    // A closed standard input holds /dev/null now: reading it as an empty
    // list would pass for success.
    if (from_input && standard_descriptor_was_closed(STDIN_FILENO)) return fail(path, EBADF);
    static List list;
    list.path = path;
    list.fd = from_input ? STDIN_FILENO : open(path, O_RDONLY);
    if (list.fd < 0) return fail(path, errno);
    list.start = list.end = 0;
    list.ended = false;
    int status = 0;
    for (long number = 1; next_name(list, status) == kName; ++number) {
        if (list.length == 0) {
            char reason[64];
            std::snprintf(reason, sizeof reason, "name %ld is empty", number);
            status = fail_because(path, reason);
        } else if (list.length > PATH_MAX) {
            status = too_long(list, number);
        } else {
            list.name[list.length] = '\0';
            status |= survey(list.name);
        }
    }
    if (!from_input) close(list.fd);
    return status;
}

// --- the command line -----------------------------------------------------------

// Prints the texts on standard output for --help and --version; returns
// the exit status, 1 after reporting a failed write.
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
    std::fprintf(stderr, "%sTry 'tavrin-survey --help' for more information.\n", problem == nullptr ? kUsage : "");
    return kUsageStatus;
}

// The long options, numbered past every character that names a short one.
enum Option { kNoHeader = 256, kRows, kFilesFrom, kHelpOption, kVersionOption };

// What getopt_long refused in the argument just read (arg), which it tells
// by optopt: a short option it does not know, a long one given an argument
// it takes none of, a long one it does not know, or (missing) a long one
// without its argument. Returns the usage error's status.
int refused_option(const char* arg, bool missing)
{
    const int name_length = static_cast<int>(std::strcspn(arg, "="));
    char problem[256];
    if (missing) {
        std::snprintf(problem, sizeof problem, "option '%.*s' requires an argument", name_length, arg);
    } else if (optopt >= kNoHeader) {
        std::snprintf(problem, sizeof problem, "option '%.*s' doesn't allow an argument", name_length, arg);
    } else if (optopt != 0) {
        std::snprintf(problem, sizeof problem, "invalid option -- '%c'", optopt);
    } else {
        std::snprintf(problem, sizeof problem, "unrecognized option '%.200s'", arg);
    }
    return usage_error(problem);
}

// Sets the kind of rows from --rows; false for a kind there is none of.
bool choose_rows(const char* name)
{
    for (int k = 0; k < rows::kKinds; ++k) {
        if (std::strcmp(name, rows::kKindNames[k]) != 0) continue;
        kind = static_cast<rows::Kind>(k);
        return true;
    }
    return false;
}

int bad_kind(const char* name)
{
    char problem[256];
    std::snprintf(problem, sizeof problem, "invalid argument '%.150s' for '--rows': recordings, channels or codes",
                  name);
    return usage_error(problem);
}

// Writes the header of the rows chosen, as the first batch's first row.
void write_header()
{
    const char* const header = rows::kHeaders[kind];
    const std::size_t size = std::strlen(header);
    char* const room = output::row_room(size);
    if (room == nullptr) std::exit(fail("standard output", ENOMEM));
    std::memcpy(room, header, size);
    output::row_done(room + size);
}

}  // namespace

int main(int argc, char** argv)
{
    if (standard_descriptors_guard_error() != 0) return fail("/dev/null", standard_descriptors_guard_error());
    // A reader that has gone, or a file size limit, is a failed write that
    // is reported, not a silent end in the middle of a row.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    static const struct option kOptions[] = {
        {"no-header", no_argument, nullptr, kNoHeader},
        {"rows", required_argument, nullptr, kRows},
        {"files0-from", required_argument, nullptr, kFilesFrom},
        {"help", no_argument, nullptr, kHelpOption},
        {"version", no_argument, nullptr, kVersionOption},
        {nullptr, 0, nullptr, 0},
    };
    bool header = true;
    const char* list = nullptr;
    opterr = 0;  // the messages are this program's own
    for (int option; (option = getopt_long(argc, argv, ":", kOptions, nullptr)) != -1;) {
        switch (option) {
        case kNoHeader: header = false; break;
        case kRows:
            if (!choose_rows(optarg)) return bad_kind(optarg);
            break;
        case kFilesFrom: list = optarg; break;
        case kHelpOption: return print_texts(kUsage, kHelp);
        case kVersionOption: return print_texts(kVersion);
        case ':': return refused_option(argv[optind - 1], true);
        default: return refused_option(argv[optind - 1], false);
        }
    }
    if (optind == argc && list == nullptr) return usage_error();
    output::start();
    if (header) write_header();
    int status = 0;
    for (int arg = optind; arg < argc; ++arg) status |= survey(argv[arg]);
    if (list != nullptr) status |= survey_listed(list);
    output::finish();
    return status;
}
