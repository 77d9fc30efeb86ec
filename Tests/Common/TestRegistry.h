#pragma once
// A registry of the test process's own (SKTS_REGISTRY, inherited by the tools it runs), so that
// registering modules never touches the user's registry and parallel test processes never
// share one.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace SktsTest {

class TestRegistry {
public:
    explicit TestRegistry(const std::string& tag)
        : folder_(std::filesystem::temp_directory_path() / ("skts_registry_" + tag + "_" + std::to_string(::getpid())))
    {
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        ::setenv("SKTS_REGISTRY", File().c_str(), 1);
    }
    ~TestRegistry()
    {
        ::unsetenv("SKTS_REGISTRY");
        std::error_code ec;
        std::filesystem::remove_all(folder_, ec);
    }
    TestRegistry(const TestRegistry&) = delete;
    TestRegistry& operator=(const TestRegistry&) = delete;

    std::string File() const { return (folder_ / "registry").string(); }
    const std::filesystem::path& Folder() const { return folder_; }

private:
    std::filesystem::path folder_;
};

} // namespace SktsTest
