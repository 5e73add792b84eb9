// The page's SVG pictures. Sizes are in CSS pixels; the page scales a
// picture down, never up, to the width it has.
#include "report_charts.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <cstdio>
#include <cstring>

namespace report {

// Okabe and Ito's colours, which colour-blind readers tell apart, for the
// faults; ok is a light grey that the faults stand out from.
const char* const kClassColours[faults::kClasses] = {"#56b4e9", "#3d3d3d", "#d55e00", "#cc79a7", "#e69f00", "#e3e7ec"};
const char* const kVerdictColours[faults::kVerdicts] = {"#2f9e6f", "#e2a300", "#cf3f4f"};

void colour_rules(Text& text)
{
    for (int c = 0; c < faults::kClasses; ++c) text.format(".k%d{fill:%s;background:%s}", c, kClassColours[c], kClassColours[c]);
    for (int v = 0; v < faults::kVerdicts; ++v) {
        text.format(".v%d{fill:%s;background:%s}", v, kVerdictColours[v], kVerdictColours[v]);
    }
    text.add("\n");
}

namespace {

// --- drawing --------------------------------------------------------------------

void open_svg(Text& text, int width, int height, const char* label)
{
    text.format("<svg width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" role=\"img\" aria-label=\"", width, height,
                width, height);
    text.markup(label);
    text.add("\">");
}

void close_svg(Text& text)
{
    text.add("</svg>\n");
}

// A label; anchor is "start", "middle" or "end".
void label(Text& text, double x, double y, const char* anchor, const char* words, const char* css = "ax")
{
    text.format("<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"%s\" class=\"%s\">", x, y, anchor, css);
    text.markup(words);
    text.add("</text>");
}

// The set's names, "stuck1:1, stuck1:2", or "ok".
void put_faults(Text& text, faults::Set set)
{
    if (set == faults::kNoFault) text.add(faults::class_name(faults::kOk));
    faults::Class fault;
    int bit;
    for (bool first = true; faults::take_name(set, fault, bit); first = false) {
        text.add(first ? "" : ", ");
        text.add(faults::class_name(fault));
        if (bit >= 0) text.format(":%d", bit);
    }
}

// The whole number at or below x, without the maths library.
double floor_of(double x)
{
    const double whole = static_cast<double>(static_cast<long long>(x));
    return whole > x ? whole - 1 : whole;
}

// An axis from low to high in steps of 1, 2 or 5 times a power of ten,
// about ticks of them.
struct Axis {
    double low;
    double high;
    double step;
};

// The powers of ten that a step may take, far beyond what codes and counts
// need: the bounds end the search whatever the values.
const int kStepPowers = 300;

Axis axis_for(double low, double high, int ticks)
{
    if (!(high > low)) {
        // A unit either side of the value, or a millionth of it where a
        // unit would be lost in its size.
        const double half = std::max(1.0, (low < 0 ? -low : low) * 1e-6);
        low -= half;
        high += half;
    }
    double step = 1;
    const double rough = (high - low) / ticks;
    for (int power = 0; power < kStepPowers && step > rough; ++power) step /= 10;
    for (int power = 0; power < kStepPowers && step * 10 <= rough; ++power) step *= 10;
    step *= rough <= step ? 1 : rough <= 2 * step ? 2 : rough <= 5 * step ? 5 : 10;
    const Axis axis = {step * floor_of(low / step), step * -floor_of(-high / step), step};
    return axis;
}

// The decimals that an axis's tick labels need.
int decimals_for(double step)
{
    int decimals = 0;
    for (double unit = 1; step < unit && decimals < 3; unit /= 10) ++decimals;
    return decimals;
}

// Horizontal grid lines and their labels at the left of a plot, at most
// kMaxGridLines of them. The ticks are counted, not summed: a sum whose
// step is lost in the size of the values would never reach the top.
const int kMaxGridLines = 20;

void y_grid(Text& text, const Axis& axis, double left, double right, double top, double bottom)
{
    const int decimals = decimals_for(axis.step);
    const double steps = (axis.high - axis.low) / axis.step;
    for (int line = 0; line <= steps + 0.5 && line < kMaxGridLines; ++line) {
        const double tick = axis.low + line * axis.step;
        const double y = bottom - (tick - axis.low) / (axis.high - axis.low) * (bottom - top);
        text.format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" class=\"grid\"/>", left, y, right, y);
        char words[32];
        std::snprintf(words, sizeof words, "%.*f", decimals, tick);
        label(text, left - 6, y + 4, "end", words);
    }
}

// The channel numbers under a plot's columns.
void channel_labels(Text& text, double left, double pitch, double y)
{
    for (int chan = 0; chan < kChannels; ++chan) {
        char words[8];
        std::snprintf(words, sizeof words, "%d", chan);
        label(text, left + (chan + 0.5) * pitch, y, "middle", words);
    }
}

// --- the yield bar --------------------------------------------------------------

const int kYieldWidth = 1000;
const int kYieldHeight = 30;
// The bar's labels, bold 12-pixel text: the widest of their characters,
// and the room that a label keeps from its part's ends.
const double kYieldCharWidth = 8.5;
const double kYieldLabelPadding = 6;

// "scrap 33 (11.0 %)"
void share_words(char (&words)[64], int verdict, const Counts& counts)
{
    const std::size_t chips = counts.verdicts[verdict];
    std::snprintf(words, sizeof words, "%s %zu (%.1f %%)", faults::verdict_name(static_cast<faults::Verdict>(verdict)),
                  chips, 100.0 * chips / counts.chips);
}

bool fits(const char* words, double width)
{
    return std::strlen(words) * kYieldCharWidth + 2 * kYieldLabelPadding <= width;
}

// Every part's count and share beneath the bar, whether or not its part
// had room for them.
void yield_legend(Text& text, const Counts& counts)
{
    text.add("<div class=\"legend\">");
    for (int v = faults::kVerdicts - 1; v >= 0; --v) {
        char words[64];
        share_words(words, v, counts);
        text.format("<span><span class=\"sw v%d\">&nbsp;</span>%s</span>", v, words);
    }
    text.add("</div>\n");
}

}  // namespace

