// The threads that read the input ahead and write the outputs behind: bytes arrive whole and in
// order, failures are named, buffers come back, and a stalled pipe does not hold a run.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <thread>
#include <vector>

#include "BackgroundWriter.h"
#include "OutputFiles.h"
#include "ReadAhead.h"
#include "TempDir.h"
#include "TestData.h"

namespace {

// Both ends of a pipe, closed when the test ends.
struct Pipe {
    Pipe()
    {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        read = fdopen(ends[0], "rb");
        std::setvbuf(read, nullptr, _IONBF, 0);
        write = ends[1];
    }
    ~Pipe()
    {
        if (write >= 0)
            close(write);
        std::fclose(read);
    }
    std::FILE* read;
    int write;
};

} // namespace

// Payloads of several PIDs, interleaved, of every size from one byte to more than two buffers,
// with room for only two open files: every file holds its PID's bytes in order, though buffers
// are written on another thread and files are closed and reopened behind the writer's back.
TEST(SktsOutputFiles, InterleavedPayloadsArriveWholeAndInOrder)
{
    const SktsTest::TempDir dir("skts_interleaved");
    std::map<uint32_t, std::vector<uint8_t>> expected;
    std::mt19937 random(7);
    {
        Skts::OutputFiles files(dir.Path(), 2);
        for (uint32_t pid = 0x100; pid < 0x107; ++pid)
            ASSERT_TRUE(files.Create(pid)) << files.Error();
        std::vector<uint8_t> payload;
        for (int write = 0; write < 600; ++write) {
            const uint32_t pid = 0x100 + random() % 7;
            const size_t size = write % 50 == 0 ? 2 * Skts::OutputFiles::kBufferSize + 17 : 1 + random() % 40000;
            payload.resize(size);
            for (auto& byte : payload)
                byte = static_cast<uint8_t>(random());
            ASSERT_TRUE(files.Write(pid, payload.data(), payload.size())) << files.Error();
            expected[pid].insert(expected[pid].end(), payload.begin(), payload.end());
        }
        EXPECT_LE(files.OpenCount(), 2u);
        ASSERT_TRUE(files.Commit()) << files.Error();
    }
    for (const auto& [pid, bytes] : expected) {
        char name[16];
        std::snprintf(name, sizeof name, "0x%04X.es", pid);
        EXPECT_TRUE(SktsTest::ReadFile(dir / name) == bytes) << name;
    }
}

// A write the device refuses is named with the file and the reason; the buffer still comes
// back, so a caller waiting for one is not left waiting, and the file is closed.
TEST(SktsBackgroundWriter, AFailedWriteIsNamedAndItsBufferComesBack)
{
    const std::filesystem::path device("/dev/full");
    if (!std::filesystem::exists(device))
        GTEST_SKIP() << "no /dev/full here";
    std::FILE* full = std::fopen(device.string().c_str(), "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0);

    Skts::BackgroundWriter writer(4096, 1, 1);
    Skts::BackgroundWriter::Buffer buffer = writer.Take();
    const uint8_t* const only = buffer.bytes.get();
    buffer.size = 4096;
    writer.Write(full, device, std::move(buffer));
    const Skts::BackgroundWriter::Buffer again = writer.Take(); // the one buffer, after its write
    EXPECT_EQ(again.bytes.get(), only);
    writer.Give(Skts::BackgroundWriter::Buffer{});
    writer.Close(full, device);
    writer.Finish();
    EXPECT_TRUE(writer.Failed());
    EXPECT_EQ(writer.Error(), "cannot write /dev/full: No space left on device");
}

// While the writer still holds as many buffers as it may queue, a caller waits for one of them
// instead of making another buffer (here the writer is stuck in a pipe nobody reads yet).
TEST(SktsBackgroundWriter, ACallerWaitsForTheWriterOnceItHoldsAllItMayQueue)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::FILE* const output = fdopen(ends[1], "wb");
    ASSERT_NE(output, nullptr);
    std::setvbuf(output, nullptr, _IONBF, 0);
    constexpr size_t kSize = 1 << 20; // more than a pipe holds: the write blocks until drained
    const std::filesystem::path path("pipe");

    Skts::BackgroundWriter writer(kSize, 4, 1);
    Skts::BackgroundWriter::Buffer buffer = writer.Take();
    const uint8_t* const first = buffer.bytes.get();
    std::fill_n(buffer.bytes.get(), kSize, uint8_t{0x47});
    buffer.size = kSize;
    writer.Write(output, path, std::move(buffer));
    std::thread drain([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let the caller ask first
        std::vector<uint8_t> sink(65536);
        size_t total = 0;
        while (total < kSize) {
            const ssize_t got = ::read(ends[0], sink.data(), sink.size());
            if (got <= 0)
                break;
            total += static_cast<size_t>(got);
        }
    });
    const Skts::BackgroundWriter::Buffer next = writer.Take();
    EXPECT_EQ(next.bytes.get(), first);
    drain.join();
    writer.Give(Skts::BackgroundWriter::Buffer{});
    writer.Close(output, path);
    writer.Finish();
    close(ends[0]);
    EXPECT_FALSE(writer.Failed()) << writer.Error();
}

