#pragma once

#include "platform/foundation/DispatchQueue.h"

#include <latch>
#include <memory>

namespace testsupport {

// Leaves the shared pool `threads` threads of its own for as long as it lives, as on a machine of
// few cores: each of the others runs a piece of work that waits for the end of the scope.
class PoolSqueeze {
public:
    explicit PoolSqueeze(unsigned threads)
    {
        const unsigned size = platform::sharedPoolSize();
        const unsigned taken = size > threads ? size - threads : 0;
        m_state = std::make_shared<State>(taken);
        for (unsigned i = 0; i < taken; ++i) {
            platform::DispatchQueue::global()->async([state = m_state] {
                state->started.count_down();
                state->released.wait();
            });
        }
        m_state->started.wait();
    }
    ~PoolSqueeze() { m_state->released.count_down(); }

    PoolSqueeze(const PoolSqueeze&) = delete;
    PoolSqueeze& operator=(const PoolSqueeze&) = delete;

private:
    struct State {
        explicit State(unsigned taken)
            : started(taken)
        {
        }
        std::latch started;
        std::latch released { 1 };
    };
    std::shared_ptr<State> m_state;
};

} // namespace testsupport
