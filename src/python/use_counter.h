#pragma once
// Shared and exclusive use of one instance's value. The interpreter lock
// already serialises every call, so this only refuses re-entrant use: Python
// code run during argument conversion calling back into the same object.

#include <cstdint>

namespace lexmill::python {

enum class UseKind { none, shared, exclusive };

struct UseCounter {
    static constexpr int64_t kExclusive = -1;
    // 0: free; > 0: that many shared uses; kExclusive: one exclusive use.
    int64_t state = 0;
};

// Holds one use for its lifetime, so the use is released on every way out of
// a call, exceptions included.
class Use {
public:
    // Raises RuntimeError and throws PythonErrorSet when the use conflicts.
    Use(UseCounter& counter, UseKind kind) : counter_(counter), kind_(kind) {
        switch (kind) {
            case UseKind::none: break;
            case UseKind::shared:
                if (counter.state == UseCounter::kExclusive) refuse(kind);
                ++counter.state;
                break;
            case UseKind::exclusive:
                if (counter.state != 0) refuse(kind);
                counter.state = UseCounter::kExclusive;
                break;
        }
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    ~Use() {
        switch (kind_) {
            case UseKind::none: break;
            case UseKind::shared: --counter_.state; break;
            case UseKind::exclusive: counter_.state = 0; break;
        }
    }

private:
    [[noreturn]] static void refuse(UseKind kind);

    UseCounter& counter_;
    UseKind kind_;
};

}  // namespace lexmill::python
