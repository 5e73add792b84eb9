// Medians, quartiles and deviations by selection (nth_element), in place.
#include "report_stats.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace report {

namespace {

// The median of the values, which it reorders.
float median_of(float* values, std::size_t count)
{
    float* const middle = values + count / 2;
    std::nth_element(values, middle, values + count);
    if (count % 2 == 1) return *middle;
    // The mean of the two in the middle: the lower one is the greatest of
    // the lower half, which nth_element left in front of the middle.
    const float below = *std::max_element(values, middle);
    return static_cast<float>((static_cast<double>(below) + *middle) / 2);
}

// The value at the quantile of the sorted order, by selection.
float quantile_of(float* values, std::size_t count, std::size_t numerator, std::size_t denominator)
{
    float* const at = values + (count - 1) * numerator / denominator;
    std::nth_element(values, at, values + count);
    return *at;
}

double robust_sigma(const float* values, std::size_t count, float median, float* scratch)
{
    double absolute_sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        scratch[i] = std::fabs(values[i] - median);
        absolute_sum += scratch[i];
    }
    const double mad = median_of(scratch, count);
    if (mad > 0) return kMadToSigma * mad;
    return kMeanDeviationToSigma * absolute_sum / count;
}

}  // namespace

Spread spread_of(float* values, std::size_t count, float* scratch)
{
    Spread spread = {};
    spread.count = count;
    if (count == 0) return spread;
    spread.median = median_of(values, count);
    spread.sigma = robust_sigma(values, count, spread.median, scratch);
    spread.lower_quartile = quantile_of(values, count, 1, 4);
    spread.upper_quartile = quantile_of(values, count, 3, 4);
    spread.minimum = *std::min_element(values, values + count);
    spread.maximum = *std::max_element(values, values + count);
    spread.low_whisker = spread.median;
    spread.high_whisker = spread.median;
    for (std::size_t i = 0; i < count; ++i) {
        if (is_outlier(spread, values[i])) continue;
        spread.low_whisker = std::min(spread.low_whisker, values[i]);
        spread.high_whisker = std::max(spread.high_whisker, values[i]);
    }
    return spread;
}

double deviations(const Spread& spread, float value)
{
    return spread.sigma > 0 ? (value - static_cast<double>(spread.median)) / spread.sigma : 0;
}

bool is_outlier(const Spread& spread, float value)
{
    return std::fabs(deviations(spread, value)) > kOutlierSigmas;
}

std::size_t spread_at(std::uint32_t config, int channel, Quantity quantity)
{
    return (std::size_t{config} * kChannels + channel) * kQuantities + quantity;
}

float value_of(const Channel& channel, Quantity quantity)
{
    return quantity == kPedestal ? channel.mean : channel.rms;
}

namespace {

// The deciding recordings of each configuration, one run per configuration.
void group_by_config(const Campaign& campaign, Array<std::uint32_t>& grouped, Array<std::size_t>& starts)
{
    const std::uint32_t configs = campaign.configs.size();
    starts.resize(configs + 1, 0);
    for (const std::uint32_t r : campaign.deciding) ++starts[campaign.recordings[r].config + 1];
    for (std::uint32_t config = 0; config < configs; ++config) starts[config + 1] += starts[config];
    Array<std::size_t> next;
    next.append(starts.begin(), configs);
    grouped.resize(campaign.deciding.size(), 0);
    for (const std::uint32_t r : campaign.deciding) grouped[next[campaign.recordings[r].config]++] = r;
}

// The channel's quantity in the recording, NaN for a ramp's channel, which
// has no pedestal or noise to measure.
float measured(const Campaign& campaign, std::uint32_t recording, int chan, Quantity quantity)
{
    if (campaign.recordings[recording].ramps >> chan & 1) return NAN;
    return value_of(channels_of(campaign, recording)[chan], quantity);
}

std::size_t ramp_channels(const Campaign& campaign, const std::uint32_t* recordings, std::size_t count)
{
    std::size_t ramps = 0;
    for (std::size_t i = 0; i < count; ++i) {
        for (std::uint32_t bits = campaign.recordings[recordings[i]].ramps; bits != 0; bits &= bits - 1) ++ramps;
    }
    return ramps;
}

// The spread of one channel's quantity over the recordings, and its outliers.
void measure_channel(const Campaign& campaign, const std::uint32_t* recordings, std::size_t count, int chan,
                     Quantity quantity, Array<float>& values, Array<float>& scratch, Distributions& found)
{
    values.clear();
    for (std::size_t i = 0; i < count; ++i) {
        const float value = measured(campaign, recordings[i], chan, quantity);
        if (!std::isnan(value)) values.push(value);
    }
    scratch.resize(values.size(), 0);
    const Spread spread = spread_of(values.begin(), values.size(), scratch.begin());
    found.spreads[spread_at(campaign.recordings[recordings[0]].config, chan, quantity)] = spread;
    for (std::size_t i = 0; i < count; ++i) {
        const float value = measured(campaign, recordings[i], chan, quantity);
        if (std::isnan(value) || !is_outlier(spread, value)) continue;
        const Outlier outlier = {recordings[i], static_cast<std::uint8_t>(chan), static_cast<std::uint8_t>(quantity),
                                 static_cast<float>(deviations(spread, value))};
        found.outliers.push(outlier);
    }
}

}  // namespace

void measure(const Campaign& campaign, Distributions& found)
{
    found.spreads.resize(spread_at(campaign.configs.size(), 0, kPedestal), Spread());
    found.ramps.resize(campaign.configs.size(), 0);
    Array<std::uint32_t> grouped;
    Array<std::size_t> starts;
    group_by_config(campaign, grouped, starts);
    Array<float> values, scratch;
    for (std::uint32_t config = 0; config < campaign.configs.size(); ++config) {
        const std::size_t count = starts[config + 1] - starts[config];
        if (count == 0) continue;
        found.ramps[config] = ramp_channels(campaign, grouped.begin() + starts[config], count);
        for (int chan = 0; chan < kChannels; ++chan) {
            for (const Quantity quantity : {kPedestal, kNoise}) {
                measure_channel(campaign, grouped.begin() + starts[config], count, chan, quantity, values, scratch,
                                found);
            }
        }
    }
    std::sort(found.outliers.begin(), found.outliers.end(), [](const Outlier& a, const Outlier& b) {
        return std::fabs(a.deviations) > std::fabs(b.deviations);
    });
}

}  // namespace report
