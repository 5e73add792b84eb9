// Reference for the differential test: the plainest line-at-a-time scan of
// a sample file (getline into the line buffer, strtok, a saturating atoi).
// Prints the range table and then the stuck-channel report that tavrin
// writes for the same file, with the same diagnostics and exit status.
#include <bitset>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

namespace {

constexpr int kNChan = 32;
constexpr int kMaxLineLength = 192;

int saturating_atoi(const char* token)
{
    const long value = std::strtol(token, nullptr, 10);
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    int minimum[kNChan];
    int maximum[kNChan];
    for (int chan = 0; chan < kNChan; ++chan) {
        minimum[chan] = 1024;
        maximum[chan] = -1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in.is_open()) return 2;
    char line[kMaxLineLength];
    long number = 0;
    while (in.good()) {
        in.getline(line, kMaxLineLength);
        if (!in.good()) break;
        ++number;
        int chan = 0;
        for (char* token = std::strtok(line, " "); token && chan < kNChan;
             token = std::strtok(nullptr, " "), ++chan) {
            const int value = saturating_atoi(token);
            if (value < minimum[chan]) minimum[chan] = value;
            if (value > maximum[chan]) maximum[chan] = value;
        }
    }
    int status = 0;
    if (!in.eof()) {
        std::fprintf(stderr, "tavrin: %s: line %ld: more than %d characters, scan stopped\n",
                     argv[1], number + 1, kMaxLineLength - 1);
        status = 1;
    } else if (in.gcount() > 0) {
        std::fprintf(stderr, "tavrin: %s: line %ld: no newline at the end, line ignored\n",
                     argv[1], number + 1);
    }

    std::printf("Ch   Min   Max\n");
    for (int chan = 0; chan < kNChan; ++chan) {
        std::printf("%2d  %4d  %4d\n", chan, minimum[chan], maximum[chan]);
    }
    int nstuck = 0;
    for (const int low : minimum) nstuck += low > 1;
    if (nstuck > 0) std::cout << " nstuck " << nstuck << std::endl;
    for (int chan = 0; chan < kNChan; ++chan) {
        if (minimum[chan] <= 1) continue;
        std::cout << " stuck chan " << chan << " min dec " << minimum[chan] << " hex " << std::hex
                  << minimum[chan] << std::dec << " bin " << std::bitset<10>(minimum[chan]) << std::endl;
    }
    return status;
}
