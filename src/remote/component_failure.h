#pragma once

#include <stdexcept>

namespace tallowcrest {

// A transient failure of a component (player or socket) that is worth trying
// again, as opposed to every other error, which ends the request at once.
class ComponentFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs step; a ComponentFailure is retried, at most kAttempts times in all,
// and then passed on like any other error.
template <typename Step>
decltype(auto) RetryComponentStep(Step&& step)
{
    constexpr int kAttempts = 3;
    for (int attempt = 1;; ++attempt) {
        try {
            return step();
        } catch (const ComponentFailure&) {
            if (attempt == kAttempts)
                throw;
        }
    }
}

}  // namespace tallowcrest
