// What the report knows of a campaign: its recordings, each channel's
// pedestal, noise and faults, the code histograms kept as evidence, and,
// once every row is read, the chips and configurations named by the
// recordings' names and each chip's verdict.
#ifndef TAVRIN_REPORT_CAMPAIGN_H
#define TAVRIN_REPORT_CAMPAIGN_H

#include "faults.h"
#include "recording.h"
#include "report_memory.h"

#include <regex.h>

#include <cstdint>

namespace report {

const int kChannels = kNChan;
const std::uint32_t kAllChannels = 0xFFFFFFFFu;
static_assert(kChannels == 32, "a chip's channels are one bit each of a 32-bit mask");
// A channel whose codes span this many or more (its highest less its
// lowest), half the ADC's range, is a ramp's, sweeping its codes: its mean
// and rms are no pedestal and noise.
const int kRampSpan = (1 << kAdcBits) / 2;

// A channel of a recording: the mean of its codes (the pedestal) and their
// rms (the noise), NaN where it had no code, and its faults.
struct Channel {
    float mean;
    float rms;
    faults::Set faults;
};

// Where a row was read: the file's index among the inputs, and its line.
struct Place {
    std::uint32_t file;
    LineNumber line;
};

struct Recording {
    std::uint32_t chip;    // set by name_chips
    std::uint32_t config;  // set by name_chips
    std::uint32_t channel_rows;  // the channels that channel rows gave, a bit each
    std::uint32_t ramps;         // the channels whose codes span kRampSpan or more, a bit each
    std::uint8_t findings;       // a bit per faults::Finding
    bool summarised;  // a recording row gave all its channels
    bool deciding;    // the latest of its chip and configuration, which gives the verdict
    Place last_channel_row;
};

// One code row: how many values of a recording's channel had the code, and
// the index among the inputs of the file that gave it.
struct CodeCount {
    std::uint32_t recording;
    std::uint16_t channel;
    std::uint16_t code;
    std::uint64_t count;
    std::uint32_t file;
};

struct Chip {
    std::size_t first;  // its deciding recordings in Campaign::deciding, by configuration
    std::uint32_t configs;
    faults::Verdict verdict;
    bool named;  // its recordings' names follow the naming; otherwise the chip is one recording's name
};

struct Campaign {
    Interner names;  // the recordings' names as the rows write them, escapes and all
    Array<Recording> recordings;
    Array<Channel> channels;  // kChannels per recording
    Array<CodeCount> codes;
    Interner chips_by_name;
    Array<Chip> chips;
    Interner configs;
    Array<std::uint32_t> config_order;  // the configurations by name
    Array<std::uint32_t> config_rank;   // each configuration's place in config_order
    Array<bool> config_named;           // some chip whose name follows the naming has it
    Array<std::uint32_t> deciding;   // recordings, by chip, then configuration
    Array<std::uint32_t> set_aside;  // earlier recordings of a chip and configuration, by name
};

// The recording of that name, added with no channel known when it is new.
std::uint32_t recording_of(Campaign& campaign, const char* name, std::size_t length);
// Whether rows other than code rows gave the recording.
bool has_rows(const Recording& recording);
Channel* channels_of(Campaign& campaign, std::uint32_t recording);
const Channel* channels_of(const Campaign& campaign, std::uint32_t recording);

// The station's naming, as a POSIX extended regular expression over a
// recording's file name whose first two groups are the chip and the
// configuration.
extern const char kStationNaming[];

// Gives each recording with rows its chip and configuration from its file
// name (the part after the last slash, unescaped) by the pattern; a name
// that does not match is a chip of its own, of the configuration "-".
void name_chips(Campaign& campaign, const regex_t& naming);

// Chooses the recording that decides each chip's verdict in each
// configuration, the latest by name, and gives each chip its verdict.
void decide(Campaign& campaign);

// The chip's configurations, in the order of their names, that some named
// chip has and it lacks; returns how many went into missing.
std::uint32_t missing_configs(const Campaign& campaign, std::uint32_t chip, Array<std::uint32_t>& missing);

// The chip's deciding recording in the configuration, or kNoRecording.
const std::uint32_t kNoRecording = UINT32_MAX;
std::uint32_t deciding_recording(const Campaign& campaign, std::uint32_t chip, std::uint32_t config);

// The chip's verdict in one of its deciding recordings.
faults::Verdict verdict_of(const Campaign& campaign, std::uint32_t recording);

// Chips in the order of their names, digits compared as numbers.
bool chip_before(const Campaign& campaign, std::uint32_t a, std::uint32_t b);

}  // namespace report

#endif
