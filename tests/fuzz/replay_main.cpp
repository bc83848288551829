// Runs a fuzz harness without libFuzzer: replays each file named, and given `--random COUNT SEED`, COUNT inputs of
// pseudo-random bytes. Prints "ok".

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    auto run = [](const std::string& input) { LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size()); };
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--random") != 0 || i + 2 >= argc) {
            std::ifstream file(argv[i], std::ios::binary);
            run(std::string(std::istreambuf_iterator<char>(file), {}));
            continue;
        }
        std::mt19937_64 rng(std::strtoull(argv[i + 2], nullptr, 10));
        for (unsigned long n = std::strtoul(argv[i + 1], nullptr, 10); n > 0; --n) {
            std::string input(rng() % 400, '\0');
            for (char& byte : input) byte = static_cast<char>(rng());
            run(input);
        }
        i += 2;
    }
    std::printf("ok\n");
}
