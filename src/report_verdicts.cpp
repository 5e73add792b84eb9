// Counting the findings, and the verdicts file.
#include "report_verdicts.h"

#include <algorithm>

namespace report {

namespace {

const char kVerdictsHeader[] = "chip\tverdict\treasons\n";

// Counts the classes and findings of one deciding recording into counts,
// and into seen those that the chip has so far.
void count_recording(const Campaign& campaign, std::uint32_t r, Counts& counts, bool (&classes_seen)[faults::kClasses],
                     bool (&findings_seen)[faults::kFindings])
{
    const Channel* const channels = channels_of(campaign, r);
    for (int chan = 0; chan < kChannels; ++chan) {
        for (int c = 0; c < faults::kOk; ++c) {
            if (!faults::has(channels[chan].faults, static_cast<faults::Class>(c))) continue;
            ++counts.class_channels[c];
            classes_seen[c] = true;
        }
    }
    for (int f = 0; f < faults::kFindings; ++f) {
        if ((campaign.recordings[r].findings >> f & 1) == 0) continue;
        ++counts.finding_recordings[f];
        findings_seen[f] = true;
    }
}

void put_item(Text& text, bool& first, const Campaign& campaign, std::uint32_t config)
{
    if (!first) text.add(",");
    first = false;
    text.field(campaign.configs.text(config), campaign.configs.length(config));
    text.add(":");
}

void put_reasons(const Campaign& campaign, std::uint32_t chip, Text& text)
{
    bool first = true;
    const Chip& the_chip = campaign.chips[chip];
    for (std::uint32_t i = 0; i < the_chip.configs; ++i) {
        const std::uint32_t r = campaign.deciding[the_chip.first + i];
        const std::uint32_t config = campaign.recordings[r].config;
        for (int f = 0; f < faults::kFindings; ++f) {
            if ((campaign.recordings[r].findings >> f & 1) == 0) continue;
            put_item(text, first, campaign, config);
            text.add(faults::finding_name(static_cast<faults::Finding>(f)));
        }
        const Channel* const channels = channels_of(campaign, r);
        for (int chan = 0; chan < kChannels; ++chan) {
            faults::Set rest = channels[chan].faults;
            faults::Class fault;
            int bit;
            while (faults::take_name(rest, fault, bit)) {
                put_item(text, first, campaign, config);
                text.format(bit < 0 ? "%d:%s" : "%d:%s:%d", chan, faults::class_name(fault), bit);
            }
        }
    }
}

}  // namespace

void count(const Campaign& campaign, Counts& counts)
{
    counts = Counts();
    for (const Recording& recording : campaign.recordings) {
        if (!has_rows(recording)) continue;
        ++counts.recordings;
        counts.unnamed_recordings += !campaign.chips[recording.chip].named;
    }
    counts.set_aside = campaign.set_aside.size();
    counts.chips = campaign.chips.size();
    for (const bool named : campaign.config_named) counts.configs += named;
    Array<std::uint32_t> missing;
    for (std::uint32_t chip = 0; chip < campaign.chips.size(); ++chip) {
        const Chip& the_chip = campaign.chips[chip];
        ++counts.verdicts[the_chip.verdict];
        counts.unnamed_chips += !the_chip.named;
        counts.chips_missing_configs += missing_configs(campaign, chip, missing) > 0;
        bool classes_seen[faults::kClasses] = {};
        bool findings_seen[faults::kFindings] = {};
        for (std::uint32_t i = 0; i < the_chip.configs; ++i) {
            count_recording(campaign, campaign.deciding[the_chip.first + i], counts, classes_seen, findings_seen);
        }
        for (int c = 0; c < faults::kClasses; ++c) counts.class_chips[c] += classes_seen[c];
        for (int f = 0; f < faults::kFindings; ++f) counts.finding_chips[f] += findings_seen[f];
    }
}

void sort_chips(const Campaign& campaign, bool by_verdict, Array<std::uint32_t>& chips)
{
    chips.clear();
    for (std::uint32_t chip = 0; chip < campaign.chips.size(); ++chip) chips.push(chip);
    std::sort(chips.begin(), chips.end(), [&campaign, by_verdict](std::uint32_t a, std::uint32_t b) {
        const faults::Verdict x = campaign.chips[a].verdict;
        const faults::Verdict y = campaign.chips[b].verdict;
        if (by_verdict && x != y) return x > y;
        return chip_before(campaign, a, b);
    });
}

void write_verdicts(const Campaign& campaign, Text& text)
{
    text.add(kVerdictsHeader);
    Array<std::uint32_t> chips;
    sort_chips(campaign, false, chips);
    for (const std::uint32_t chip : chips) {
        text.field(campaign.chips_by_name.text(chip), campaign.chips_by_name.length(chip));
        text.add("\t");
        text.add(faults::verdict_name(campaign.chips[chip].verdict));
        text.add("\t");
        put_reasons(campaign, chip, text);
        text.add("\n");
    }
}

}  // namespace report
