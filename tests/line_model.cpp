// The line-at-a-time model as a program: prints the range table and then
// the stuck-channel report that tavrin writes for the same sample file,
// with the same diagnostics and exit status. The benchmark times it, so it
// counts nothing that tavrin does not.
#include "line_model.h"

#include <bitset>
#include <fstream>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    if (!in.is_open()) return 2;
    const model::Scan s = model::scan(in, argv[1], "tavrin", false);
    std::fputs(s.err.c_str(), stderr);
    const model::Ranges& r = s.ranges;
    std::printf("Ch   Min   Max\n");
    for (int chan = 0; chan < model::kNChan; ++chan) {
        std::printf("%2d  %4d  %4d\n", chan, r.minimum[chan], r.maximum[chan]);
    }
    std::fflush(stdout);
    int nstuck = 0;
    for (const int low : r.minimum) nstuck += low > 1;
    if (nstuck > 0) std::cout << " nstuck " << nstuck << std::endl;
    for (int chan = 0; chan < model::kNChan; ++chan) {
        const int low = r.minimum[chan];
        if (low <= 1) continue;
        std::cout << " stuck chan " << chan << " min dec " << low << " hex " << std::hex << low << std::dec
                  << " bin " << std::bitset<10>(low) << std::endl;
    }
    return s.status;
}
