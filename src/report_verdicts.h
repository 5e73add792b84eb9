// The campaign's verdicts in numbers and as the production database takes
// them: a row per chip with its verdict and reasons.
#ifndef TAVRIN_REPORT_VERDICTS_H
#define TAVRIN_REPORT_VERDICTS_H

#include "report_campaign.h"
#include "report_text.h"

#include <cstddef>

namespace report {

struct Counts {
    std::size_t recordings;  // given, each once, set aside or not
    std::size_t set_aside;   // earlier recordings of a chip and configuration
    std::size_t chips;
    std::size_t configs;     // those of names that follow the naming
    std::size_t verdicts[faults::kVerdicts];
    // Over the deciding recordings: the channels of each class, and the
    // chips with a channel of it.
    std::size_t class_channels[faults::kClasses];
    std::size_t class_chips[faults::kClasses];
    std::size_t finding_recordings[faults::kFindings];
    std::size_t finding_chips[faults::kFindings];
    std::size_t chips_missing_configs;
    std::size_t unnamed_chips;  // named after a recording whose name does not follow the naming
    std::size_t unnamed_recordings;  // whose names do not follow the naming
};

void count(const Campaign& campaign, Counts& counts);

// The chips, scrapped ones first, then those to test again, then good ones
// (or all by name alone), each group by name.
void sort_chips(const Campaign& campaign, bool by_verdict, Array<std::uint32_t>& chips);

// The verdicts file: a header, then a row per chip by name: chip, verdict
// and reasons, "<config>:<channel>:<fault>", "<config>:<finding>" and
// "<config>:missing" items, comma-separated.
void write_verdicts(const Campaign& campaign, Text& text);

}  // namespace report

#endif
