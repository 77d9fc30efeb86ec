#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "PesData.h"

namespace DsDemux {

/// Recycles PesData objects, their PES blocks and their shared-pointer control blocks, so that
/// assembling PES packets allocates nothing once as many are idle as are in flight.
///
/// Acquire() runs on the engine's thread; the last reference to a PES may go on any thread
/// (an output pin's worker, typically), which puts it back in the pool. What is kept idle is
/// bounded in count and in block bytes; beyond that a released PES is freed. The pool's state
/// is shared with the PES it handed out only weakly: a PES released after the pool is gone is
/// simply freed.
class PesPool {
public:
    static constexpr size_t kMaxIdle = 64;                     ///< idle PES kept at most
    static constexpr int64_t kMaxIdleBytes = int64_t{16} << 20; ///< PES block bytes kept idle at most: the process stays small

    /// A pool that keeps at most maxIdle idle PES with at most maxIdleBytes of blocks; nothing
    /// is allocated before the first Acquire().
    explicit PesPool(size_t maxIdle = kMaxIdle, int64_t maxIdleBytes = kMaxIdleBytes);
    ~PesPool();
    PesPool(const PesPool&) = delete;
    PesPool& operator=(const PesPool&) = delete;

    /// A PES in the state of a new PesData, recycled when one is idle: the one whose block
    /// best fits sizeHint bytes (the size expected, e.g. that of the stream's last PES). Throws
    /// std::bad_alloc when memory runs out, as std::make_shared does.
    std::shared_ptr<PesData> Acquire(int32_t sizeHint = 0);

    size_t IdleCount() const;  ///< PES kept for reuse
    int64_t IdleBytes() const; ///< bytes of their PES blocks

private:
    struct State;
    struct Recycler;
    template <class T>
    class BlockAllocator;

    size_t maxIdle_;
    int64_t maxIdleBytes_;
    std::shared_ptr<State> state_;
};

} // namespace DsDemux
