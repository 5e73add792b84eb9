// The page, top to bottom: the verdict, the chip maps, pedestal and noise,
// and the reject and re-test lists with their evidence.
#include "report_page.h"

#include "report_charts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace report {

namespace {

const char kStyle[] =
    "*{box-sizing:border-box}"
    "body{margin:0;background:#f4f5f7;color:#1f2328;"
    "font:14px/1.45 system-ui,-apple-system,'Segoe UI',Roboto,'DejaVu Sans',Helvetica,Arial,sans-serif}"
    "main{max-width:1100px;margin:0 auto;padding:20px 24px 40px}"
    "h1{margin:0;font-size:24px}"
    "header p{margin:4px 0 0;color:#57606a}"
    ".nw{white-space:nowrap}"
    "section{background:#fff;border:1px solid #d8dde3;border-radius:8px;padding:16px 20px 20px;margin-top:18px}"
    "h2{margin:0 0 12px;font-size:19px}"
    "h3{margin:20px 0 6px;font-size:15px}"
    "h3 small{font-weight:normal;color:#57606a}"
    ".note,.more{color:#57606a;font-size:13px;margin:6px 0}"
    ".warn{color:#9a3412;font-size:13px;font-weight:600;margin:6px 0}"
    ".tiles{display:flex;flex-wrap:wrap;gap:10px;margin-bottom:14px}"
    ".tile{flex:1 1 120px;border:1px solid #d8dde3;border-radius:6px;padding:8px 12px;background:#fafbfc}"
    ".tile b{display:block;font-size:24px;line-height:1.2}"
    ".tile span{color:#57606a;font-size:12px}"
    ".t0{border-left:6px solid #2f9e6f}.t1{border-left:6px solid #e2a300}.t2{border-left:6px solid #cf3f4f}"
    "table{border-collapse:collapse;font-size:13px;margin-top:6px}"
    "th{background:#f0f2f4;text-align:left;font-weight:600}"
    "th,td{padding:4px 10px;border-bottom:1px solid #e6e9ed;vertical-align:middle}"
    ".n{text-align:right;font-variant-numeric:tabular-nums}"
    "tbody.chip{border-top:2px solid #c9d1d9}"
    "td.rec{max-width:250px;overflow-wrap:anywhere;font-size:12px;color:#57606a}"
    ".sw{display:inline-block;width:12px;height:12px;border-radius:3px;vertical-align:-1px;margin-right:6px}"
    ".tag{display:inline-block;padding:0 7px;border-radius:9px;color:#fff;font-size:12px;font-weight:600}"
    ".tag.v1{color:#3d2e00}"
    ".legend{display:flex;flex-wrap:wrap;gap:4px 18px;font-size:13px;margin:4px 0 6px}"
    "svg{max-width:100%;height:auto;display:block}"
    "svg text{font-size:11px;fill:#3b434b}"
    "svg .on{fill:#fff;font-size:12px;font-weight:600}"
    "svg .nm{fill:#1f2328}"
    "svg .fd{fill:#9a3412;font-style:italic}"
    "svg .sm{font-size:9px}"
    ".grid{stroke:#e6e9ed;stroke-width:1;fill:none}"
    ".wh{stroke:#5b6770;fill:none}"
    ".bx{fill:#a9cce3;stroke:#3c6e91}"
    ".md{stroke:#123b5a;stroke-width:2}"
    ".ol{fill:#cf3f4f}"
    ".hb{fill:#3c6e91}"
    ".mk{fill:#d55e00}";

const char* const kClassMeaning[faults::kClasses] = {
    "no data: the channel received no value", "dead: the channel's codes never moved",
    "stuck1: a bit stuck at 1", "stuck0: a bit stuck at 0", "never-low: never came down for the pulse", "ok"};

// The file name of a recording's name, without its directories.
const char* file_of(const char* name)
{
    const char* const slash = std::strrchr(name, '/');
    return slash == nullptr ? name : slash + 1;
}

void tag(Text& text, faults::Verdict verdict)
{
    text.format("<span class=\"tag v%d\">%s</span>", verdict, faults::verdict_name(verdict));
}

void config_name(Text& text, const Campaign& campaign, std::uint32_t config)
{
    text.markup(campaign.configs.text(config), campaign.configs.length(config));
}

void chip_name(Text& text, const Campaign& campaign, std::uint32_t chip)
{
    text.markup(campaign.chips_by_name.text(chip), campaign.chips_by_name.length(chip));
}

void recording_cell(Text& text, const Campaign& campaign, std::uint32_t r)
{
    text.add("<td class=\"rec\" title=\"");
    text.markup(campaign.names.text(r), campaign.names.length(r));
    text.add("\">");
    text.markup(file_of(campaign.names.text(r)));
    text.add("</td>");
}

// --- head and verdict -----------------------------------------------------------

// The files of rows as they were given, up to kListedFiles of them.
void input_names(Text& text, const PageFacts& facts)
{
    const std::size_t shown = std::min(facts.files, kListedFiles);
    for (std::size_t i = 0; i < shown; ++i) {
        text.add(i == 0 ? "" : ", ");
        const char* const path = facts.paths[i];
        text.markup(std::strcmp(path, "-") == 0 ? "standard input" : path);
    }
    if (shown < facts.files) text.format(" and %zu more", facts.files - shown);
}

void head(Text& text, const Counts& counts, const PageFacts& facts)
{
    text.add("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
             "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n");
    text.format("<title>tavrin report: %zu chips, %zu to scrap, %zu to re-test</title>\n", counts.chips,
                counts.verdicts[faults::kScrap], counts.verdicts[faults::kRetest]);
    text.add("<style>\n");
    text.add(kStyle);
    text.add("\n");
    colour_rules(text);
    text.add("</style>\n</head>\n<body>\n<main>\n<header><h1>Campaign report</h1>");
    text.format("<p>%zu recordings from %zu files of tavrin-survey's rows (", counts.recordings, facts.files);
    input_names(text, facts);
    text.format("); made <span class=\"nw\">%s</span> by tavrin-report %s</p></header>\n", facts.made, facts.version);
}

void tile(Text& text, const char* css, const char* value, const char* what)
{
    text.format("<div class=\"tile %s\"><b>%s</b><span>%s</span></div>", css, value, what);
}

void tiles(Text& text, const Counts& counts)
{
    char value[32];
    text.add("<div class=\"tiles\">");
    std::snprintf(value, sizeof value, "%zu", counts.recordings);
    char recordings[64] = "recordings";
    if (counts.set_aside > 0) {
        std::snprintf(recordings, sizeof recordings, "recordings (%zu earlier %s set aside)", counts.set_aside,
                      counts.set_aside == 1 ? "one" : "ones");
    }
    tile(text, "", value, recordings);
    std::snprintf(value, sizeof value, "%zu", counts.chips);
    tile(text, "", value, "chips");
    std::snprintf(value, sizeof value, "%zu", counts.configs);
    tile(text, "", value, "configurations");
    const char* const what[faults::kVerdicts] = {"good", "to re-test", "to scrap"};
    for (int v = faults::kVerdicts - 1; v >= 0; --v) {
        char css[8];
        std::snprintf(css, sizeof css, "t%d", v);
        std::snprintf(value, sizeof value, "%zu", counts.verdicts[v]);
        tile(text, css, value, what[v]);
    }
    if (counts.chips > 0) {
        std::snprintf(value, sizeof value, "%.1f %%", 100.0 * counts.verdicts[faults::kGood] / counts.chips);
    } else {
        std::snprintf(value, sizeof value, "-");
    }
    tile(text, "", value, "yield (good / chips)");
    text.add("</div>\n");
}

void class_rows(Text& text, const Counts& counts)
{
    text.add("<table><thead><tr><th>finding</th><th>verdict</th><th class=\"n\">found in</th>"
             "<th class=\"n\">chips</th></tr></thead><tbody>");
    for (int c = 0; c < faults::kOk; ++c) {
        const faults::Class fault = static_cast<faults::Class>(c);
        text.format("<tr><td><span class=\"sw k%d\">&nbsp;</span>%s</td><td>", c, kClassMeaning[c]);
        tag(text, faults::verdict_of(fault));
        text.format("</td><td class=\"n\">%zu channels</td><td class=\"n\">%zu</td></tr>", counts.class_channels[c],
                    counts.class_chips[c]);
    }
    const char* const meanings[faults::kFindings] = {"unreadable: could not be read to its end",
                                                     "cut: its last line had no newline",
                                                     "malformed: lines that are no samples"};
    for (int f = 0; f < faults::kFindings; ++f) {
        text.format("<tr><td><span class=\"sw\">&nbsp;</span>recording %s</td><td>", meanings[f]);
        tag(text, faults::kFindingVerdict);
        text.format("</td><td class=\"n\">%zu recordings</td><td class=\"n\">%zu</td></tr>",
                    counts.finding_recordings[f], counts.finding_chips[f]);
    }
    text.add("</tbody></table>\n");
}

void verdict_section(Text& text, const Campaign& campaign, const Counts& counts, const PageFacts& facts)
{
    text.add("<section id=\"verdict\">\n<h2>1. Verdict</h2>\n");
    tiles(text, counts);
    yield_bar(text, counts);
    if (facts.recording_rows_missing) {
        text.add("<p class=\"warn\">No recording rows were given: recordings that were unreadable, cut or had "
                 "malformed lines are not seen here, and their chips may be called good. Give the survey's "
                 "recording rows as well.</p>\n");
    }
    text.add("<p class=\"note\">A chip is <b>scrapped</b> for a channel with a bit stuck at 1 or at 0, or a dead "
             "one; it is <b>tested again</b> otherwise for a channel that never came low or received no data, or "
             "a recording that was unreadable, cut or had malformed lines; it is <b>good</b> otherwise. Each "
             "configuration's latest recording of a chip, by name, decides.</p>\n");
    text.add("<p class=\"note\">Configurations: ");
    const char* separator = "";
    for (const std::uint32_t config : campaign.config_order) {
        text.add(separator);
        config_name(text, campaign, config);
        separator = ", ";
    }
    text.format(". Chips without a recording in some configuration: %zu. Chips named after a recording whose "
                "name does not follow the naming: %zu.</p>\n<h3>Findings by class</h3>\n",
                counts.chips_missing_configs, counts.unnamed_chips);
    class_rows(text, counts);
    text.add("</section>\n");
}

// --- the map --------------------------------------------------------------------

bool has_finding(const Campaign& campaign, std::uint32_t r)
{
    if (campaign.recordings[r].findings != 0) return true;
    const Channel* const channels = channels_of(campaign, r);
    for (int chan = 0; chan < kChannels; ++chan) {
        if (channels[chan].faults != faults::kNoFault) return true;
    }
    return false;
}

void legend(Text& text)
{
    text.add("<div class=\"legend\">");
    for (int c = 0; c < faults::kClasses; ++c) {
        text.format("<span><span class=\"sw k%d\">&nbsp;</span>%s</span>", c, faults::class_name(static_cast<faults::Class>(c)));
    }
    text.add("</div>\n");
}

void config_map(Text& text, const Campaign& campaign, std::uint32_t config, const Array<std::uint32_t>& by_verdict)
{
    Array<std::uint32_t> rows;
    for (const std::uint32_t chip : by_verdict) {
        const std::uint32_t r = deciding_recording(campaign, chip, config);
        if (r != kNoRecording && has_finding(campaign, r)) rows.push(chip);
    }
    text.add("<h3>");
    config_name(text, campaign, config);
    text.format(" <small>%zu chips with a finding</small></h3>\n", rows.size());
    if (rows.empty()) {
        text.add("<p class=\"note\">No chip has a finding in this configuration.</p>\n");
        return;
    }
    const std::size_t shown = std::min(rows.size(), kMapRows);
    chip_map(text, campaign, config, rows.begin(), shown);
    if (shown < rows.size()) {
        text.format("<p class=\"more\">and %zu more chips with a finding in this configuration, not drawn "
                    "(the reject and re-test lists and the verdicts file name them).</p>\n", rows.size() - shown);
    }
}

void map_section(Text& text, const Campaign& campaign, const Array<std::uint32_t>& by_verdict)
{
    text.add("<section id=\"map\">\n<h2>2. Channel map</h2>\n<p class=\"note\">For each configuration, a row for "
             "each chip with a finding, scrapped chips first, and a cell for each channel, coloured by its "
             "fault; a cell's title gives the chip, channel, fault, pedestal and noise, and the square before a "
             "chip its verdict.</p>\n");
    legend(text);
    for (const std::uint32_t config : campaign.config_order) config_map(text, campaign, config, by_verdict);
    text.add("<h3>Faults per channel <small>over every chip and configuration</small></h3>\n");
    channel_bars(text, campaign);
    text.add("<p class=\"note\">A recording's channels without data count here only where another channel of "
             "it has codes: a recording without any (an empty, tab-separated or header-only file) counts in the "
             "verdict and the lists, not against its channels.</p>\n</section>\n");
}

// --- pedestal and noise ---------------------------------------------------------

const char* const kQuantityNames[kQuantities] = {"pedestal", "noise"};

void outlier_rows(Text& text, const Campaign& campaign, const Distributions& found)
{
    const std::size_t shown = std::min(found.outliers.size(), kListedOutliers);
    if (shown == 0) {
        text.add("<p class=\"note\">No channel lies that far out.</p>\n");
        return;
    }
    text.add("<table><thead><tr><th>chip</th><th>verdict</th><th>configuration</th><th class=\"n\">channel</th>"
             "<th>of</th><th class=\"n\">value</th><th class=\"n\">median</th><th class=\"n\">robust sd</th>"
             "<th class=\"n\">deviations</th></tr></thead><tbody>");
    for (std::size_t i = 0; i < shown; ++i) {
        const Outlier& outlier = found.outliers[i];
        const Recording& recording = campaign.recordings[outlier.recording];
        const Quantity quantity = static_cast<Quantity>(outlier.quantity);
        const Spread& spread = found.spreads[spread_at(recording.config, outlier.channel, quantity)];
        text.add("<tr><td>");
        chip_name(text, campaign, recording.chip);
        text.add("</td><td>");
        tag(text, campaign.chips[recording.chip].verdict);
        text.add("</td><td>");
        config_name(text, campaign, recording.config);
        text.format("</td><td class=\"n\">%d</td><td>%s</td><td class=\"n\">%.3f</td><td class=\"n\">%.3f</td>"
                    "<td class=\"n\">%.3f</td><td class=\"n\">%+.1f</td></tr>",
                    outlier.channel, kQuantityNames[quantity],
                    value_of(channels_of(campaign, outlier.recording)[outlier.channel], quantity), spread.median,
                    spread.sigma, outlier.deviations);
    }
    text.add("</tbody></table>\n");
    if (shown < found.outliers.size()) {
        text.format("<p class=\"more\">and %zu more, nearer the median.</p>\n", found.outliers.size() - shown);
    }
}

// How many channels were left out as ramps, in all and by configuration.
void ramps_note(Text& text, const Campaign& campaign, const Distributions& found)
{
    std::size_t ramps = 0;
    for (const std::size_t channels : found.ramps) ramps += channels;
    text.format("<p class=\"note\">Left out as ramps: %zu channels", ramps);
    const char* separator = " (";
    for (const std::uint32_t config : campaign.config_order) {
        if (found.ramps[config] == 0) continue;
        text.add(separator);
        config_name(text, campaign, config);
        text.format(" %zu", found.ramps[config]);
        separator = ", ";
    }
    text.format("%s, those whose codes span half the ADC's range or more (the highest less the lowest code, "
                "%d or more): a ramp's sweep, which has no pedestal and noise.</p>\n",
                ramps > 0 ? ")" : "", kRampSpan);
}

void spread_section(Text& text, const Campaign& campaign, const Distributions& found)
{
    text.add("<section id=\"spread\">\n<h2>3. Pedestal and noise</h2>\n<p class=\"note\">For each configuration "
             "and channel, the distribution over the chips of the mean code (the pedestal) and of the rms (the "
             "noise): the box spans the quartiles around the median, the whiskers reach the farthest chips "
             "within 5 robust standard deviations (1.4826 times the median absolute deviation; where that is 0, "
             "1.2533 times the mean absolute deviation), and each dot beyond them is an outlier, a triangle one "
             "off the scale.</p>\n");
    ramps_note(text, campaign, found);
    for (const std::uint32_t config : campaign.config_order) {
        for (const Quantity quantity : {kPedestal, kNoise}) {
            text.add("<h3>");
            config_name(text, campaign, config);
            text.add(quantity == kPedestal ? ": pedestal <small>(mean code)</small></h3>\n"
                                           : ": noise <small>(rms, in codes)</small></h3>\n");
            box_plots(text, campaign, found, config, quantity);
        }
    }
    text.format("<h3>Outliers <small>%zu, the farthest first</small></h3>\n", found.outliers.size());
    outlier_rows(text, campaign, found);
    text.add("</section>\n");
}

// --- reject and re-test lists ---------------------------------------------------

// One row of a chip in the lists: a recording's finding, a channel's
// faults (or those of all its channels without data, which have no
// evidence to show), or a configuration without a recording.
struct ListRow {
    std::uint32_t recording;  // kNoRecording for a missing configuration
    std::uint32_t config;
    std::uint32_t channels;   // a bit each; none for a finding
    int finding;              // -1 for channels
};

int first_channel(std::uint32_t channels)
{
    int chan = 0;
    while ((channels >> chan & 1) == 0) ++chan;
    return chan;
}

void chip_rows(const Campaign& campaign, std::uint32_t chip, Array<ListRow>& rows, Array<std::uint32_t>& missing)
{
    rows.clear();
    const Chip& the_chip = campaign.chips[chip];
    for (std::uint32_t i = 0; i < the_chip.configs; ++i) {
        const std::uint32_t r = campaign.deciding[the_chip.first + i];
        const std::uint32_t config = campaign.recordings[r].config;
        for (int f = 0; f < faults::kFindings; ++f) {
            if (campaign.recordings[r].findings >> f & 1) rows.push({r, config, 0, f});
        }
        std::uint32_t silent = 0;
        for (int chan = 0; chan < kChannels; ++chan) {
            const faults::Set set = channels_of(campaign, r)[chan].faults;
            const std::uint32_t bit = std::uint32_t{1} << chan;
            if (faults::has(set, faults::kNoData)) {
                if (silent == 0) rows.push({r, config, 0, -1});
                silent |= bit;
                rows.back().channels = silent;
            } else if (set != faults::kNoFault) {
                rows.push({r, config, bit, -1});
            }
        }
    }
    missing_configs(campaign, chip, missing);
    for (const std::uint32_t config : missing) rows.push({kNoRecording, config, 0, -1});
}

// The channels as ranges: "0-31", "3, 7".
void channel_list(Text& text, std::uint32_t channels)
{
    const char* separator = "";
    for (int chan = 0; chan < kChannels; ++chan) {
        if ((channels >> chan & 1) == 0) continue;
        int last = chan;
        while (last + 1 < kChannels && (channels >> (last + 1) & 1)) ++last;
        text.format(last > chan ? "%s%d\xE2\x80\x93%d" : "%s%d", separator, chan, last);
        separator = ", ";
        chan = last;
    }
}

void evidence_cell(Text& text, const Campaign& campaign, const ListRow& row, const PageFacts& facts)
{
    text.add("<td>");
    const int chan = first_channel(row.channels);
    const CodeCount key = {row.recording, static_cast<std::uint16_t>(chan), 0, 0, 0};
    const auto same_channel = [](const CodeCount& a, const CodeCount& b) {
        return a.recording != b.recording ? a.recording < b.recording : a.channel < b.channel;
    };
    const std::pair<const CodeCount*, const CodeCount*> run =
        std::equal_range(campaign.codes.begin(), campaign.codes.end(), key, same_channel);
    if (run.first != run.second && (row.channels & (row.channels - 1)) == 0) {
        code_histogram(text, run.first, run.second - run.first, channels_of(campaign, row.recording)[chan].faults);
    } else {
        text.add(facts.codes_given ? "<span class=\"note\">no codes</span>" : "");
    }
    text.add("</td>");
}

void list_row(Text& text, const Campaign& campaign, std::uint32_t chip, const ListRow& row, std::size_t span,
              const PageFacts& facts)
{
    text.add("<tr>");
    if (span > 0) {
        text.format("<td rowspan=\"%zu\"><b>", span);
        chip_name(text, campaign, chip);
        text.format("</b></td><td rowspan=\"%zu\">", span);
        tag(text, campaign.chips[chip].verdict);
        text.add("</td>");
    }
    text.add("<td>");
    config_name(text, campaign, row.config);
    text.add("</td>");
    if (row.recording == kNoRecording) {
        text.add("<td class=\"rec\">none</td><td></td><td>missing</td><td></td></tr>\n");
        return;
    }
    recording_cell(text, campaign, row.recording);
    if (row.channels == 0) {
        text.format("<td></td><td>%s</td><td></td></tr>\n", faults::finding_name(static_cast<faults::Finding>(row.finding)));
        return;
    }
    const faults::Set set = channels_of(campaign, row.recording)[first_channel(row.channels)].faults;
    text.add("<td class=\"n\">");
    channel_list(text, row.channels);
    text.format("</td><td><span class=\"sw k%d\">&nbsp;</span>", faults::first_class(set));
    faults::Set rest = set;
    faults::Class fault;
    int bit;
    for (const char* separator = ""; faults::take_name(rest, fault, bit); separator = ", ") {
        text.format(bit < 0 ? "%s%s" : "%s%s:%d", separator, faults::class_name(fault), bit);
    }
    text.add("</td>");
    evidence_cell(text, campaign, row, facts);
    text.add("</tr>\n");
}

// Lists the chips to scrap, then those to test again, up to the caps;
// returns how many of each were left out.
void reject_table(Text& text, const Campaign& campaign, const Array<std::uint32_t>& by_verdict,
                  const PageFacts& facts, std::size_t (&left_out)[faults::kVerdicts])
{
    text.add("<table><thead><tr><th>chip</th><th>verdict</th><th>configuration</th><th>recording</th>"
             "<th class=\"n\">channel</th><th>fault</th><th>evidence: the channel's codes</th></tr></thead>\n");
    Array<ListRow> rows;
    Array<std::uint32_t> missing;
    std::size_t chips = 0, listed_rows = 0;
    for (const std::uint32_t chip : by_verdict) {
        const faults::Verdict verdict = campaign.chips[chip].verdict;
        if (verdict == faults::kGood) break;
        chip_rows(campaign, chip, rows, missing);
        if (chips == kListedChips || (chips > 0 && listed_rows + rows.size() > kListedRows)) {
            ++left_out[verdict];
            continue;
        }
        ++chips;
        listed_rows += rows.size();
        text.add("<tbody class=\"chip\">");
        for (std::size_t i = 0; i < rows.size(); ++i) {
            list_row(text, campaign, chip, rows[i], i == 0 ? rows.size() : 0, facts);
        }
        text.add("</tbody>\n");
    }
    text.add("</table>\n");
}

void name_list(Text& text, const Campaign& campaign, const Array<std::uint32_t>& chips, bool recordings)
{
    const std::size_t shown = std::min(chips.size(), kListedNotes);
    text.add("<p class=\"note\">");
    for (std::size_t i = 0; i < shown; ++i) {
        text.add(i == 0 ? "" : ", ");
        if (recordings) {
            text.markup(campaign.names.text(chips[i]), campaign.names.length(chips[i]));
        } else {
            chip_name(text, campaign, chips[i]);
        }
    }
    if (shown < chips.size()) text.format(" and %zu more", chips.size() - shown);
    text.add(shown == 0 ? "None.</p>\n" : ".</p>\n");
}

void notes(Text& text, const Campaign& campaign, const Array<std::uint32_t>& by_name)
{
    Array<std::uint32_t> chips, missing;
    for (const std::uint32_t chip : by_name) {
        if (missing_configs(campaign, chip, missing) > 0) chips.push(chip);
    }
    text.format("<h3>Chips without a recording in some configuration <small>%zu</small></h3>\n", chips.size());
    name_list(text, campaign, chips, false);
    Array<std::uint32_t> earlier;
    earlier.append(campaign.set_aside.begin(), campaign.set_aside.size());
    std::sort(earlier.begin(), earlier.end(), [&campaign](std::uint32_t a, std::uint32_t b) {
        return std::strcmp(campaign.names.text(a), campaign.names.text(b)) < 0;
    });
    text.format("<h3>Earlier recordings, set aside for a later one of the same chip and configuration "
                "<small>%zu</small></h3>\n", earlier.size());
    name_list(text, campaign, earlier, true);
}

void lists_section(Text& text, const Campaign& campaign, const Array<std::uint32_t>& by_verdict,
                   const Array<std::uint32_t>& by_name, const PageFacts& facts)
{
    text.add("<section id=\"lists\">\n<h2>4. Rejects and re-tests</h2>\n<p class=\"note\">Every finding of each "
             "chip to scrap, then of each chip to test again");
    text.add(facts.codes_given ? ", with the channel's code histogram around the bulk of its codes; beneath it, "
                                 "the codes that a stuck bit rules out, which never came."
                               : ". Give the survey's code rows as well to see each channel's code histogram.");
    text.add("</p>\n");
    std::size_t left_out[faults::kVerdicts] = {};
    reject_table(text, campaign, by_verdict, facts, left_out);
    if (left_out[faults::kScrap] + left_out[faults::kRetest] > 0) {
        text.format("<p class=\"more\">and %zu more chips to scrap and %zu more to re-test, not listed here: the "
                    "verdicts file (--verdicts) has every chip.</p>\n",
                    left_out[faults::kScrap], left_out[faults::kRetest]);
    }
    notes(text, campaign, by_name);
    text.add("</section>\n");
}

}  // namespace

void write_page(Text& text, const Campaign& campaign, const Distributions& distributions, const Counts& counts,
                const PageFacts& facts)
{
    Array<std::uint32_t> by_verdict, by_name;
    sort_chips(campaign, true, by_verdict);
    sort_chips(campaign, false, by_name);
    head(text, counts, facts);
    verdict_section(text, campaign, counts, facts);
    map_section(text, campaign, by_verdict);
    spread_section(text, campaign, distributions);
    lists_section(text, campaign, by_verdict, by_name, facts);
    text.add("</main>\n</body>\n</html>\n");
}

}  // namespace report
