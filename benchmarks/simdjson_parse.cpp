// The time simdjson alone needs to parse a file: the yardstick for opening a
// tokenizer, which parses the same bytes and builds the editor from them.
//
//   g++ -std=c++20 -O2 benchmarks/simdjson_parse.cpp -lsimdjson -o simdjson_parse
//   ./simdjson_parse FILE [RUNS]
//
// Prints the median milliseconds of RUNS full parses (DOM, fully validating)
// with one parser whose buffers were sized by a first, untimed parse; the
// file is read once, outside the timing.

#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    simdjson::padded_string text;
    if (simdjson::padded_string::load(argv[1]).get(text)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    if (parser.parse(text).get(root)) {
        std::fprintf(stderr, "not valid JSON: %s\n", argv[1]);
        return 1;
    }
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        if (parser.parse(text).get(root)) {
            std::fprintf(stderr, "not valid JSON: %s\n", argv[1]);
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::printf("%.3f\n", times[times.size() / 2]);
    return 0;
}
