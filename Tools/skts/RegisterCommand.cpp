#include "RegisterCommand.h"

#include "StdoutSink.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "ComSupport.h"
#include "CommandError.h"
#include "FilterCatalog.h"
#include "ModuleFunction.h"
#if !defined(_WIN32)
#include "Compat/PlatformFiles.h"
#include "Registry/RegistryFile.h"
#endif

namespace Skts {

namespace {

using RegistrationFunction = HRESULT (*)();

// Held while one registration runs (on Windows the registry's own consistency is all there is).
class RegistrationTurn {
public:
    RegistrationTurn()
    {
#if !defined(_WIN32)
        const std::filesystem::path registry = RegistryFile::DefaultPath();
        std::error_code ec;
        if (registry.has_parent_path())
            std::filesystem::create_directories(registry.parent_path(), ec);
        lock_ = std::make_unique<ExclusiveFileLock>(registry.string() + ".registration.lock");
        if (!lock_->Held())
            throw CommandError(lock_->Error());
#endif
    }

private:
#if !defined(_WIN32)
    std::unique_ptr<ExclusiveFileLock> lock_;
#endif
};

// Loads the module and calls DllRegisterServer or DllUnregisterServer. A registration is many
// registry calls; two at once could delete each other's keys in between, so registrations
// through skts take turns.
int CallRegistration(const std::string& modulePath, const char* entryPoint, std::ostream& out)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(modulePath, ec))
        throw CommandError("no module " + modulePath);
    const RegistrationTurn turn;
    const std::string path = std::filesystem::absolute(modulePath, ec).lexically_normal().string();
    const HMODULE module = LoadLibraryW(Widen(path).c_str());
    if (module == nullptr)
        throw CommandError("cannot load " + path + " (" + DescribeFailure(HRESULT_FROM_WIN32(GetLastError())) + ")");
    const auto entry = GetModuleFunction<RegistrationFunction>(module, entryPoint);
    if (entry == nullptr) {
        FreeLibrary(module);
        throw CommandError(path + " has no " + entryPoint + ": it is not a COM server");
    }
    const HRESULT hr = entry();
    FreeLibrary(module);
    if (FAILED(hr))
        throw CommandError(std::string(entryPoint) + " in " + path + " failed (" + DescribeFailure(hr) + ")");
    out << entryPoint << " in " << path << " succeeded (registry " << RegistryLocation() << ")\n";
    return kExitSuccess;
}

std::string MeritName(DWORD merit)
{
    switch (merit) {
    case MERIT_PREFERRED:
        return "MERIT_PREFERRED";
    case MERIT_NORMAL:
        return "MERIT_NORMAL";
    case MERIT_UNLIKELY:
        return "MERIT_UNLIKELY";
    case MERIT_DO_NOT_USE:
        return "MERIT_DO_NOT_USE";
    default:
        return "";
    }
}

// The name of a media type GUID the tool knows, else the GUID itself.
std::string TypeName(const GUID& guid)
{
    static const std::pair<const GUID*, const char*> kKnown[] = {
        {&MEDIATYPE_Stream, "MEDIATYPE_Stream"},
        {&MEDIATYPE_Video, "MEDIATYPE_Video"},
        {&MEDIATYPE_Audio, "MEDIATYPE_Audio"},
        {&MEDIATYPE_MPEG2_PES, "MEDIATYPE_MPEG2_PES"},
        {&MEDIASUBTYPE_MPEG2_TRANSPORT, "MEDIASUBTYPE_MPEG2_TRANSPORT"},
        {&MEDIASUBTYPE_MPEG2_VIDEO, "MEDIASUBTYPE_MPEG2_VIDEO"},
        {&MEDIASUBTYPE_MPEG2_AUDIO, "MEDIASUBTYPE_MPEG2_AUDIO"},
        {&GUID_NULL, "GUID_NULL"},
    };
    for (const auto& [known, name] : kKnown) {
        if (*known == guid)
            return name;
    }
    return Narrow(GuidString(guid));
}

nlohmann::json FilterJson(const RegisteredFilter& filter)
{
    nlohmann::json pins = nlohmann::json::array();
    for (const RegisteredPin& pin : filter.description.pins) {
        nlohmann::json types = nlohmann::json::array();
        for (const RegisteredMediaType& type : pin.mediaTypes)
            types.push_back({{"major_type", Narrow(GuidString(type.major))},
                             {"subtype", Narrow(GuidString(type.minor))},
                             {"major_type_name", TypeName(type.major)},
                             {"subtype_name", TypeName(type.minor)}});
        pins.push_back({{"output", pin.IsOutput()},
                        {"rendered", (pin.flags & REG_PINFLAG_B_RENDERER) != 0},
                        {"zero", (pin.flags & REG_PINFLAG_B_ZERO) != 0},
                        {"many", (pin.flags & REG_PINFLAG_B_MANY) != 0},
                        {"instances", pin.instances},
                        {"media_types", std::move(types)}});
    }
    return {{"friendly_name", Narrow(filter.friendlyName)},
            {"clsid", filter.hasClsid ? nlohmann::json(Narrow(GuidString(filter.clsid))) : nlohmann::json(nullptr)},
            {"merit", filter.hasFilterData ? nlohmann::json(filter.description.merit) : nlohmann::json(nullptr)},
            {"module", filter.module.empty() ? nlohmann::json(nullptr) : nlohmann::json(Narrow(filter.module))},
            {"pins", std::move(pins)}};
}

