// Pedestal and noise across a campaign: each channel's distribution in
// each configuration, summarised robustly, and the channels of chips that
// lie far outside it.
#ifndef TAVRIN_REPORT_STATS_H
#define TAVRIN_REPORT_STATS_H

#include "report_campaign.h"

#include <cstddef>
#include <cstdint>

namespace report {

// The median absolute deviation of normally distributed values, times
// this, is their standard deviation.
const double kMadToSigma = 1.4826;
// Where more than half of the values are the median, the MAD is 0; the
// mean absolute deviation from the median, times this (the ratio of the
// two for normally distributed values, the square root of pi / 2), then
// stands for the standard deviation.
const double kMeanDeviationToSigma = 1.2533;
// A value is an outlier beyond this many robust standard deviations.
const double kOutlierSigmas = 5;

// A distribution, summarised for its box plot.
struct Spread {
    std::size_t count;
    float minimum;
    float lower_quartile;
    float median;
    float upper_quartile;
    float maximum;
    double sigma;  // the robust standard deviation; 0 when every value is the median
    // The most extreme values within kOutlierSigmas of the median.
    float low_whisker;
    float high_whisker;
};

// Summarises the count values, which it reorders; scratch holds as many.
// No value may be NaN.
Spread spread_of(float* values, std::size_t count, float* scratch);

// Lies more than kOutlierSigmas robust standard deviations from the median.
bool is_outlier(const Spread& spread, float value);
// How many robust standard deviations from the median (0 when none can be
// measured).
double deviations(const Spread& spread, float value);

enum Quantity { kPedestal, kNoise };
const int kQuantities = kNoise + 1;

// A channel of a deciding recording that lies outside its distribution.
struct Outlier {
    std::uint32_t recording;
    std::uint8_t channel;
    std::uint8_t quantity;
    float deviations;
};

struct Distributions {
    // By configuration, channel and quantity: spread_at gives the place.
    Array<Spread> spreads;
    // Every outlier, the farthest first.
    Array<Outlier> outliers;
    // By configuration: the channels of its deciding recordings left out as
    // a ramp's (see kRampSpan).
    Array<std::size_t> ramps;
};

std::size_t spread_at(std::uint32_t config, int channel, Quantity quantity);

// The spreads of each configuration's channels over its deciding
// recordings, NaN and ramps left out, and their outliers.
void measure(const Campaign& campaign, Distributions& distributions);

float value_of(const Channel& channel, Quantity quantity);

}  // namespace report

#endif
