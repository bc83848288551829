#include "editor/management/progress_text.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace lexmill {

namespace {

std::string format(const char* pattern, auto... values) {
    char buffer[256];
    int n = std::snprintf(buffer, sizeof buffer, pattern, values...);
    return std::string(buffer, static_cast<size_t>(std::clamp(n, 0, static_cast<int>(sizeof buffer) - 1)));
}

unsigned long long wide(uint64_t value) { return static_cast<unsigned long long>(value); }

}  // namespace

void SyncProgress::planning(uint64_t missing) {
    sink_(format("\n   Pre-computing %llu tokens to remove...\n", wide(missing)));
}

void SyncProgress::candidates_found(uint64_t candidates, uint64_t missing) {
    sink_(format("   Found %llu candidate tokens for removal\n", wide(candidates)));
    if (candidates < missing) {
        sink_(format("   WARNING: Only found %llu tokens to remove, but need %llu\n", wide(candidates), wide(missing)));
    }
}

void SyncProgress::removal_started(uint64_t total) {
    total_ = total;
    sink_(format("\n   Phase 1: Removing %llu tokens...\n", wide(total)));
    phase_start_ = last_line_ = Clock::now();
}

void SyncProgress::removed(uint64_t processed) {
    Clock::time_point now = Clock::now();
    auto since_line = std::chrono::duration_cast<std::chrono::milliseconds>(now - last_line_).count();
    if (since_line <= 99 && processed != total_) return;
    double fraction = static_cast<double>(processed) / static_cast<double>(total_);
    double elapsed = std::chrono::duration<double>(now - phase_start_).count();
    double eta = fraction > 0 ? elapsed / fraction - elapsed : 0.0;
    sink_(format("\r   [%5.1f%%] %llu/%llu removed | Elapsed: %.1fs | ETA: %.1fs    ", fraction * 100, wide(processed),
                 wide(total_), elapsed, eta));
    last_line_ = now;
}

void SyncProgress::removal_finished() { sink_("\n"); }

void SyncProgress::adding(uint64_t missing) {
    sink_(format("\n   Phase 2: Adding %llu single-char tokens...\n", wide(missing)));
    phase_start_ = Clock::now();
}

void SyncProgress::added(uint64_t count) {
    double seconds = std::chrono::duration<double>(Clock::now() - phase_start_).count();
    sink_(format("   Added %llu tokens in %.2fs\n", wide(count), seconds));
}

void SyncProgress::reindexing() { sink_("\n   Phase 3: Reindexing vocabulary to remove ID gaps...\n"); }

void SyncProgress::reindexed(uint64_t ids_remapped, uint64_t gaps_removed) {
    sink_(format("   Reindexed %llu IDs, removed %llu gaps\n", wide(ids_remapped), wide(gaps_removed)));
}

}  // namespace lexmill
