#include "ComSupport.h"

#include <cstdio>
#include <filesystem>

#include "CommandError.h"
#if !defined(_WIN32)
#include "Registry/RegistryFile.h"
#endif

namespace Skts {

std::string Narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring Widen(const std::string& text)
{
    if (text.empty())
        return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string DefaultModulePath()
{
    char self[4096];
    const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self)
        throw CommandError("cannot tell where skts is, to find the module beside it; name the module");
    const std::filesystem::path folder = std::filesystem::path(self).parent_path();
    const std::filesystem::path beside = folder / SKTS_MODULE_FILE_NAME;
    const std::filesystem::path installed = (folder / SKTS_MODULE_DIR_FROM_BINDIR / SKTS_MODULE_FILE_NAME).lexically_normal();
    std::error_code ec;
    if (std::filesystem::is_regular_file(beside, ec) || installed == beside)
        return beside.string();
    if (std::filesystem::is_regular_file(installed, ec))
        return installed.string();
    throw CommandError("no module " + beside.string() + " nor " + installed.string() + "; name the module");
}

std::string RegistryLocation()
{
#if defined(_WIN32)
    return "HKEY_CLASSES_ROOT";
#else
    return RegistryFile::DefaultPath();
#endif
}

std::string DescribeFailure(HRESULT hr)
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08X", static_cast<uint32_t>(hr));
    std::string meaning;
    if (hr == REGDB_E_CLASSNOTREG)
        meaning = "class not registered";
    else if (hr == CO_E_NOTINITIALIZED)
        meaning = "COM not initialised";
    else if (hr == CO_E_ERRORINDLL)
        meaning = "the registered module is not a COM server";
    else if (hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
        meaning = "the registered module does not exist";
    else if (hr == HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT))
        meaning = "the registered module cannot be loaded";
    else if (hr == HRESULT_FROM_WIN32(ERROR_KEY_DELETED))
        meaning = "a registry key was deleted while in use, by another registration at the same time; try again";
    else if (hr == E_OUTOFMEMORY)
        meaning = "out of memory";
#if !defined(_WIN32)
    else if (hr == HRESULT_FROM_WIN32(ERROR_BADDB) || hr == HRESULT_FROM_WIN32(ERROR_REGISTRY_IO_FAILED)) {
        RegistryFile registry(RegistryFile::DefaultPath());
        registry.Read([](const RegistryKey&) -> LSTATUS { return ERROR_SUCCESS; });
        meaning = registry.Message().empty() ? "the registry cannot be read" : registry.Message();
    }
#endif
    return meaning.empty() ? std::string(code) : std::string(code) + ": " + meaning;
}

} // namespace Skts