void yield_bar(Text& text, const Counts& counts)
{
    open_svg(text, kYieldWidth, kYieldHeight, "chips by verdict");
    if (counts.chips == 0) {
        text.format("<rect width=\"%d\" height=\"%d\" class=\"k%d\"/>", kYieldWidth, kYieldHeight, faults::kOk);
        close_svg(text);
        return;
    }
    double x = 0;
    for (int v = faults::kVerdicts - 1; v >= 0; --v) {
        const std::size_t chips = counts.verdicts[v];
        const double width = static_cast<double>(chips) / counts.chips * kYieldWidth;
        text.format("<rect x=\"%.1f\" width=\"%.1f\" height=\"%d\" class=\"v%d\"><title>%s: %zu chips, %.1f %%</title></rect>",
                    x, width, kYieldHeight, v, faults::verdict_name(static_cast<faults::Verdict>(v)), chips,
                    100.0 * chips / counts.chips);
        char words[64];
        share_words(words, v, counts);
        if (fits(words, width)) label(text, x + width / 2, kYieldHeight / 2 + 5, "middle", words, "on");
        x += width;
    }
    close_svg(text);
    yield_legend(text, counts);
}

namespace {

// --- the chip map ---------------------------------------------------------------

const int kMapLabelWidth = 170;
const int kMapPitchX = 22;
const int kMapPitchY = 17;
const int kMapCellWidth = 20;
const int kMapCellHeight = 14;
const int kMapHeader = 18;
const int kMapFindingsWidth = 150;
const std::size_t kMapNameBytes = 24;  // of a chip's name on its row; the rest in its title

void map_cell(Text& text, const Campaign& campaign, std::uint32_t chip, const Channel& channel, int chan, double x,
              double y)
{
    text.format("<rect x=\"%.0f\" y=\"%.0f\" width=\"%d\" height=\"%d\" class=\"k%d\"><title>chip ", x, y, kMapCellWidth,
                kMapCellHeight, faults::first_class(channel.faults));
    text.markup(campaign.chips_by_name.text(chip));
    text.format(", channel %d: ", chan);
    put_faults(text, channel.faults);
    text.format("; pedestal %.3f, noise %.3f</title></rect>", channel.mean, channel.rms);
}

// A recording's own findings, "cut, malformed", at the end of its row.
void map_findings(Text& text, const Recording& recording, double x, double y)
{
    if (recording.findings == 0) return;
    text.format("<text x=\"%.0f\" y=\"%.0f\" class=\"fd\">", x, y);
    const char* separator = "";
    for (int f = 0; f < faults::kFindings; ++f) {
        if ((recording.findings >> f & 1) == 0) continue;
        text.add(separator);
        text.add(faults::finding_name(static_cast<faults::Finding>(f)));
        separator = ", ";
    }
    text.add("</text>");
}

void map_row(Text& text, const Campaign& campaign, std::uint32_t config, std::uint32_t chip, double y)
{
    const faults::Verdict verdict = campaign.chips[chip].verdict;
    text.format("<rect x=\"0\" y=\"%.0f\" width=\"9\" height=\"9\" rx=\"2\" class=\"v%d\"><title>%s</title></rect>",
                y + 3, verdict, faults::verdict_name(verdict));
    const char* const name = campaign.chips_by_name.text(chip);
    const std::size_t length = campaign.chips_by_name.length(chip);
    text.format("<text x=\"14\" y=\"%.0f\" class=\"nm\"><title>", y + 11);
    text.markup(name, length);
    text.add("</title>");
    text.markup(name, std::min(length, kMapNameBytes));
    text.add(length > kMapNameBytes ? "\xE2\x80\xA6</text>" : "</text>");
    const std::uint32_t r = deciding_recording(campaign, chip, config);
    const Channel* const channels = channels_of(campaign, r);
    for (int chan = 0; chan < kChannels; ++chan) {
        map_cell(text, campaign, chip, channels[chan], chan, kMapLabelWidth + chan * kMapPitchX, y);
    }
    map_findings(text, campaign.recordings[r], kMapLabelWidth + kChannels * kMapPitchX + 8, y + 11);
}

}  // namespace

