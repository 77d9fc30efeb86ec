// Windows has its own; this replacement is built only elsewhere.
#if !defined(_WIN32)
#include "Registry/RegistryFile.h"

#include "Compat/PlatformFiles.h"
#include "Registry/RegistryText.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

std::string Environment(const char* name)
{
    const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0)
        return {};
    std::string value(size, '\0');
    const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

} // namespace

std::string RegistryFile::DefaultPath()
{
    if (std::string path = Environment("SKTS_REGISTRY"); !path.empty())
        return path;
    std::filesystem::path folder = Environment("XDG_DATA_HOME");
    if (folder.empty() || !folder.is_absolute())
        folder = std::filesystem::path(Environment("HOME")) / ".local" / "share";
    return (folder / "skts" / "registry").string();
}

LSTATUS RegistryFile::Read(const std::function<LSTATUS(const RegistryKey& root)>& reader)
{
    RegistryKey root(L"");
    const LSTATUS status = Load(root);
    return status != ERROR_SUCCESS ? status : reader(root);
}

LSTATUS RegistryFile::Update(const std::function<LSTATUS(RegistryKey& root, bool& changed)>& change)
{
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
    if (!folder.empty())
        std::filesystem::create_directories(folder, ec);
    if (ec)
        return Fail(ERROR_REGISTRY_IO_FAILED, "cannot create the folder " + folder.string() + ": " + ec.message());
    const ExclusiveFileLock lock(path_ + ".lock");
    if (!lock.Held())
        return Fail(ERROR_REGISTRY_IO_FAILED, lock.Error());

    RegistryKey root(L"");
    LSTATUS status = Load(root);
    if (status != ERROR_SUCCESS)
        return status;
    bool changed = false;
    status = change(root, changed);
    if (status != ERROR_SUCCESS || !changed)
        return status;

    const std::string text = WriteRegistryText(root);
    std::string error;
    const bool written = text.empty() ? RemoveFileIfPresent(path_, error) : ReplaceFileContents(path_, text, error);
    return written ? ERROR_SUCCESS : Fail(ERROR_REGISTRY_IO_FAILED, error);
}

LSTATUS RegistryFile::Load(RegistryKey& root)
{
    message_.clear();
    std::error_code ec;
    const auto status = std::filesystem::status(path_, ec);
    if (!std::filesystem::exists(status)) {
        AddSystemKeys(root);
        return ERROR_SUCCESS;
    }
    if (!std::filesystem::is_regular_file(status))
        return Fail(ERROR_REGISTRY_IO_FAILED, "the registry file " + path_ + " is not a file");
    std::ifstream in(path_, std::ios::binary);
    if (!in.is_open())
        return Fail(ERROR_REGISTRY_IO_FAILED, "cannot open the registry file " + path_);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad())
        return Fail(ERROR_REGISTRY_IO_FAILED, "cannot read the registry file " + path_);
    std::string error;
    if (!ReadRegistryText(text, root, error))
        return Fail(ERROR_BADDB, "the registry file " + path_ + " is damaged: " + error);
    AddSystemKeys(root);
    return ERROR_SUCCESS;
}

LSTATUS RegistryFile::Fail(LSTATUS status, const std::string& why)
{
    message_ = why;
    return status;
}

#endif
