// Recordings, their chips and configurations, and the verdicts.
#include "report_campaign.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace report {

// After _adc.txt, a compressed recording's suffix or none: a file beside
// a recording, such as its .md5, is no recording of the chip.
const char kStationNaming[] =
    "^[0-9]+_sta[0-9]+_sampa([^_/]+)_quirn[0-9]+_link[0-9]+_(.+)_adc\\.txt(\\.(gz|bz2|xz|zst|zstd))?$";

namespace {

const char kNoConfig[] = "-";  // the configuration of a name that does not follow the naming
const int kNamingGroups = 3;   // the whole match, the chip, the configuration

const Channel kUnknownChannel = {NAN, NAN, faults::kNoFault};

// The name as the rows write it, with \\, \t and \n made the bytes again,
// NUL-terminated in text.
void unescape(const char* name, std::size_t length, Array<char>& text)
{
    text.clear();
    for (std::size_t i = 0; i < length; ++i) {
        char byte = name[i];
        if (byte == '\\' && i + 1 < length) {
            const char escaped = name[++i];
            byte = escaped == 't' ? '\t' : escaped == 'n' ? '\n' : escaped;
        }
        text.push(byte);
    }
    text.push('\0');
}

std::uint32_t chip_named(Campaign& campaign, const char* name, std::size_t length, bool named)
{
    const std::uint32_t before = campaign.chips_by_name.size();
    const std::uint32_t chip = campaign.chips_by_name.intern(name, length);
    if (chip == before) {
        const Chip fresh = {0, 0, faults::kGood, named};
        campaign.chips.push(fresh);
    }
    return chip;
}

// Numbers in names, such as chips 99 and 171471, compare by value: the
// longer run of digits, leading zeros aside, is the greater.
int compare_naturally(const char* a, const char* b)
{
    while (*a != '\0' && *b != '\0') {
        const bool digits = *a >= '0' && *a <= '9' && *b >= '0' && *b <= '9';
        if (!digits) {
            if (*a != *b) return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b) ? -1 : 1;
            ++a, ++b;
            continue;
        }
        while (*a == '0' && a[1] >= '0' && a[1] <= '9') ++a;
        while (*b == '0' && b[1] >= '0' && b[1] <= '9') ++b;
        std::size_t a_digits = std::strspn(a, "0123456789");
        const std::size_t b_digits = std::strspn(b, "0123456789");
        if (a_digits != b_digits) return a_digits < b_digits ? -1 : 1;
        const int order = std::strncmp(a, b, a_digits);
        if (order != 0) return order;
        a += a_digits;
        b += a_digits;
    }
    return *a == *b ? 0 : *a == '\0' ? -1 : 1;
}

void order_configs(Campaign& campaign)
{
    const std::uint32_t count = campaign.configs.size();
    for (std::uint32_t config = 0; config < count; ++config) campaign.config_order.push(config);
    const Interner& names = campaign.configs;
    std::sort(campaign.config_order.begin(), campaign.config_order.end(),
              [&names](std::uint32_t a, std::uint32_t b) { return std::strcmp(names.text(a), names.text(b)) < 0; });
    campaign.config_rank.resize(count, 0);
    for (std::uint32_t rank = 0; rank < count; ++rank) campaign.config_rank[campaign.config_order[rank]] = rank;
}

}  // namespace

std::uint32_t recording_of(Campaign& campaign, const char* name, std::size_t length)
{
    const std::uint32_t recording = campaign.names.intern(name, length);
    if (recording == campaign.recordings.size()) {
        const Recording fresh = {0, 0, 0, 0, 0, false, false, {0, 0}};
        campaign.recordings.push(fresh);
        campaign.channels.resize(campaign.channels.size() + kChannels, kUnknownChannel);
    }
    return recording;
}

bool has_rows(const Recording& recording)
{
    return recording.summarised || recording.channel_rows != 0;
}

Channel* channels_of(Campaign& campaign, std::uint32_t recording)
{
    return campaign.channels.begin() + std::size_t{recording} * kChannels;
}

const Channel* channels_of(const Campaign& campaign, std::uint32_t recording)
{
    return campaign.channels.begin() + std::size_t{recording} * kChannels;
}

