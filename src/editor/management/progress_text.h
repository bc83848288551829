#pragma once
// The progress report of sync_single_chars: its fixed pieces, and the line of
// the removal phase, refreshed at most every 100 milliseconds and once more
// when the last token is done.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string_view>

namespace lexmill {

class SyncProgress {
public:
    using Sink = std::function<void(std::string_view)>;
    explicit SyncProgress(const Sink& sink) : sink_(sink) {}

    void planning(uint64_t missing);
    void candidates_found(uint64_t candidates, uint64_t missing);
    // The removal phase: `processed` of `total` candidates are done.
    void removal_started(uint64_t total);
    void removed(uint64_t processed);
    void removal_finished();
    void adding(uint64_t missing);
    void added(uint64_t count);
    void reindexing();
    void reindexed(uint64_t ids_remapped, uint64_t gaps_removed);

private:
    using Clock = std::chrono::steady_clock;

    const Sink& sink_;
    uint64_t total_ = 0;
    Clock::time_point phase_start_;
    Clock::time_point last_line_;
};

}  // namespace lexmill