void chip_map(Text& text, const Campaign& campaign, std::uint32_t config, const std::uint32_t* chips,
              std::size_t count)
{
    const int width = kMapLabelWidth + kChannels * kMapPitchX + kMapFindingsWidth;
    const int height = kMapHeader + static_cast<int>(count) * kMapPitchY + 2;
    open_svg(text, width, height, "chips with a finding against their channels");
    channel_labels(text, kMapLabelWidth - (kMapPitchX - kMapCellWidth) / 2.0, kMapPitchX, kMapHeader - 6);
    for (std::size_t i = 0; i < count; ++i) {
        map_row(text, campaign, config, chips[i], kMapHeader + static_cast<double>(i) * kMapPitchY);
    }
    close_svg(text);
}

namespace {

// --- faults per channel ---------------------------------------------------------

const int kBarsWidth = 1014;
const int kBarsHeight = 190;
const int kBarsLeft = 50;
const int kBarsTop = 16;
const int kBarsBottom = 160;
const int kBarsPitch = 29;
const int kBarWidth = 19;
// Bottom up: the classes that scrap a chip, then those that call for a test.
const faults::Class kStackOrder[] = {faults::kStuck1, faults::kStuck0, faults::kDead, faults::kNoData,
                                     faults::kNeverLow};

typedef std::size_t ChannelCounts[kChannels][faults::kClasses];

// Whether some channel of the recording has codes: one without any (an
// empty or header-only file) is a failure of the whole recording, not of
// its channels.
bool has_codes(const Channel* channels)
{
    for (int chan = 0; chan < kChannels; ++chan) {
        if (!faults::has(channels[chan].faults, faults::kNoData)) return true;
    }
    return false;
}

void count_channel_faults(const Campaign& campaign, ChannelCounts& counts)
{
    for (const std::uint32_t r : campaign.deciding) {
        const Channel* const channels = channels_of(campaign, r);
        if (!has_codes(channels)) continue;
        for (int chan = 0; chan < kChannels; ++chan) {
            for (const faults::Class fault : kStackOrder) counts[chan][fault] += faults::has(channels[chan].faults, fault);
        }
    }
}

void channel_bar(Text& text, const std::size_t (&counts)[faults::kClasses], int chan, const Axis& axis)
{
    const double scale = (kBarsBottom - kBarsTop) / (axis.high - axis.low);
    const double x = kBarsLeft + chan * kBarsPitch + (kBarsPitch - kBarWidth) / 2.0;
    std::size_t total = 0;
    for (const faults::Class fault : kStackOrder) total += counts[fault];
    if (total == 0) return;
    text.format("<g><title>channel %d: %zu faults (", chan, total);
    const char* separator = "";
    for (const faults::Class fault : kStackOrder) {
        if (counts[fault] == 0) continue;
        text.format("%s%s %zu", separator, faults::class_name(fault), counts[fault]);
        separator = ", ";
    }
    text.add(")</title>");
    double y = kBarsBottom;
    for (const faults::Class fault : kStackOrder) {
        const double height = counts[fault] * scale;
        if (counts[fault] == 0) continue;
        y -= height;
        text.format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%d\" height=\"%.1f\" class=\"k%d\"/>", x, y, kBarWidth, height,
                    fault);
    }
    char words[24];
    std::snprintf(words, sizeof words, "%zu", total);
    label(text, x + kBarWidth / 2.0, y - 3, "middle", words);
    text.add("</g>");
}

}  // namespace