void name_chips(Campaign& campaign, const regex_t& naming)
{
    Array<char> name;
    for (std::uint32_t r = 0; r < campaign.recordings.size(); ++r) {
        Recording& recording = campaign.recordings[r];
        if (!has_rows(recording)) continue;
        unescape(campaign.names.text(r), campaign.names.length(r), name);
        const char* const slash = std::strrchr(name.begin(), '/');
        const char* const file = slash == nullptr ? name.begin() : slash + 1;
        regmatch_t groups[kNamingGroups];
        const bool named = regexec(&naming, file, kNamingGroups, groups, 0) == 0 && groups[1].rm_so >= 0 &&
                           groups[2].rm_so >= 0;
        if (named) {
            recording.chip = chip_named(campaign, file + groups[1].rm_so, groups[1].rm_eo - groups[1].rm_so, true);
            recording.config = campaign.configs.intern(file + groups[2].rm_so, groups[2].rm_eo - groups[2].rm_so);
        } else {
            recording.chip = chip_named(campaign, name.begin(), name.size() - 1, false);
            recording.config = campaign.configs.intern(kNoConfig, sizeof kNoConfig - 1);
        }
        campaign.config_named.resize(campaign.configs.size(), false);
        if (named) campaign.config_named[recording.config] = true;
    }
    order_configs(campaign);
}

faults::Verdict verdict_of(const Campaign& campaign, std::uint32_t recording)
{
    faults::Verdict worst = campaign.recordings[recording].findings != 0 ? faults::kFindingVerdict : faults::kGood;
    const Channel* const channels = channels_of(campaign, recording);
    for (int chan = 0; chan < kChannels; ++chan) worst = std::max(worst, faults::verdict_of(channels[chan].faults));
    return worst;
}

void decide(Campaign& campaign)
{
    Array<std::uint32_t> order;
    for (std::uint32_t r = 0; r < campaign.recordings.size(); ++r) {
        if (has_rows(campaign.recordings[r])) order.push(r);
    }
    // By chip, configuration and name: the last of each chip and
    // configuration is the latest, since the station's names begin with
    // the time (and its archive's directories with the date).
    const Campaign& c = campaign;
    std::sort(order.begin(), order.end(), [&c](std::uint32_t a, std::uint32_t b) {
        const Recording& x = c.recordings[a];
        const Recording& y = c.recordings[b];
        if (x.chip != y.chip) return x.chip < y.chip;
        if (x.config != y.config) return c.config_rank[x.config] < c.config_rank[y.config];
        return std::strcmp(c.names.text(a), c.names.text(b)) < 0;
    });
    for (std::size_t i = 0; i < order.size(); ++i) {
        Recording& recording = campaign.recordings[order[i]];
        const bool latest = i + 1 == order.size() || campaign.recordings[order[i + 1]].chip != recording.chip ||
                            campaign.recordings[order[i + 1]].config != recording.config;
        if (!latest) {
            campaign.set_aside.push(order[i]);
            continue;
        }
        recording.deciding = true;
        Chip& chip = campaign.chips[recording.chip];
        if (chip.configs == 0) chip.first = campaign.deciding.size();
        ++chip.configs;
        chip.verdict = std::max(chip.verdict, verdict_of(campaign, order[i]));
        campaign.deciding.push(order[i]);
    }
}

std::uint32_t missing_configs(const Campaign& campaign, std::uint32_t chip, Array<std::uint32_t>& missing)
{
    missing.clear();
    const Chip& the_chip = campaign.chips[chip];
    if (!the_chip.named) return 0;
    std::uint32_t had = 0;  // the chip's configurations, in the same order as config_order
    for (const std::uint32_t config : campaign.config_order) {
        if (!campaign.config_named[config]) continue;
        const bool has = had < the_chip.configs &&
                         campaign.recordings[campaign.deciding[the_chip.first + had]].config == config;
        if (has) {
            ++had;
        } else {
            missing.push(config);
        }
    }
    return static_cast<std::uint32_t>(missing.size());
}

std::uint32_t deciding_recording(const Campaign& campaign, std::uint32_t chip, std::uint32_t config)
{
    const Chip& the_chip = campaign.chips[chip];
    for (std::uint32_t i = 0; i < the_chip.configs; ++i) {
        const std::uint32_t r = campaign.deciding[the_chip.first + i];
        if (campaign.recordings[r].config == config) return r;
    }
    return kNoRecording;
}

bool chip_before(const Campaign& campaign, std::uint32_t a, std::uint32_t b)
{
    const int order = compare_naturally(campaign.chips_by_name.text(a), campaign.chips_by_name.text(b));
    return order != 0 ? order < 0 : a < b;
}

}  // namespace report
