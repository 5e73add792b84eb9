// Differential tests: the scan against the line-at-a-time model, on seeded
// random sample files full of awkward bytes and lengths. In-process, every
// kernel that the processor runs goes through the block reader, with a
// normal block and a tiny one, by the million lines; through processes,
// every build of the tool runs a few hundred files, for what only the
// whole program shows.
#include "line_model.h"
#include "runner.h"
#include "sample_files.h"
#include "recording.h"

#include "scan.h"

#include <sys/mman.h>

#include <algorithm>
#include <csignal>
#include <thread>

namespace {

constexpr unsigned kSeed = 20261208;
constexpr long kLines = TAVRIN_DIFF_LINES;
constexpr int kFiles = TAVRIN_DIFF_FILES;
constexpr int kMaxLinesPerFile = 40;
constexpr std::size_t kTinyBlock = 13;
constexpr int kTinyBlockEvery = 32;  // files read with the tiny block too

std::string ranges_text(const model::Ranges& r)
{
    std::string text;
    for (int chan = 0; chan < kNChan; ++chan) {
        text += std::to_string(chan) + ": " + std::to_string(r.minimum[chan]) + " " +
                std::to_string(r.maximum[chan]) + ", " + std::to_string(r.values[chan]) + " values, bits " +
                std::to_string(r.all[chan]) + " in all, " + std::to_string(r.any[chan]) + " in any\n";
    }
    return text;
}

// The reader's tally in the model's terms; without the survey's, the code
// bits and the counts of a scan that found nothing.
model::Ranges ranges_of(const Tally& tally, const CodeTally* codes)
{
    model::Ranges r = model::empty_ranges();
    LineNumber reaching = 0;
    for (int chan = kNChan - 1; chan >= 0; --chan) {
        r.minimum[chan] = tally.minimum[chan];
        r.maximum[chan] = tally.maximum[chan];
        if (codes == nullptr) continue;
        reaching += codes->lines_reaching[chan + 1];
        r.values[chan] = reaching;
        r.all[chan] = codes->line.bits.all[chan];
        r.any[chan] = codes->line.bits.any[chan];
    }
    return r;
}

// The survey's counts in the model's terms.
model::Survey survey_of(const CodeTally& codes)
{
    model::Survey s;
    s.malformed = codes.malformed;
    s.short_lines = codes.short_lines;
    s.pulses = codes.pulses;
    for (int chan = 0; chan < kNChan; ++chan) {
        for (int code = 0; code < kCodes; ++code) {
            if (codes.histogram[chan][code] != 0) s.codes[chan].all[code] = codes.histogram[chan][code];
            if (codes.pulse_histogram[chan][code] != 0) s.codes[chan].pulse[code] = codes.pulse_histogram[chan][code];
        }
    }
    return s;
}

// Whether the survey's counts are the model's, quickly: the counts, each
// channel's count at every code the model has, which must lie in the
// channel's stretch. Only a full look (survey_of) also sees a code counted
// that the model lacks, and it reads all of the histograms.
bool survey_agrees(const CodeTally& codes, const model::Survey& s)
{
    if (codes.malformed != s.malformed || codes.short_lines != s.short_lines || codes.pulses != s.pulses) return false;
    for (int chan = 0; chan < kNChan; ++chan) {
        const model::ChannelCodes& c = s.codes[chan];
        if (!c.all.empty() && (c.all.begin()->first < codes.lowest[chan] || c.all.rbegin()->first > codes.highest[chan])) {
            return false;
        }
        for (const auto& [code, k] : c.all) {
            if (codes.histogram[chan][code] != k) return false;
            if (codes.pulse_histogram[chan][code] != model::count_at(c.pulse, code)) return false;
        }
    }
    return true;
}

std::string survey_text(const model::Survey& s)
{
    std::string text = std::to_string(s.malformed) + " malformed, " + std::to_string(s.short_lines) + " short, " +
                       std::to_string(s.pulses) + " pulses\n";
    for (int chan = 0; chan < kNChan; ++chan) {
        text += std::to_string(chan) + ":";
        for (const auto& [code, k] : s.codes[chan].all) {
            text += " " + std::to_string(code) + "x" + std::to_string(k) + "/" +
                    std::to_string(model::count_at(s.codes[chan].pulse, code));
        }
        text += "\n";
    }
    return text;
}

// The model's ranges as the reader keeps them without the code bits and
// the counts.
model::Ranges without_bits(model::Ranges r)
{
    const model::Ranges none = model::empty_ranges();
    std::copy(none.all, none.all + kNChan, r.all);
    std::copy(none.any, none.any + kNChan, r.any);
    std::copy(none.values, none.values + kNChan, r.values);
    return r;
}

// An in-memory sample file for the reader, and one that takes the
// reader's diagnostics in place of standard error while this lives.
class MemoryFiles {
public:
    MemoryFiles() : samples_(memfd_create("samples", 0)), err_(memfd_create("err", 0)), saved_err_(dup(2))
    {
        std::fflush(stderr);
        dup2(err_, 2);
    }
    ~MemoryFiles()
    {
        dup2(saved_err_, 2);
        close(saved_err_);
        close(err_);
        close(samples_);
    }
    void hold(const std::string& samples)
    {
        EXPECT_EQ(ftruncate(samples_, 0), 0);
        EXPECT_EQ(pwrite(samples_, samples.data(), samples.size(), 0), static_cast<ssize_t>(samples.size()));
    }
    // The sample file, from its start.
    int samples()
    {
        lseek(samples_, 0, SEEK_SET);
        return samples_;
    }
    // What the reader has written to standard error since the last call.
    std::string err()
    {
        const off_t end = lseek(err_, 0, SEEK_CUR);
        std::string text(end - err_read_, '\0');
        if (!text.empty()) {
            EXPECT_EQ(pread(err_, &text[0], text.size(), err_read_), static_cast<ssize_t>(text.size()));
        }
        err_read_ = end;
        return text;
    }

private:
    int samples_, err_, saved_err_;
    off_t err_read_ = 0;
};

TEST(ScanKernels, EveryKernelMatchesTheLineModel)
{
    std::cout << "the dispatcher picks the " << scan::kernel_in_use() << " kernel\n";
    std::vector<const scan::KernelEntry*> kernels;
    for (const scan::KernelEntry* k = scan::kernels(); k->name != nullptr; ++k) {
        if (k->runs_here()) {
            kernels.push_back(k);
        } else {
            std::cout << "skipped: the " << k->name << " kernel, which this processor cannot run\n";
        }
    }
    ASSERT_FALSE(kernels.empty());
    SampleFiles files(kSeed);
    MemoryFiles memory;
    static Tally tally;
    static CodeTally codes;
    long lines = 0;
    for (long n = 0; lines < kLines; ++n) {
        long generated = 0;
        const std::string samples = files.next(kMaxLinesPerFile, generated);
        // Every other file is read as tavrin reads it, without what the
        // survey counts; now and then all of the survey's counts are read.
        CodeTally* const with_codes = n % 2 == 0 ? &codes : nullptr;
        std::istringstream in(samples);
        const model::Scan expected = model::scan(in, "s.txt", "tavrin", with_codes != nullptr);
        lines += expected.lines;
        memory.hold(samples);
        const bool full_look = n % kTinyBlockEvery == 0;
        const model::Ranges expected_ranges = with_codes ? expected.ranges : without_bits(expected.ranges);
        for (const scan::KernelEntry* k : kernels) {
            ASSERT_TRUE(scan::use_kernel(k->name));
            for (const std::size_t block : {kMaxBlockBytes, kTinyBlock}) {
                if (block == kTinyBlock && n % kTinyBlockEvery != 0) continue;
                start_tally(tally);
                start_codes(codes);
                const int status = scan_file(memory.samples(), "s.txt", tally, block, with_codes);
                const model::Ranges got = ranges_of(tally, with_codes);
                const std::string err = memory.err();
                const bool survey_ok = with_codes == nullptr ||
                                       (full_look ? survey_of(codes) == expected.survey : survey_agrees(codes, expected.survey));
                if (got == expected_ranges && status == expected.status && err == expected.err &&
                    tally.lines == expected.lines && tally.unfinished == expected.unfinished && survey_ok) {
                    continue;
                }
                const std::string context = std::string(k->name) + " kernel, " + std::to_string(block) +
                                            "-byte blocks, file " + std::to_string(n) + ": " + escaped(samples);
                ASSERT_EQ(ranges_text(got), ranges_text(expected_ranges)) << context;
                ASSERT_EQ(status, expected.status) << context;
                ASSERT_EQ(err, expected.err) << context;
                ASSERT_EQ(tally.lines, expected.lines) << context;
                ASSERT_EQ(tally.unfinished, expected.unfinished) << context;
                ASSERT_EQ(survey_text(survey_of(codes)), survey_text(expected.survey)) << context;
            }
        }
    }
    std::cout << lines << " lines scanned by each of " << kernels.size() << " kernels\n";
}

// Line numbers go past 2^31 without wrapping, on every processor: after
// 2^31 lines the unfinished last line is named by its true number. Scanning
// that many lines takes seconds natively and far too long emulated.
TEST(ScanKernels, LineNumbersPass32Bits)
{
    if (TAVRIN_TEST_EMULATED) GTEST_SKIP() << "2^31 lines take too long under an emulator";
    constexpr long long kLines = 1LL << 31;
    constexpr int kPipeBytes = 1 << 20;  // the most an unprivileged process may ask, by default
    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    fcntl(pipe_ends[1], F_SETPIPE_SZ, kPipeBytes);  // fewer turns between writer and reader
    // A reader that stops early closes its end: the writer then gets EPIPE,
    // with SIGPIPE held in its thread, and stops rather than block forever.
    std::thread writer([&pipe_ends] {
        sigset_t pipe_signal;
        sigemptyset(&pipe_signal);
        sigaddset(&pipe_signal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
        const std::string lines(kPipeBytes, '\n');
        bool open = true;
        for (long long left = kLines; open && left > 0;) {
            const std::size_t size = static_cast<std::size_t>(std::min<long long>(left, lines.size()));
            const ssize_t put = write(pipe_ends[1], lines.data(), size);
            open = put > 0;
            left -= put;
        }
        if (open) {
            EXPECT_EQ(write(pipe_ends[1], "1", 1), 1);
        }
        close(pipe_ends[1]);
    });
    MemoryFiles memory;
    static Tally tally;
    start_tally(tally);
    EXPECT_EQ(scan_file(pipe_ends[0], "s.txt", tally, kMaxBlockBytes, nullptr), 0);
    EXPECT_EQ(tally.lines, kLines);
    close(pipe_ends[0]);
    writer.join();
    EXPECT_EQ(memory.err(), "tavrin: s.txt: line 2147483649: no newline at the end, line ignored\n");
}

class ScanDiff : public ScratchDir {};

// Runs every build of the tool that this processor can run against the
// model program, each on its share of the files: what it prints, logs and
// exits with.
TEST_F(ScanDiff, EveryToolMatchesTheLineModel)
{
    std::vector<Tool> tools;
    write_file("s.txt", "1 2 3\n");
    for (const Tool& tool : tools_under_test()) {
        if (run(tool.command, {"7", "cfg", "s.txt"}).status == 128 + SIGILL) {
            std::cout << "skipped: the " << tool.kernel << " kernel, which this processor cannot run\n";
        } else {
            tools.push_back(tool);
        }
    }
    const std::string log = "zelquist_sampa7_cfg.log";
    SampleFiles files(kSeed + 1);
    long lines = 0;
    // Each file also goes packed in one of the compressed formats, in turn,
    // whose text must give exactly what the plain file gives.
    const std::vector<const Packer*> formats = formats_for(tools.front().command);
    // The survey reads them all in one run, every other one packed, each
    // under a name of its own, for each kind of rows.
    std::string list, rows, channel_rows, code_rows, errs;
    int survey_status = 0;
    for (int n = 0; n < kFiles; ++n) {
        const std::string samples = files.next(kMaxLinesPerFile / 4, lines);
        write_file("s.txt", samples);
        const Outcome model = run({LINE_MODEL_EXE}, {"s.txt"});
        const Tool& tool = tools[n % tools.size()];
        for (const Packer* packer : {formats[0], formats[1 + n % (formats.size() - 1)]}) {
            if (packer != nullptr) write_file("s.txt", packed(samples, *packer));
            std::filesystem::remove(log);
            const Outcome outcome = run(tool.command, {"7", "cfg", "s.txt"});
            const std::size_t report = outcome.out.find('\n', outcome.out.find('\n') + 1) + 1;
            const std::string context = tool.kernel + " kernel, " + std::to_string(tool.block) +
                                        "-byte blocks, " + format_name(packer) + ", file " + std::to_string(n) +
                                        ": " + escaped(samples);
            ASSERT_EQ(slurp(log) + outcome.out.substr(report), model.out) << context;
            ASSERT_EQ(outcome.err, model.err) << context;
            ASSERT_EQ(outcome.status, model.status) << context;
            if ((packer == nullptr) == (n % 2 == 0)) {
                const std::string name = "f" + std::to_string(n) + "." + format_name(packer);
                std::filesystem::copy_file("s.txt", name);
                std::istringstream in(samples);
                const model::Scan expected = model::scan(in, name, "tavrin-survey");
                rows += model::survey_row(name, expected, expected.status);
                channel_rows += model::channel_rows(name, expected);
                code_rows += model::code_rows(name, expected);
                errs += expected.err;
                survey_status |= expected.status;
                list += name + '\0';
            }
        }
    }
    write_file("list", list);
    const std::vector<std::pair<std::string, std::string>> kinds = {
        {"recordings", rows}, {"channels", channel_rows}, {"codes", code_rows}};
    for (const auto& [kind, expected_rows] : kinds) {
        const Outcome surveyed =
            run(survey_beside(tools.front().command), {"--no-header", "--rows=" + kind, "--files0-from=list"});
        EXPECT_EQ(surveyed.out, expected_rows) << kind;
        EXPECT_EQ(surveyed.err, errs) << kind;
        EXPECT_EQ(surveyed.status, survey_status) << kind;
    }
}

}  // namespace
