// Runs a fuzz harness without libFuzzer, so that the test suite can drive it:
// replays every file named on the command line, then, given
// `--random COUNT SEED`, COUNT inputs of pseudo-random bytes.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--random") == 0 && i + 2 < argc) {
            unsigned long count = std::strtoul(argv[i + 1], nullptr, 10);
            std::mt19937_64 rng(std::strtoull(argv[i + 2], nullptr, 10));
            std::vector<uint8_t> input;
            for (unsigned long n = 0; n < count; ++n) {
                input.resize(rng() % 400);
                for (uint8_t& byte : input) byte = static_cast<uint8_t>(rng());
                LLVMFuzzerTestOneInput(input.data(), input.size());
            }
            i += 2;
            continue;
        }
        std::ifstream file(argv[i], std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("ok\n");
    return 0;
}
