#include "Probes.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace BaseClassesTest {
namespace {

using BaseAllocator = LiveObjects;

ComPtr<IMemAllocator> MakeAllocator(LONG buffers, LONG size, LONG align = 1, LONG prefix = 0)
{
    ComPtr<IMemAllocator> allocator;
    EXPECT_EQ(CreateMemoryAllocator(allocator.Put()), S_OK);
    ALLOCATOR_PROPERTIES request{buffers, size, align, prefix};
    ALLOCATOR_PROPERTIES actual{};
    EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
    return allocator;
}

TEST_F(BaseAllocator, PropertiesAreGrantedAlignedAndFrozenWhileCommitted)
{
    ComPtr<IMemAllocator> allocator;
    ASSERT_EQ(CreateMemoryAllocator(allocator.Put()), S_OK);
    IMediaSample* sample = nullptr;
    EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);
    EXPECT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);

    ALLOCATOR_PROPERTIES request{3, 1000, 3, 0};
    ALLOCATOR_PROPERTIES actual{};
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BADALIGN);
    request = {3, 1000, 64, 8};
    ASSERT_EQ(allocator->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, 3);
    EXPECT_EQ(actual.cbBuffer, 1016); // 1000 + 8 rounded to 1024, less the prefix
    EXPECT_EQ(actual.cbAlign, 64);
    EXPECT_EQ(actual.cbPrefix, 8);

    ASSERT_EQ(allocator->Commit(), S_OK);
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    BYTE* data = nullptr;
    ASSERT_EQ(sample->GetPointer(&data), S_OK);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data - 8) % 64, 0u);
    EXPECT_EQ(sample->GetSize(), 1016);
    std::memset(data - 8, 0xAB, 1024); // prefix and buffer are ours to write
    allocator->Decommit();
    EXPECT_EQ(allocator->SetProperties(&request, &actual), VFW_E_BUFFERS_OUTSTANDING);
    sample->Release();
    EXPECT_EQ(allocator->SetProperties(&request, &actual), S_OK);
}

TEST_F(BaseAllocator, SamplesKeepWhatIsSetAndComeBackClean)
{
    ComPtr<IMemAllocator> allocator = MakeAllocator(1, 100);
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);

    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    REFERENCE_TIME setStart = 100;
    EXPECT_EQ(sample->SetTime(&setStart, nullptr), S_OK);
    EXPECT_EQ(sample->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
    EXPECT_EQ(stop, 101);
    REFERENCE_TIME setStop = 250;
    sample->SetTime(&setStart, &setStop);
    EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
    EXPECT_EQ(start, 100);
    EXPECT_EQ(stop, 250);
    LONGLONG mediaStart = 7;
    LONGLONG mediaStop = 8;
    EXPECT_EQ(sample->GetMediaTime(&mediaStart, &mediaStop), VFW_E_MEDIA_TIME_NOT_SET);
    sample->SetMediaTime(&mediaStart, &mediaStop);
    mediaStart = mediaStop = 0;
    EXPECT_EQ(sample->GetMediaTime(&mediaStart, &mediaStop), S_OK);
    EXPECT_EQ(mediaStart, 7);
    EXPECT_EQ(mediaStop, 8);

    EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(TRUE);
    sample->SetPreroll(TRUE);
    EXPECT_EQ(sample->IsSyncPoint(), S_OK);
    EXPECT_EQ(sample->IsDiscontinuity(), S_OK);
    EXPECT_EQ(sample->IsPreroll(), S_OK);
    sample->SetPreroll(FALSE);
    EXPECT_EQ(sample->IsPreroll(), S_FALSE);
    EXPECT_EQ(sample->IsSyncPoint(), S_OK);

    EXPECT_EQ(sample->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(sample->SetActualDataLength(60), S_OK);
    EXPECT_EQ(sample->GetActualDataLength(), 60);

    AM_MEDIA_TYPE* type = nullptr;
    EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
    CMediaType video(&MEDIATYPE_Video);
    sample->SetMediaType(&video);
    ASSERT_EQ(sample->GetMediaType(&type), S_OK);
    EXPECT_TRUE(type->majortype == MEDIATYPE_Video);
    DeleteMediaType(type);

    EXPECT_EQ(sample->AddRef(), 2u);
    EXPECT_EQ(sample->Release(), 1u);
    IMediaSample* sameAgain = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&sameAgain, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    sample->Release(); // back to the free list
    ASSERT_EQ(allocator->GetBuffer(&sameAgain, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(sameAgain, sample);
    EXPECT_EQ(sameAgain->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(sameAgain->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(sameAgain->IsDiscontinuity(), S_FALSE);
    EXPECT_EQ(sameAgain->GetMediaType(&type), S_FALSE);
    EXPECT_EQ(sameAgain->GetMediaTime(&mediaStart, &mediaStop), VFW_E_MEDIA_TIME_NOT_SET);
    sameAgain->Release();
    allocator->Decommit();
}

TEST_F(BaseAllocator, GetBufferBlocksUntilASampleIsReleased)
{
    ComPtr<IMemAllocator> allocator = MakeAllocator(1, 64);
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* held = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);

    std::atomic<bool> returned{false};
    auto waiter = std::async(std::launch::async, [&] {
        IMediaSample* sample = nullptr;
        const HRESULT hr = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
        returned = true;
        if (sample != nullptr)
            sample->Release();
        return std::make_pair(hr, sample);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(returned.load()); // still waiting: the only sample is out
    held->Release();
    const auto [hr, sample] = waiter.get();
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(sample, held);
    allocator->Decommit();
}

TEST_F(BaseAllocator, DecommitReleasesEveryBlockedCallerAndWaitsForOutstandingSamples)
{
    IMemAllocator* allocator = MakeAllocator(1, 64).Detach();
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* held = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&held, nullptr, nullptr, 0), S_OK);

    std::vector<std::future<HRESULT>> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.push_back(std::async(std::launch::async, [allocator] {
            IMediaSample* sample = nullptr;
            return allocator->GetBuffer(&sample, nullptr, nullptr, 0);
        }));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(allocator->Decommit(), S_OK);
    for (auto& waiter : waiters)
        EXPECT_EQ(waiter.get(), VFW_E_NOT_COMMITTED);

    // The committed allocator outlives its last outside reference while a sample is out.
    EXPECT_EQ(allocator->Release(), 1u);
    EXPECT_EQ(CBaseObject::ObjectsActive(), 1);
    BYTE* data = nullptr;
    EXPECT_EQ(held->GetPointer(&data), S_OK);
    data[0] = 1;
    held->Release();
    EXPECT_EQ(CBaseObject::ObjectsActive(), 0);
}

TEST_F(BaseAllocator, RecommitAfterDecommitReusesTheBuffers)
{
    ComPtr<IMemAllocator> allocator = MakeAllocator(2, 32);
    ASSERT_EQ(allocator->Commit(), S_OK);
    IMediaSample* first = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&first, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(allocator->Decommit(), S_OK);
    IMediaSample* refused = nullptr;
    EXPECT_EQ(allocator->GetBuffer(&refused, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(allocator->Commit(), S_OK); // while the decommit still waits for `first`
    first->Release();
    IMediaSample* a = nullptr;
    IMediaSample* b = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&a, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(allocator->GetBuffer(&b, nullptr, nullptr, 0), S_OK);
    EXPECT_NE(a, b);
    a->Release();
    b->Release();
    EXPECT_EQ(allocator->Decommit(), S_OK);
    EXPECT_EQ(allocator->Decommit(), S_OK);
}

} // namespace
} // namespace BaseClassesTest