void PrintFilter(const RegisteredFilter& filter, std::ostream& out)
{
    out << Narrow(filter.friendlyName.empty() ? filter.instance : filter.friendlyName) << '\n';
    out << "  CLSID   " << (filter.hasClsid ? Narrow(GuidString(filter.clsid)) : "-") << '\n';
    if (filter.hasFilterData) {
        char merit[32];
        std::snprintf(merit, sizeof merit, "0x%08X", static_cast<unsigned>(filter.description.merit));
        const std::string name = MeritName(filter.description.merit);
        out << "  Merit   " << merit << (name.empty() ? "" : " (" + name + ")") << '\n';
    } else {
        out << "  Merit   - (no readable filter data)\n";
    }
    out << "  Module  " << (filter.module.empty() ? "- (not a registered COM server)" : Narrow(filter.module)) << '\n';
    for (size_t i = 0; i < filter.description.pins.size(); ++i) {
        const RegisteredPin& pin = filter.description.pins[i];
        out << "  Pin " << i << "   " << (pin.IsOutput() ? "output" : "input");
        for (const RegisteredMediaType& type : pin.mediaTypes)
            out << (&type == &pin.mediaTypes.front() ? ": " : ", ") << TypeName(type.major) << " / "
                << TypeName(type.minor);
        out << '\n';
    }
}

int ListFilters(bool json, std::ostream& out)
{
    std::vector<RegisteredFilter> filters;
    const HRESULT hr = ReadRegisteredFilters(CLSID_LegacyAmFilterCategory, filters);
    if (FAILED(hr))
        throw CommandError("cannot read the registered filters (" + DescribeFailure(hr) + ")");
    if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const RegisteredFilter& filter : filters)
            list.push_back(FilterJson(filter));
        out << nlohmann::json{{"registry", RegistryLocation()}, {"filters", std::move(list)}}.dump(1) << '\n';
        return kExitSuccess;
    }
    out << "Registry " << RegistryLocation() << ": " << filters.size() << (filters.size() == 1 ? " filter\n" : " filters\n");
    for (const RegisteredFilter& filter : filters)
        PrintFilter(filter, out);
    return kExitSuccess;
}

} // namespace

void AddRegisterCommands(CLI::App& app, StdoutSink& out, int& exitCode)
{
    std::string moduleHelp = "The module (default: the filter's module " + std::string(SKTS_MODULE_FILE_NAME) + ", beside skts";
    if (std::string(SKTS_MODULE_DIR_FROM_BINDIR) != ".")
        moduleHelp += " or in " + std::string(SKTS_MODULE_DIR_FROM_BINDIR) + " from skts's folder";
    moduleHelp += ")";
    auto registerModule = std::make_shared<std::string>();
    CLI::App* registerCommand = app.add_subcommand(
        "register", "Register a COM server module as regsvr32 does: load it and call its DllRegisterServer, which "
                    "enters its classes and filters into the registry");
    registerCommand->add_option("module", *registerModule, moduleHelp);
    registerCommand->callback([registerModule, &out, &exitCode] {
        exitCode = CallRegistration(registerModule->empty() ? DefaultModulePath() : *registerModule, "DllRegisterServer",
                                    out.Stream());
    });

    auto unregisterModule = std::make_shared<std::string>();
    CLI::App* unregisterCommand = app.add_subcommand(
        "unregister", "Unregister a COM server module: load it and call its DllUnregisterServer, which removes what "
                      "registering it entered");
    unregisterCommand->add_option("module", *unregisterModule, moduleHelp);
    unregisterCommand->callback([unregisterModule, &out, &exitCode] {
        exitCode = CallRegistration(unregisterModule->empty() ? DefaultModulePath() : *unregisterModule,
                                    "DllUnregisterServer", out.Stream());
    });

    auto json = std::make_shared<bool>(false);
    CLI::App* filtersCommand = app.add_subcommand(
        "filters", "List the filters registered with the filter mapper (the DirectShow filter category): friendly "
                   "name, CLSID, merit, module and the media types of their pins");
    filtersCommand->add_flag("--json", *json, "Print one JSON document instead of the list");
    filtersCommand->callback([json, &out, &exitCode] { exitCode = ListFilters(*json, out.Stream()); });
}

} // namespace Skts
