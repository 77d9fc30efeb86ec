#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "PesPool.h"
#include "SkTp.h"

using DsDemux::PesData;
using DsDemux::PesPool;

namespace {

std::vector<uint8_t> Packet(bool unitStart, uint8_t fill)
{
    std::vector<uint8_t> p(188, fill);
    p[0] = 0x47;
    p[1] = unitStart ? 0x41 : 0x01;
    p[2] = 0x00;
    p[3] = 0x10;
    if (unitStart) {
        // Video PES of unbounded length with PTS 90,000.
        const uint8_t header[] = {0, 0, 1, 0xE0, 0, 0, 0x80, 0x80, 5, 0x21, 0x00, 0x05, 0xBF, 0x21};
        std::copy(std::begin(header), std::end(header), p.begin() + 4);
    }
    return p;
}

// Assembles a PES of `packets` packets whose payload bytes are `fill`, and sets every other field.
void Fill(PesData& pes, int packets, uint8_t fill)
{
    pes.pes.AddTp(SklibTs::SkTp(Packet(true, fill).data(), 188));
    const auto body = Packet(false, fill);
    for (int i = 1; i < packets; ++i)
        pes.pes.AddTp(SklibTs::SkTp(body.data(), 188));
    pes.timeBaseLocked = false;
    pes.dataLost = true;
    pes.pts = 90'000;
    pes.dts = 87'000;
    pes.pcrTime = 86'000;
    pes.sampleOffset = 1234;
    pes.dueTimeNs = 5678;
    pes.timeStamp = std::make_shared<AvTimeStamp>(AvTimeStamp::kVideo);
}

void ExpectInitial(const PesData& pes)
{
    const PesData fresh;
    EXPECT_EQ(pes.pes.GetState(), SklibTs::SkPes::kIdle);
    EXPECT_EQ(pes.pes.Length(), 0);
    EXPECT_EQ(pes.pes.Capacity(), fresh.pes.Capacity());
    EXPECT_EQ(pes.pes.GetStreamId(), -1);
    EXPECT_EQ(pes.timeBaseLocked, fresh.timeBaseLocked);
    EXPECT_EQ(pes.dataLost, fresh.dataLost);
    EXPECT_EQ(pes.pts, fresh.pts);
    EXPECT_EQ(pes.dts, fresh.dts);
    EXPECT_EQ(pes.pcrTime, fresh.pcrTime);
    EXPECT_EQ(pes.sampleOffset, fresh.sampleOffset);
    EXPECT_EQ(pes.dueTimeNs, fresh.dueTimeNs);
    EXPECT_EQ(pes.timeStamp, nullptr);
}

} // namespace

TEST(PesPoolTest, AReleasedPesComesBackEmptyWithItsBlock)
{
    PesPool pool;
    EXPECT_EQ(pool.IdleCount(), 0u);
    auto pes = pool.Acquire();
    ExpectInitial(*pes);
    Fill(*pes, 50, 0xA5);
    const PesData* object = pes.get();
    const uint8_t* block = pes->pes.Data();
    const int32_t reserved = pes->pes.ReservedBytes();
    std::weak_ptr<AvTimeStamp> record = pes->timeStamp;

    pes.reset();
    // The record goes with the last reference, not when the PES is reused.
    EXPECT_TRUE(record.expired());
    EXPECT_EQ(pool.IdleCount(), 1u);
    EXPECT_EQ(pool.IdleBytes(), reserved);

    auto again = pool.Acquire();
    EXPECT_EQ(again.get(), object);
    EXPECT_EQ(pool.IdleCount(), 0u);
    EXPECT_EQ(pool.IdleBytes(), 0);
    ExpectInitial(*again);
    // No leftover bytes: a shorter PES assembled in the old block has only its own.
    Fill(*again, 2, 0x3C);
    EXPECT_EQ(again->pes.Data(), block);
    ASSERT_EQ(again->pes.Length(), 2 * 184);
    for (int32_t i = 14; i < again->pes.Length(); ++i)
        ASSERT_EQ(again->pes.Data()[i], 0x3C) << i;
}