void channel_bars(Text& text, const Campaign& campaign)
{
    static ChannelCounts counts;
    std::memset(counts, 0, sizeof counts);
    count_channel_faults(campaign, counts);
    std::size_t most = 0;
    for (int chan = 0; chan < kChannels; ++chan) {
        std::size_t total = 0;
        for (const faults::Class fault : kStackOrder) total += counts[chan][fault];
        most = std::max(most, total);
    }
    const Axis axis = axis_for(0, most == 0 ? 1 : static_cast<double>(most), 4);
    open_svg(text, kBarsWidth, kBarsHeight, "faults per channel over the campaign");
    y_grid(text, axis, kBarsLeft, kBarsLeft + kChannels * kBarsPitch, kBarsTop, kBarsBottom);
    for (int chan = 0; chan < kChannels; ++chan) channel_bar(text, counts[chan], chan, axis);
    channel_labels(text, kBarsLeft, kBarsPitch, kBarsBottom + 16);
    label(text, kBarsLeft + kChannels * kBarsPitch / 2.0, kBarsHeight - 2, "middle", "channel");
    close_svg(text);
}

namespace {

// --- box plots ------------------------------------------------------------------

const int kBoxWidth = 1014;
const int kBoxHeight = 200;
const int kBoxLeft = 62;
const int kBoxTop = 10;
const int kBoxBottom = 166;
const int kBoxPitch = 29;
const int kBoxBody = 15;
const double kBoxMargin = 0.08;  // of the whiskers' range, above and below them
const double kLeastValue = 0;    // of a pedestal or a noise: their axes go no lower

struct Plot {
    Axis axis;
    double scale;
    double y(double value) const { return kBoxBottom - (value - axis.low) * scale; }
};

Plot plot_for(const Distributions& found, std::uint32_t config, Quantity quantity)
{
    double low = HUGE_VAL, high = -HUGE_VAL;
    for (int chan = 0; chan < kChannels; ++chan) {
        const Spread& spread = found.spreads[spread_at(config, chan, quantity)];
        if (spread.count == 0) continue;
        low = std::min(low, static_cast<double>(spread.low_whisker));
        high = std::max(high, static_cast<double>(spread.high_whisker));
    }
    if (low > high) low = high = 0;
    const double margin = (high - low) * kBoxMargin;
    Plot plot;
    plot.axis = axis_for(low - margin, high + margin, 5);
    // Codes and their rms are never negative.
    plot.axis.low = std::max(plot.axis.low, kLeastValue);
    plot.scale = (kBoxBottom - kBoxTop) / (plot.axis.high - plot.axis.low);
    return plot;
}

void box(Text& text, const Spread& spread, int chan, const Plot& plot, std::size_t outliers)
{
    if (spread.count == 0) return;
    const double middle = kBoxLeft + (chan + 0.5) * kBoxPitch;
    const double left = middle - kBoxBody / 2.0;
    text.format("<g><title>channel %d: median %.3f, quartiles %.3f to %.3f, robust sd %.3f, range %.3f to %.3f, "
                "%zu chips, %zu outliers</title>",
                chan, spread.median, spread.lower_quartile, spread.upper_quartile, spread.sigma, spread.minimum,
                spread.maximum, spread.count, outliers);
    text.format("<path d=\"M%.1f %.1fV%.1fM%.1f %.1fV%.1f\" class=\"wh\"/>", middle, plot.y(spread.high_whisker),
                plot.y(spread.upper_quartile), middle, plot.y(spread.lower_quartile), plot.y(spread.low_whisker));
    const double top = plot.y(spread.upper_quartile);
    text.format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%d\" height=\"%.1f\" class=\"bx\"/>", left, top, kBoxBody,
                std::max(plot.y(spread.lower_quartile) - top, 1.0));
    text.format("<path d=\"M%.1f %.1fh%d\" class=\"md\"/></g>", left, plot.y(spread.median), kBoxBody);
}

