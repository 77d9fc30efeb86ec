#include "PesPool.h"

#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace DsDemux {

/// The idle PES and control blocks, shared by the pool and (weakly) by every PES it handed out.
struct PesPool::State {
    State(size_t maxIdle, int64_t maxIdleBytes) : maxIdle(maxIdle), maxIdleBytes(maxIdleBytes)
    {
        // Reserved up front: putting back, which may run in a deleter, never allocates.
        idle.reserve(maxIdle);
        blocks.reserve(maxIdle);
    }
    ~State()
    {
        for (void* block : blocks)
            ::operator delete(block);
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    /// The idle PES whose block fits sizeHint best: the smallest that holds it, else the
    /// largest. PES of different streams differ widely in size, and a block handed to a PES
    /// that outgrows it is replaced.
    std::unique_ptr<PesData> Take(int32_t sizeHint)
    {
        std::lock_guard guard(lock);
        if (idle.empty())
            return nullptr;
        size_t best = idle.size() - 1;
        int32_t bestBytes = idle[best]->pes.ReservedBytes();
        for (size_t i = idle.size() - 1; i-- > 0;) {
            const int32_t bytes = idle[i]->pes.ReservedBytes();
            const bool fits = bytes >= sizeHint;
            const bool bestFits = bestBytes >= sizeHint;
            if (fits ? (!bestFits || bytes < bestBytes) : (!bestFits && bytes > bestBytes)) {
                best = i;
                bestBytes = bytes;
            }
        }
        std::unique_ptr<PesData> pes = std::move(idle[best]);
        idle[best] = std::move(idle.back());
        idle.pop_back();
        idleBytes -= bestBytes;
        return pes;
    }

    /// Keeps a recycled PES when the bounds allow; otherwise it is freed, outside the lock.
    void Keep(std::unique_ptr<PesData> pes) noexcept
    {
        const int64_t bytes = pes->pes.ReservedBytes();
        std::lock_guard guard(lock);
        if (idle.size() < maxIdle && idleBytes + bytes <= maxIdleBytes) {
            idleBytes += bytes;
            idle.push_back(std::move(pes));
        }
    }

    void* TakeBlock(size_t bytes) noexcept
    {
        std::lock_guard guard(lock);
        if (blocks.empty() || bytes != blockSize)
            return nullptr;
        void* block = blocks.back();
        blocks.pop_back();
        return block;
    }

    bool KeepBlock(void* block, size_t bytes) noexcept
    {
        std::lock_guard guard(lock);
        if (blocks.empty())
            blockSize = bytes; // the pool hands out one kind of control block only
        if (bytes != blockSize || blocks.size() >= maxIdle)
            return false;
        blocks.push_back(block);
        return true;
    }

    const size_t maxIdle;
    const int64_t maxIdleBytes;
    mutable std::mutex lock;
    std::vector<std::unique_ptr<PesData>> idle; ///< guarded by lock
    int64_t idleBytes = 0;                      ///< guarded by lock
    std::vector<void*> blocks;                  ///< guarded by lock: control blocks of blockSize bytes
    size_t blockSize = 0;                       ///< guarded by lock
};

/// The deleter of a pooled PES: empties it on the releasing thread and puts it back.
struct PesPool::Recycler {
    std::weak_ptr<State> pool;

    void operator()(PesData* released) const noexcept
    {
        std::unique_ptr<PesData> pes(released);
        const std::shared_ptr<State> state = pool.lock();
        if (state == nullptr)
            return;
        pes->Recycle();
        state->Keep(std::move(pes));
    }
};

/// Allocates the control blocks of pooled PES from the pool's idle ones.
template <class T>
class PesPool::BlockAllocator {
public:
    using value_type = T;
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

    explicit BlockAllocator(std::weak_ptr<State> pool) noexcept : pool_(std::move(pool)) {}
    template <class U>
    BlockAllocator(const BlockAllocator<U>& other) noexcept : pool_(other.pool_)
    {
    }

    T* allocate(size_t n)
    {
        const size_t bytes = n * sizeof(T);
        if (const std::shared_ptr<State> state = pool_.lock()) {
            if (void* block = state->TakeBlock(bytes))
                return static_cast<T*>(block);
        }
        return static_cast<T*>(::operator new(bytes));
    }

    void deallocate(T* block, size_t n) noexcept
    {
        const size_t bytes = n * sizeof(T);
        if (const std::shared_ptr<State> state = pool_.lock(); state != nullptr && state->KeepBlock(block, bytes))
            return;
        ::operator delete(block);
    }

    template <class U>
    bool operator==(const BlockAllocator<U>& other) const noexcept
    {
        return !pool_.owner_before(other.pool_) && !other.pool_.owner_before(pool_);
    }

private:
    template <class U>
    friend class BlockAllocator;
    std::weak_ptr<State> pool_;
};

PesPool::PesPool(size_t maxIdle, int64_t maxIdleBytes) : maxIdle_(maxIdle), maxIdleBytes_(maxIdleBytes) {}

PesPool::~PesPool() = default;

std::shared_ptr<PesData> PesPool::Acquire(int32_t sizeHint)
{
    if (state_ == nullptr)
        state_ = std::make_shared<State>(maxIdle_, maxIdleBytes_);
    std::unique_ptr<PesData> pes = state_->Take(sizeHint);
    if (pes == nullptr)
        pes = std::make_unique<PesData>();
    // Should the control block fail to allocate, the constructor hands the PES to the deleter.
    return std::shared_ptr<PesData>(pes.release(), Recycler{state_}, BlockAllocator<PesData>(state_));
}

size_t PesPool::IdleCount() const
{
    if (state_ == nullptr)
        return 0;
    std::lock_guard guard(state_->lock);
    return state_->idle.size();
}

int64_t PesPool::IdleBytes() const
{
    if (state_ == nullptr)
        return 0;
    std::lock_guard guard(state_->lock);
    return state_->idleBytes;
}

} // namespace DsDemux
