// Fuzz target: a compressed format's magic number and arbitrary bytes as a
// sample file, through the block reader and the codec's library. Nothing
// may crash or trip a sanitizer, and memory must stay bounded.
//
// The first byte picks the format; the rest follows its magic number, or
// stands alone where it starts with it already, so that real compressed
// files make good seeds.
#include "recording.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace {

const std::string kMagics[] = {
    std::string("\x1f\x8b", 2),
    std::string("BZh91AY&SY", 10),
    std::string("\xfd" "7zXZ\0", 6),
    std::string("\x28\xb5\x2f\xfd", 4),
    std::string("\x50\x2a\x4d\x18", 4),  // a zstd skippable frame, as pzstd starts its files
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const int file = memfd_create("samples", 0);
    if (size == 0) return 0;
    const std::string& magic = kMagics[data[0] % (sizeof kMagics / sizeof kMagics[0])];
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string bytes = rest.compare(0, magic.size(), magic) == 0 ? rest : magic + rest;
    if (ftruncate(file, 0) != 0 || pwrite(file, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        return 0;
    }
    lseek(file, 0, SEEK_SET);
    static Tally tally;
    static CodeTally codes;
    start_tally(tally);
    start_codes(codes);
    scan_file(file, "fuzz", tally, kMaxBlockBytes, &codes);
    return 0;
}
