// Seeded random sample files full of awkward bytes and lengths, for the
// differential tests of the scan against the line-at-a-time model.
#ifndef TAVRIN_TESTS_SAMPLE_FILES_H
#define TAVRIN_TESTS_SAMPLE_FILES_H

#include <cstdint>
#include <cstdio>
#include <string>

class SampleFiles {
public:
    explicit SampleFiles(std::uint64_t seed) : state_(seed) {}

    // A file of up to max_lines lines; returns it and counts its lines.
    std::string next(int max_lines, long& lines)
    {
        std::string file;
        for (int n = pick(max_lines + 1); n > 0; --n, ++lines) file += line() + (pick(8) ? "\n" : "\r\n");
        if (!file.empty() && pick(4) == 0) file.pop_back();  // no final newline
        return file;
    }

    // One line, without its newline.
    std::string line()
    {
        switch (pick(9)) {
        case 0:
        case 1:
        case 2: return plain_line(false);
        case 3: return plain_line(true);
        case 4:
        case 5: return window_line();
        case 6: return pulse_line();
        default: return noisy_line();
        }
    }

private:
    // A number from 0 to n - 1, from a splitmix64 generator: the tests draw
    // tens of millions, and this is several times quicker than mt19937.
    int pick(int n)
    {
        std::uint64_t z = state_ += 0x9E3779B97F4A7C15u;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return static_cast<int>(((z ^ (z >> 31)) >> 32) * static_cast<std::uint64_t>(n) >> 32);
    }

    std::string spaces(int most) { return std::string(1 + pick(most), ' '); }

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

    // A plain number of 1 to 4 digits, leading zeros now and then.
    std::string plain_number()
    {
        if (pick(8) == 0) return std::string(pick(3), '0') + std::to_string(pick(10));
        const int digits = 1 + pick(4);
        static const int kLimit[] = {1, 10, 100, 1000, 10000};
        const int lowest = digits == 1 ? 0 : kLimit[digits - 1];
        return std::to_string(lowest + pick(kLimit[digits] - lowest));
    }

    // A token that no quick conversion of short plain numbers may take.
    std::string awkward_token()
    {
        static const char* const kTokens[] = {"12345", "99999", "-7", "+7", "7\t", "\t7", "7a", "1023456789012",
                                              "7\r", "\xe9", "00000", "-0"};
        std::string token = kTokens[pick(12)];
        if (pick(4) == 0) token.insert(pick(static_cast<int>(token.size()) + 1), 1, '\0');
        return token;
    }

    // Plain numbers at every offset, so that they cross every 16-, 32- and
    // 64-byte boundary; with one awkward token somewhere when asked; now and
    // then stretched to 185-191 bytes, the longest a line may be.
    std::string plain_line(bool awkward)
    {
        std::string text(pick(3), ' ');
        const int tokens = pick(4) ? 20 + pick(30) : pick(20);
        const int odd_one = awkward ? pick(tokens + 1) : -1;
        for (int t = 0; t < tokens; ++t) {
            text += t == odd_one ? awkward_token() : plain_number();
            text += spaces(pick(6) ? 1 : 3);
        }
        if (tokens > 0 && pick(3)) text.pop_back();  // no space at the end
        if (pick(4) == 0) text.resize(185 + pick(7), pick(2) ? ' ' : '7');
        if (text.size() > 191) text.resize(191 - pick(8));
        return text;
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

    // A line on which most values are 0 or 1, about as many as make a
    // pulse line (16 of 32), and now and then an awkward token.
    std::string pulse_line()
    {
        std::string text;
        const int tokens = 12 + pick(21);
        for (int t = 0; t < tokens; ++t) {
            if (t > 0) text += ' ';
            text += pick(10) < 6 ? std::to_string(pick(2)) : pick(20) ? plain_number() : awkward_token();
        }
        return text;
    }

    std::string noisy_line()
    {
        std::string text = std::string(pick(3), ' ');
        for (int tokens = pick(3) ? pick(40) : 0; tokens > 0; --tokens) {
            text += (pick(10) ? number() : noise(1 + pick(3))) + std::string(1 + pick(2) * pick(3), ' ');
        }
        if (pick(3) == 0) text += noise(pick(30));
        if (pick(4) == 0) text.resize(185 + pick(10), pick(2) ? ' ' : '7');  // around the length limit
        return text;
    }

    std::uint64_t state_;
};

// The bytes, with those that would not print shown as \xNN.
inline std::string escaped(const std::string& bytes)
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

#endif
