// Differential test: the tool's block reader against the line-at-a-time
// model, on seeded random sample files full of awkward bytes and lengths.
#include "runner.h"

#include <csignal>
#include <random>

namespace {

constexpr int kFiles = TAVRIN_DIFF_FILES;
constexpr unsigned kSeed = 20261208;

class SampleFiles {
public:
    std::string next()
    {
        std::string file;
        for (int lines = pick(10); lines > 0; --lines) file += line() + (pick(8) ? "\n" : "\r\n");
        if (!file.empty() && pick(4) == 0) file.pop_back();  // no final newline
        return file;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    std::string number()
    {
        static const char* const kSigns[] = {"", "", "", "-", "+", "--", "+-"};
        std::string text = kSigns[pick(7)];
        const int digits = pick(10) ? 1 + pick(4) : 1 + pick(20);  // now and then past 32 bits
        for (int i = 0; i < digits; ++i) text += static_cast<char>('0' + pick(10));
        return text;
    }

    std::string noise(std::size_t length)
    {
        static const char kAlphabet[] = "0123456789    \t\r\v\f+-ax:/\xe9\xff\x80\xa0\xb0\0";
        static const std::string kBytes(kAlphabet, sizeof kAlphabet - 1);  // with the NUL
        std::string text;
        while (text.size() < length) text += kBytes[pick(static_cast<int>(kBytes.size()))];
        return text;
    }

    std::string plain_number() { return std::to_string(pick(10) ? pick(1024) : pick(10)); }

    // A token that no quick conversion of short plain numbers may take.
    std::string awkward_token()
    {
        static const char* const kTokens[] = {"12345", "-7", "+7", "7\t", "\t7", "7a", "1023456789012"};
        std::string token = kTokens[pick(7)];
        if (pick(4) == 0) token.insert(pick(static_cast<int>(token.size()) + 1), 1, '\0');
        return token;
    }

    // Plain short numbers around the end of the first 64-byte window, with
    // a token that starts on one of its last bytes or the next window's
    // first, and now and then an awkward token in one of the two windows.
    std::string window_line()
    {
        const std::size_t at = 58 + pick(8);
        std::string text;
        while (text.size() < at) text += plain_number() + std::string(1 + pick(4) / 3, ' ');
        text.resize(at - 1);
        text += ' ';
        text += pick(4) ? plain_number() : awkward_token();
        for (std::size_t end = 100 + pick(60); text.size() < end;) {
            text += ' ' + (pick(12) ? plain_number() : awkward_token());
        }
        return text;
    }

    std::string line()
    {
        if (pick(4) == 0) return window_line();
        std::string text = std::string(pick(3), ' ');
        for (int tokens = pick(3) ? pick(40) : 0; tokens > 0; --tokens) {
            text += (pick(10) ? number() : noise(1 + pick(3))) + std::string(1 + pick(2) * pick(3), ' ');
        }
        if (pick(3) == 0) text += noise(pick(30));
        if (pick(4) == 0) text.resize(188 + pick(7), pick(2) ? ' ' : '7');  // around the length limit
        return text;
    }

    std::mt19937 rng_{kSeed};
};

std::string escaped(const std::string& bytes)
{
    std::string text;
    for (const unsigned char c : bytes) {
        if (c >= ' ' && c < 127 && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            text += code;
        }
    }
    return text;
}

class ScanDiff : public ScratchDir {};

// Runs every build of the tool that this processor can run, every scan
// kernel with a large block and a tiny one, against the model.
TEST_F(ScanDiff, BlockReaderMatchesLineReader)
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
    SampleFiles files;
    for (int n = 0; n < kFiles; ++n) {
        const std::string samples = files.next();
        write_file("s.txt", samples);
        const Outcome model = run({LINE_MODEL_EXE}, {"s.txt"});
        for (const Tool& tool : tools) {
            std::filesystem::remove(log);
            const Outcome outcome = run(tool.command, {"7", "cfg", "s.txt"});
            const std::size_t report = outcome.out.find('\n', outcome.out.find('\n') + 1) + 1;
            const std::string context = tool.kernel + " kernel, " + std::to_string(tool.block) +
                                        "-byte blocks, file " + std::to_string(n) + ": " + escaped(samples);
            ASSERT_EQ(slurp(log) + outcome.out.substr(report), model.out) << context;
            ASSERT_EQ(outcome.err, model.err) << context;
            ASSERT_EQ(outcome.status, model.status) << context;
        }
    }
}

}  // namespace