// Output files that cannot take their bytes (here links to /dev/full) fail the run naming the
// file, whether their bytes went through the writer (a large payload) or were written at the
// close (a short one).
TEST(SktsOutputFiles, AFailedWriteIsNamedWhicheverThreadWroteIt)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here";
    for (const size_t size : {size_t{100}, 3 * Skts::OutputFiles::kBufferSize}) {
        SCOPED_TRACE(size);
        const SktsTest::TempDir dir("skts_full_outputs");
        std::filesystem::create_symlink("/dev/full", dir / "0x0100.es");
        Skts::OutputFiles files(dir.Path());
        ASSERT_TRUE(files.Create(0x100)) << files.Error();
        const std::vector<uint8_t> payload(size, 0x47);
        files.Write(0x100, payload.data(), payload.size());
        EXPECT_FALSE(files.Commit());
        EXPECT_EQ(files.Error(), "cannot write " + (dir / "0x0100.es").string() + ": No space left on device");
    }
}

// A pipe fed in odd pieces, with pauses: the stretches read ahead join up to exactly what was
// written, and the end comes as an empty stretch with no error.
TEST(SktsReadAhead, APipeFedInPiecesArrivesWhole)
{
    Pipe pipe;
    std::vector<uint8_t> sent(300'000);
    std::mt19937 random(11);
    for (auto& byte : sent)
        byte = static_cast<uint8_t>(random());
    std::thread feeder([&] {
        for (size_t at = 0, piece = 1; at < sent.size(); at += piece, piece = piece * 3 % 70'001 + 1) {
            const size_t size = std::min(piece, sent.size() - at);
            ASSERT_EQ(::write(pipe.write, sent.data() + at, size), static_cast<ssize_t>(size));
            if (piece % 5 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        close(pipe.write);
        pipe.write = -1;
    });
    std::vector<uint8_t> received;
    {
        Skts::ReadAhead reader(pipe.read, 16384, 3);
        for (auto stretch = reader.Next(); stretch.size > 0; stretch = reader.Next())
            received.insert(received.end(), stretch.data, stretch.data + stretch.size);
        EXPECT_EQ(reader.Error(), 0);
    }
    feeder.join();
    EXPECT_TRUE(received == sent);
}

// A reader that filled every buffer before the first was taken goes on reading as they are
// taken: a file many rings long arrives whole and in order.
TEST(SktsReadAhead, AReaderThatFilledEveryBufferResumesAsTheyAreTaken)
{
    const SktsTest::TempDir dir("skts_readahead_full");
    const std::filesystem::path path = dir / "input.ts";
    std::vector<uint8_t> sent(40 * 4096 + 123);
    std::mt19937 random(5);
    for (auto& byte : sent)
        byte = static_cast<uint8_t>(random());
    {
        std::FILE* out = std::fopen(path.string().c_str(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(sent.data(), 1, sent.size(), out), sent.size());
        std::fclose(out);
    }
    std::FILE* const input = std::fopen(path.string().c_str(), "rb");
    ASSERT_NE(input, nullptr);
    std::setvbuf(input, nullptr, _IONBF, 0);
    std::vector<uint8_t> received;
    {
        Skts::ReadAhead reader(input, 4096, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // the ring fills meanwhile
#if defined(__linux__)
        EXPECT_EQ(sched_getscheduler(0), SCHED_OTHER); // only the reader runs as a batch thread
#endif
        for (auto stretch = reader.Next(); stretch.size > 0; stretch = reader.Next())
            received.insert(received.end(), stretch.data, stretch.data + stretch.size);
        EXPECT_EQ(reader.Error(), 0);
    }
    std::fclose(input);
    EXPECT_TRUE(received == sent);
}

// A run that ends while its input pipe stays open and silent is not held by the reader waiting
// for it (were it, this test would never end), nor by a reader that filled every buffer.
TEST(SktsReadAhead, EndsWhileThePipeIsSilentOrTheBuffersAreFull)
{
    Pipe silent;
    { Skts::ReadAhead reader(silent.read, 4096, 2); }

    Pipe busy;
    const std::vector<uint8_t> bytes(20'000, 0x47);
    ASSERT_EQ(::write(busy.write, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    Skts::ReadAhead reader(busy.read, 4096, 2);
    EXPECT_EQ(reader.Next().size, 4096u);
}

// A read that fails (here of a folder) ends the stretches and names the error.
TEST(SktsReadAhead, AFailedReadEndsWithItsError)
{
    const SktsTest::TempDir dir("skts_readahead");
    std::FILE* folder = std::fopen(dir.Path().string().c_str(), "rb");
    if (folder == nullptr)
        GTEST_SKIP() << "folders cannot be opened for reading here";
    std::setvbuf(folder, nullptr, _IONBF, 0);
    {
        Skts::ReadAhead reader(folder);
        EXPECT_EQ(reader.Next().size, 0u);
        EXPECT_EQ(reader.Error(), EISDIR);
    }
    std::fclose(folder);
}
