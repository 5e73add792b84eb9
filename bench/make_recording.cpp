// Writes a deterministic 32-channel recording for the benchmark: lines of
// 10-bit samples scattered around a pedestal of each channel's own. The
// seed makes recordings of other chips.
//
//   make_recording [LINES [SEED]]
#include <cstdio>
#include <cstdlib>
#include <random>

int main(int argc, char** argv)
{
    constexpr int kChannels = 32;
    constexpr int kAdcMax = 1023;
    const long lines = argc > 1 ? std::atol(argv[1]) : 1500000;
    const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 171741;
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pedestal_of(20, 120);
    std::normal_distribution<double> noise(0.0, 4.0);
    int pedestal[kChannels];
    for (int& p : pedestal) p = pedestal_of(rng);
    for (long n = 0; n < lines; ++n) {
        for (int chan = 0; chan < kChannels; ++chan) {
            int value = pedestal[chan] + static_cast<int>(noise(rng));
            value = value < 0 ? 0 : value > kAdcMax ? kAdcMax : value;
            std::printf(chan + 1 < kChannels ? "%d " : "%d\n", value);
        }
    }
    return 0;
}
