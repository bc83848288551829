#include "editor/memory_limit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace lexmill {

namespace {

constexpr uint64_t kUnknown = UINT64_MAX;

uint64_t number_in(const std::string& path) {
    std::ifstream file(path);
    std::string text;
    if (!(file >> text) || text == "max") return kUnknown;
    try {
        return std::stoull(text);
    } catch (...) {
        return kUnknown;
    }
}

uint64_t less(uint64_t limit, uint64_t used) { return limit == kUnknown ? kUnknown : limit > used ? limit - used : 0; }

// The address-space limit less the process's current size.
uint64_t address_space_left() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnknown;
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    statm >> pages;
    return less(limit.rlim_cur, pages * static_cast<uint64_t>(::sysconf(_SC_PAGE_SIZE)));
}

// The memory limit of the process's control group (version 2, then 1).
uint64_t control_group_left() {
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    while (std::getline(groups, line)) {
        if (line.rfind("0::", 0) == 0) {
            std::string base = "/sys/fs/cgroup" + line.substr(3);
            uint64_t left = less(number_in(base + "/memory.max"), number_in(base + "/memory.current"));
            if (left != kUnknown) return left;
        }
    }
    return less(number_in("/sys/fs/cgroup/memory/memory.limit_in_bytes"),
                number_in("/sys/fs/cgroup/memory/memory.usage_in_bytes"));
}

uint64_t system_available() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    uint64_t kib = 0;
    std::string unit;
    while (meminfo >> key >> kib >> unit) {
        if (key == "MemAvailable:") return kib * 1024;
    }
    long pages = ::sysconf(_SC_AVPHYS_PAGES), page = ::sysconf(_SC_PAGE_SIZE);
    return pages > 0 && page > 0 ? uint64_t(pages) * uint64_t(page) : kUnknown;
}

}  // namespace

uint64_t allocatable_bytes() {
    return std::min({address_space_left(), control_group_left(), system_available()});
}

}  // namespace lexmill