// The outliers of the configuration and quantity as dots, one a pixel row
// and channel, and those beyond the plot as triangles at its edge. Counts
// each channel's outliers into counts.
void outlier_dots(Text& text, const Campaign& campaign, const Distributions& found, std::uint32_t config,
                  Quantity quantity, const Plot& plot, std::size_t (&counts)[kChannels])
{
    static bool drawn[kChannels][kBoxBottom + 1];
    std::memset(drawn, 0, sizeof drawn);
    text.add("<g class=\"ol\">");
    for (const Outlier& outlier : found.outliers) {
        if (outlier.quantity != quantity || campaign.recordings[outlier.recording].config != config) continue;
        ++counts[outlier.channel];
        const double value = value_of(channels_of(campaign, outlier.recording)[outlier.channel], quantity);
        const double y = std::min(std::max(plot.y(value), static_cast<double>(kBoxTop)), static_cast<double>(kBoxBottom));
        bool& done = drawn[outlier.channel][static_cast<int>(y)];
        if (done) continue;
        done = true;
        const double x = kBoxLeft + (outlier.channel + 0.5) * kBoxPitch;
        if (y <= kBoxTop || y >= kBoxBottom) {
            const double tip = y <= kBoxTop ? -5 : 5;
            text.format("<path d=\"M%.1f %.1fl-4 %.1fh8z\"/>", x, y + tip, -tip);
        } else {
            text.format("<circle cx=\"%.1f\" cy=\"%.1f\" r=\"2.2\"/>", x, y);
        }
    }
    text.add("</g>");
}

}  // namespace

void box_plots(Text& text, const Campaign& campaign, const Distributions& found, std::uint32_t config,
               Quantity quantity)
{
    const Plot plot = plot_for(found, config, quantity);
    open_svg(text, kBoxWidth, kBoxHeight, quantity == kPedestal ? "pedestal per channel" : "noise per channel");
    y_grid(text, plot.axis, kBoxLeft, kBoxLeft + kChannels * kBoxPitch, kBoxTop, kBoxBottom);
    std::size_t outliers[kChannels] = {};
    outlier_dots(text, campaign, found, config, quantity, plot, outliers);
    for (int chan = 0; chan < kChannels; ++chan) {
        box(text, found.spreads[spread_at(config, chan, quantity)], chan, plot, outliers[chan]);
    }
    channel_labels(text, kBoxLeft, kBoxPitch, kBoxBottom + 16);
    label(text, kBoxLeft + kChannels * kBoxPitch / 2.0, kBoxHeight - 2, "middle", "channel");
    close_svg(text);
}