TEST(PesPoolTest, KeepsNoMoreIdlePesOrBytesThanItsBounds)
{
    {
        PesPool pool(4);
        std::vector<std::shared_ptr<PesData>> held;
        for (int i = 0; i < 10; ++i) {
            held.push_back(pool.Acquire());
            Fill(*held.back(), 3, static_cast<uint8_t>(i));
        }
        held.clear();
        EXPECT_EQ(pool.IdleCount(), 4u);
        EXPECT_EQ(pool.IdleBytes(), 4 * 8192);
    }
    {
        // Blocks of 8 KiB, 64 KiB and 8 KiB against a 20,000-byte bound: the large one is freed.
        PesPool pool(64, 20'000);
        auto a = pool.Acquire();
        auto b = pool.Acquire();
        auto c = pool.Acquire();
        Fill(*a, 3, 1);
        Fill(*b, 300, 2);
        Fill(*c, 3, 3);
        EXPECT_EQ(b->pes.ReservedBytes(), 65536);
        a.reset();
        b.reset();
        c.reset();
        EXPECT_EQ(pool.IdleCount(), 2u);
        EXPECT_EQ(pool.IdleBytes(), 2 * 8192);
        // What was kept is handed out again before anything new is made.
        auto first = pool.Acquire();
        auto second = pool.Acquire();
        EXPECT_EQ(first->pes.ReservedBytes() + second->pes.ReservedBytes(), 2 * 8192);
        EXPECT_EQ(pool.IdleCount(), 0u);
    }
}

TEST(PesPoolTest, APesReleasedAfterThePoolIsGoneIsFreed)
{
    std::shared_ptr<PesData> survivor;
    std::weak_ptr<PesData> watcher;
    std::weak_ptr<AvTimeStamp> record;
    {
        PesPool pool;
        auto idle = pool.Acquire();
        Fill(*idle, 5, 9);
        idle.reset(); // one idle in the pool when it goes
        survivor = pool.Acquire();
        Fill(*survivor, 5, 7);
        watcher = survivor;
        record = survivor->timeStamp;
    }
    EXPECT_EQ(survivor->pes.Data()[200], 7);
    survivor.reset();
    EXPECT_TRUE(record.expired());
    EXPECT_TRUE(watcher.expired());
    watcher.reset(); // the control block goes last, with no pool to return to
}

// A producer acquiring and filling PES while several workers drop them, as the engine and the
// output pins' threads do: every PES a worker sees holds exactly what was written in it.
TEST(PesPoolTest, ReleasesFromSeveralThreadsReturnEveryPesIntact)
{
    constexpr int kWorkers = 4;
    constexpr int kPesPerWorker = 400;
    struct Queue {
        std::mutex lock;
        std::condition_variable ready;
        std::deque<std::shared_ptr<PesData>> items;
        int bad = 0;
        int seen = 0;
    };
    std::vector<Queue> queues(kWorkers);
    PesPool pool(8);
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&queue = queues[w]] {
            for (int n = 0; n < kPesPerWorker; ++n) {
                std::shared_ptr<PesData> pes;
                {
                    std::unique_lock guard(queue.lock);
                    queue.ready.wait(guard, [&] { return !queue.items.empty(); });
                    pes = std::move(queue.items.front());
                    queue.items.pop_front();
                }
                const auto fill = static_cast<uint8_t>(pes->sampleOffset);
                const bool intact = pes->pes.Length() == static_cast<int32_t>(pes->pts) * 184 &&
                                    std::all_of(pes->pes.Data() + 14, pes->pes.Data() + pes->pes.Length(),
                                                [fill](uint8_t b) { return b == fill; });
                std::lock_guard guard(queue.lock);
                queue.bad += intact ? 0 : 1;
                ++queue.seen;
            }
        });
    }
    for (int n = 0; n < kPesPerWorker; ++n) {
        for (int w = 0; w < kWorkers; ++w) {
            auto pes = pool.Acquire();
            ExpectInitial(*pes);
            const int packets = 1 + (n * 7 + w) % 40;
            Fill(*pes, packets, static_cast<uint8_t>(n + w));
            pes->pts = packets;
            pes->sampleOffset = static_cast<uint8_t>(n + w);
            std::lock_guard guard(queues[w].lock);
            queues[w].items.push_back(std::move(pes));
            queues[w].ready.notify_one();
        }
    }
    for (auto& worker : workers)
        worker.join();
    for (auto& queue : queues) {
        EXPECT_EQ(queue.seen, kPesPerWorker);
        EXPECT_EQ(queue.bad, 0);
    }
    EXPECT_LE(pool.IdleCount(), 8u);
    EXPECT_GT(pool.IdleCount(), 0u);
}

TEST(PesPoolTest, HandsOutTheIdleBlockThatFitsTheExpectedSize)
{
    PesPool pool;
    std::vector<std::shared_ptr<PesData>> held;
    for (const int packets : {3, 300, 100, 3}) { // blocks of 8, 64, 32 and 8 KiB
        held.push_back(pool.Acquire());
        Fill(*held.back(), packets, 1);
    }
    held.clear();
    ASSERT_EQ(pool.IdleCount(), 4u);
    EXPECT_EQ(pool.Acquire(20'000)->pes.ReservedBytes(), 32768); // the smallest that holds it
    EXPECT_EQ(pool.Acquire(100'000)->pes.ReservedBytes(), 65536); // none holds it: the largest
    EXPECT_EQ(pool.Acquire()->pes.ReservedBytes(), 8192);
    EXPECT_EQ(pool.IdleCount(), 4u) << "each went back when dropped";
}
