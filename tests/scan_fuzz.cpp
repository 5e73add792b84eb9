// Fuzz target: arbitrary bytes as one sample line through every scan
// kernel that the processor runs, each against the line model: the ranges,
// the code bits, how many tokens it folded and their values.
#include "line_model.h"
#include "scan.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The line, its newline, and then the input's remaining bytes, which the
// kernels may read but must not take as part of the line.
constexpr std::size_t kMaxLine = model::kMaxLineLength - 1;
constexpr std::size_t kBufferBytes = kMaxLine + 1 + scan::kWindowBytes;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::size_t length = std::min<std::size_t>(std::find(data, data + size, '\n') - data, kMaxLine);
    char buffer[kBufferBytes] = {};
    std::memcpy(buffer, data, length);
    buffer[length] = '\n';
    std::memcpy(buffer + length + 1, data + length, std::min(size - length, kBufferBytes - length - 1));

    char line[kMaxLine + 1] = {};
    std::memcpy(line, data, length);
    model::Ranges expected = model::empty_ranges();
    model::fold_line(line, expected);
    // A fresh range's minimum is its one value, unless the value lies above
    // the codes: then the minimum stays at 1024 and the maximum is it.
    std::vector<int> expected_values;
    for (int chan = 0; chan < model::kNChan; ++chan) {
        if (expected.values[chan] == 0) continue;
        const bool above_codes = expected.minimum[chan] == 1024;
        expected_values.push_back(above_codes ? expected.maximum[chan] : expected.minimum[chan]);
    }

    for (const scan::KernelEntry* k = scan::kernels(); k->name != nullptr; ++k) {
        if (!scan::use_kernel(k->name)) continue;
        model::Ranges got = model::empty_ranges();
        scan::SurveyLine survey;
        std::copy(got.all, got.all + model::kNChan, survey.bits.all);
        std::copy(got.any, got.any + model::kNChan, survey.bits.any);
        const int folded = scan::fold_line(buffer, length, got.minimum, got.maximum, &survey);
        std::copy(survey.bits.all, survey.bits.all + model::kNChan, got.all);
        std::copy(survey.bits.any, survey.bits.any + model::kNChan, got.any);
        std::fill(got.values, got.values + folded, 1);
        // The values it leaves for the survey are those of its tokens.
        const bool values_agree = static_cast<std::size_t>(folded) == expected_values.size() &&
                                  std::equal(survey.values, survey.values + folded, expected_values.begin());
        if (!(got == expected) || !values_agree) {
            std::fprintf(stderr, "the %s kernel differs from the line model\n", k->name);
            std::abort();
        }
    }
    return 0;
}