namespace {

// --- code histograms ------------------------------------------------------------

const int kWindowCodes = 64;
const int kCodePitch = 3;
const int kCodeBar = 2;
const int kHistogramLeft = 4;
const int kHistogramWidth = kHistogramLeft * 2 + kWindowCodes * kCodePitch;
const int kHistogramHeight = 54;
const int kHistogramTop = 3;
const int kHistogramAxis = 35;
const int kMarkTop = 37;
const int kMarkHeight = 4;
const int kCodes = 1 << kAdcBits;

// Whether no code can come with the set's stuck bits.
bool ruled_out(int code, faults::Set set)
{
    const unsigned ones = faults::stuck_bits(set, faults::kStuck1);
    const unsigned zeros = faults::stuck_bits(set, faults::kStuck0);
    return (code & ones) != ones || (code & zeros) != 0;
}

// The first code of the window: all the codes where they fit in it,
// otherwise the codes around the most frequent one.
int window_start(const CodeCount* codes, std::size_t count)
{
    const int low = codes[0].code;
    const int high = codes[count - 1].code;
    int start;
    if (high - low < kWindowCodes) {
        start = low - (kWindowCodes - (high - low + 1)) / 2;
    } else {
        const CodeCount* const mode =
            std::max_element(codes, codes + count, [](const CodeCount& a, const CodeCount& b) { return a.count < b.count; });
        start = mode->code - kWindowCodes / 2;
    }
    return std::min(std::max(start, 0), kCodes - kWindowCodes);
}

}  // namespace

void code_histogram(Text& text, const CodeCount* codes, std::size_t count, faults::Set set)
{
    open_svg(text, kHistogramWidth, kHistogramHeight, "the channel's codes");
    const int start = count == 0 ? 0 : window_start(codes, count);
    std::uint64_t total = 0, shown = 0, most = 1;
    for (std::size_t i = 0; i < count; ++i) {
        total += codes[i].count;
        if (codes[i].code < start || codes[i].code >= start + kWindowCodes) continue;
        shown += codes[i].count;
        most = std::max(most, codes[i].count);
    }
    text.format("<title>%llu values in %zu codes", static_cast<unsigned long long>(total), count);
    if (count > 0) text.format(" from %d to %d", codes[0].code, codes[count - 1].code);
    text.format("; codes %d to %d shown, %llu values outside them", start, start + kWindowCodes - 1,
                static_cast<unsigned long long>(total - shown));
    if (faults::stuck_bits(set, faults::kStuck1) != 0 || faults::stuck_bits(set, faults::kStuck0) != 0) {
        text.add("; marked beneath: the codes that the stuck bits rule out");
    }
    text.add("</title><path class=\"hb\" d=\"");
    for (std::size_t i = 0; i < count; ++i) {
        if (codes[i].code < start || codes[i].code >= start + kWindowCodes) continue;
        const double height = static_cast<double>(codes[i].count) / most * (kHistogramAxis - kHistogramTop);
        text.format("M%d %dh%dv-%.1fh-%dz", kHistogramLeft + (codes[i].code - start) * kCodePitch, kHistogramAxis,
                    kCodeBar, std::max(height, 0.8), kCodeBar);
    }
    text.add("\"/><path class=\"mk\" d=\"");
    for (int code = start; code < start + kWindowCodes; ++code) {
        if (!ruled_out(code, set)) continue;
        text.format("M%d %dh%dv%dh-%dz", kHistogramLeft + (code - start) * kCodePitch, kMarkTop, kCodeBar, kMarkHeight,
                    kCodeBar);
    }
    text.format("\"/><path class=\"grid\" d=\"M%d %.1fH%d\"/>", kHistogramLeft, kHistogramAxis + 0.5,
                kHistogramWidth - kHistogramLeft);
    char words[16];
    std::snprintf(words, sizeof words, "%d", start);
    label(text, kHistogramLeft, kHistogramHeight - 3, "start", words, "sm");
    std::snprintf(words, sizeof words, "%d", start + kWindowCodes - 1);
    label(text, kHistogramWidth - kHistogramLeft, kHistogramHeight - 3, "end", words, "sm");
    close_svg(text);
}

}  // namespace report
