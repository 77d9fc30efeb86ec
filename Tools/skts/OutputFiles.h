#pragma once
// The demultiplexer's output files, one per PID, with every write and every close checked.
// Only a bounded number are open at once (the least recently written is closed and reopened
// for appending when its PID has data again), so thousands of PIDs need no more descriptors
// than that. Payloads are gathered into large buffers that a background writer writes while
// the next ones fill. A run that fails removes the files it made: no half-made outputs stay.
#include "BackgroundWriter.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <string>

namespace Skts {

class OutputFiles {
public:
    static constexpr size_t kMaxOpenFiles = 64;
    // Write buffer: payloads leave in large writes, not one system call a PES.
    static constexpr size_t kBufferSize = 128 * 1024;
    // Filled buffers waiting for the writer, besides the one each open file is filling.
    static constexpr size_t kBuffersInFlight = 8;

    explicit OutputFiles(std::filesystem::path directory, size_t maxOpen = kMaxOpenFiles);
    // Closes what is open; unless Commit() succeeded, removes every file made.
    ~OutputFiles();
    OutputFiles(const OutputFiles&) = delete;
    OutputFiles& operator=(const OutputFiles&) = delete;

    // Makes (or empties) DIR/0xNNNN.es for the PID. False on failure, Error() says why.
    bool Create(uint32_t pid);
    bool Write(uint32_t pid, const uint8_t* data, size_t size);
    // Closes every file, checking each; the files then stay. False on failure.
    bool Commit();

    bool Failed() const { return !error_.empty() || writer_.Failed(); }
    // "cannot write DIR/0xNNNN.es: <reason>": the first failure in the order the work was
    // handed out. Once anything failed no more bytes are written, so a failure of the writer's
    // came from work handed to it before any failure here, whichever thread met its failure
    // first.
    std::string Error() const { return writer_.Failed() ? writer_.Error() : error_; }
    size_t OpenCount() const { return lru_.size(); }

private:
    using Handle = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
    struct File {
        std::filesystem::path path;
        Handle handle{nullptr, &std::fclose};
        BackgroundWriter::Buffer filling;
        std::list<uint32_t>::iterator lruEntry;
        bool withWriter = false; // the writer may still hold work for this path
    };

    bool Open(uint32_t pid, File& file, const char* mode);
    // Writes the file's last bytes and closes it: here when the writer holds nothing of its
    // path, else through the writer, after what it holds.
    void Close(File& file);
    // Waits until the writer has done everything handed to it.
    void WaitForWriter();
    bool Fail(const File& file, int error);

    std::filesystem::path directory_;
    size_t maxOpen_;
    std::map<uint32_t, File> files_;
    std::list<uint32_t> lru_; // open files, least recently used first
    std::string error_;
    bool committed_ = false;
    BackgroundWriter writer_; // last: its thread ends, with every file closed, before the rest goes
};

} // namespace Skts
