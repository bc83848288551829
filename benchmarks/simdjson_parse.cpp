// The time simdjson alone needs to parse a file: the yardstick for opening a
// tokenizer, which parses the same bytes and builds the editor from them.
//
//   g++ -std=c++20 -O2 benchmarks/simdjson_parse.cpp -lsimdjson -o simdjson_parse
//   ./simdjson_parse FILE [RUNS]
//
// Prints two medians in milliseconds of RUNS full parses (DOM, fully
// validating; the file is read once, outside the timing): with a fresh parser
// each time, as a one-off parse of the bytes needs (its buffers are allocated
// and first touched), and with one parser whose buffers an earlier parse of
// the same file has sized and touched.

#include <simdjson.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE [RUNS]\n", argv[0]);
        return 2;
    }
    int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    simdjson::padded_string text;
    if (simdjson::padded_string::load(argv[1]).get(text)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    using Clock = std::chrono::steady_clock;
    std::vector<double> fresh, warm;
    simdjson::dom::parser reused;
    simdjson::dom::element root;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        simdjson::dom::parser parser;
        if (parser.parse(text).get(root)) {
            std::fprintf(stderr, "not valid JSON: %s\n", argv[1]);
            return 1;
        }
        fresh.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    if (reused.parse(text).get(root)) return 1;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        if (reused.parse(text).get(root)) return 1;
        warm.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    std::printf("%.3f %.3f\n", median(fresh), median(warm));
    return 0;
}
