#pragma once
// A folder of its own under the system's temporary folder, removed with the object, so tests
// that run side by side (or in several checkouts at once) never share files.
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

namespace SktsTest {

class TempDir {
public:
    explicit TempDir(const std::string& name)
    {
        static std::atomic<int> sequence{0};
        path_ = std::filesystem::temp_directory_path() /
                (name + "_" + std::to_string(::getpid()) + "_" + std::to_string(sequence++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    // Writes bytes to a file of the folder; returns its path.
    template <typename Bytes>
    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        const auto path = path_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

private:
    std::filesystem::path path_;
};

} // namespace SktsTest
