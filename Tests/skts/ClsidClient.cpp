// An application that knows the demultiplexer by its identifiers only: it creates the filter
// through CoCreateInstance from whatever module the registry names, queries its interfaces,
// demultiplexes a stream in a paused graph and writes each PID's payload to OUTDIR/PID.es.
// Afterwards it lets the COM runtime unload the module and reports, as JSON, what it found.
//
//   skts_clsid_client STREAM OUTDIR PID=BYTES...   (BYTES: the payload the PID is to deliver)
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "FilterCatalog.h"
#include "Host/ByteReader.h"
#include "Host/FilterGraph.h"
#include "Host/PushSource.h"
#include "Host/SampleSink.h"
#include "MediaType.h"
#include "SkDsDemuxIds.h"

namespace {

struct Payload {
    uint32_t pid = 0;
    size_t expected = 0;
    std::vector<uint8_t> bytes;
};

class Payloads {
public:
    void Add(Payload& payload, const BYTE* data, LONG length)
    {
        {
            std::lock_guard lock(mutex_);
            payload.bytes.insert(payload.bytes.end(), data, data + length);
        }
        changed_.notify_all();
    }
    // True when every PID delivered what it is to deliver within the time-out.
    bool WaitForAll(const std::vector<std::unique_ptr<Payload>>& payloads, std::chrono::seconds timeout)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            for (const auto& payload : payloads) {
                if (payload->bytes.size() < payload->expected)
                    return false;
            }
            return true;
        });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(hr));
    return text;
}

std::string RegisteredModule()
{
    HKEY key = nullptr;
    const std::wstring path = L"CLSID\\" + GuidString(CLSID_SkDsDemux) + L"\\InprocServer32";
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    const UniqueRegistryKey held(key);
    std::wstring module;
    ReadRegistryString(held.get(), nullptr, module);
    return std::filesystem::path(module).string();
}

template <typename Interface>
bool Has(IUnknown* object, REFIID iid, ComPtr<Interface>& out)
{
    return SUCCEEDED(object->QueryInterface(iid, out.PutVoid()));
}

int Run(const std::string& stream, const std::filesystem::path& outDir, std::vector<std::unique_ptr<Payload>>& payloads,
        nlohmann::json& report)
{
    ComPtr<IUnknown> unknown;
    const HRESULT created = CoCreateInstance(CLSID_SkDsDemux, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, unknown.PutVoid());
    if (FAILED(created)) {
        report["error"] = "CoCreateInstance failed (" + Hex(created) + ")";
        return 3;
    }
    report["module"] = RegisteredModule();
    report["loaded_while_alive"] = GetModuleHandleW(std::filesystem::path(report["module"].get<std::string>()).wstring().c_str()) != nullptr;
    ComPtr<IBaseFilter> filter;
    ComPtr<IMpeg2Demultiplexer> demultiplexer;
    ComPtr<IReferenceClock> clock;
    ComPtr<ISkDsDemux> custom;
    ComPtr<ISkDsAvTimeStamp> stamps;
    report["interfaces"] = {{"IBaseFilter", Has(unknown.Get(), IID_IBaseFilter, filter)},
                            {"IMpeg2Demultiplexer", Has(unknown.Get(), IID_IMpeg2Demultiplexer, demultiplexer)},
                            {"IReferenceClock", Has(unknown.Get(), IID_IReferenceClock, clock)},
                            {"ISkDsDemux", Has(unknown.Get(), IID_ISkDsDemux, custom)},
                            {"ISkDsAvTimeStamp", Has(unknown.Get(), IID_ISkDsAvTimeStamp, stamps)}};
    if (!filter || !demultiplexer || !clock || !custom || !stamps)
        return 4;
    int32_t version[4] = {};
    custom->GetVersion(&version[0], &version[1], &version[2], &version[3]);
    report["version"] = std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
                        std::to_string(version[2]) + "." + std::to_string(version[3]);

    auto reader = std::make_unique<DsHost::FileByteReader>(stream);
    if (!reader->IsOpen()) {
        report["error"] = reader->Error();
        return 5;
    }
    const auto graph = DsHost::FilterGraph::Create();
    DsHost::PushSource::Options sourceOptions;
    const ComPtr<DsHost::PushSource> source(new DsHost::PushSource(std::move(reader), sourceOptions));
    Payloads received;
    std::vector<ComPtr<DsHost::SampleSink>> sinks;
    HRESULT hr = graph->AddFilter(source.Get(), L"Source");
    if (SUCCEEDED(hr))
        hr = graph->AddFilter(filter.Get(), L"Demultiplexer");
    ComPtr<IPin> input;
    if (SUCCEEDED(hr))
        hr = filter->FindPin(L"Ts", input.Put());
    if (SUCCEEDED(hr))
        hr = graph->Connect(source->OutputPin(), input.Get());
    for (auto& payload : payloads) {
        CMediaType type(&MEDIATYPE_MPEG2_PES);
        type.SetFormatType(&FORMAT_None);
        std::wstring name = L"pid" + std::to_wstring(payload->pid);
        ComPtr<IPin> pin;
        ComPtr<IMPEG2PIDMap> map;
        if (SUCCEEDED(hr))
            hr = demultiplexer->CreateOutputPin(&type, name.data(), pin.Put());
        if (SUCCEEDED(hr))
            hr = pin->QueryInterface(IID_IMPEG2PIDMap, map.PutVoid());
        ULONG pid = payload->pid;
        if (SUCCEEDED(hr))
            hr = map->MapPID(1, &pid, MEDIA_ELEMENTARY_STREAM);
        DsHost::SinkCallbacks callbacks;
        Payload* target = payload.get();
        callbacks.onSample = [&received, target](const DsHost::ReceivedSample& sample) {
            received.Add(*target, sample.data, sample.length);
            return S_OK;
        };
        sinks.emplace_back(new DsHost::SampleSink(std::move(callbacks)));
        if (SUCCEEDED(hr))
            hr = graph->AddFilter(sinks.back().Get(), name.c_str());
        if (SUCCEEDED(hr))
            hr = graph->Connect(pin.Get(), sinks.back()->InputPin());
    }
    if (SUCCEEDED(hr))
        hr = graph->SetSyncSource(clock.Get());
    if (SUCCEEDED(hr))
        hr = graph->Pause(); // paused, every PES is due at once
    if (FAILED(hr)) {
        report["error"] = "building the graph failed (" + Hex(hr) + ")";
        graph->Stop();
        return 6;
    }
    report["complete"] = received.WaitForAll(payloads, std::chrono::seconds(120));
    graph->Stop();
    for (const auto& payload : payloads) {
        std::ofstream(outDir / (std::to_string(payload->pid) + ".es"), std::ios::binary)
            .write(reinterpret_cast<const char*>(payload->bytes.data()), static_cast<std::streamsize>(payload->bytes.size()));
        report["pids"][std::to_string(payload->pid)] = payload->bytes.size();
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::cerr << "usage: skts_clsid_client STREAM OUTDIR PID=BYTES...\n";
        return 2;
    }
    std::vector<std::unique_ptr<Payload>> payloads;
    for (int i = 3; i < argc; ++i) {
        const std::string argument = argv[i];
        const size_t equals = argument.find('=');
        auto payload = std::make_unique<Payload>();
        payload->pid = static_cast<uint32_t>(std::stoul(argument.substr(0, equals), nullptr, 0));
        payload->expected = std::stoull(argument.substr(equals + 1));
        payloads.push_back(std::move(payload));
    }
    if (FAILED(CoInitialize(nullptr)))
        return 2;
    nlohmann::json report;
    const int result = Run(argv[1], argv[2], payloads, report);
    CoFreeUnusedLibraries();
    if (report.contains("module"))
        report["unloaded"] = GetModuleHandleW(std::filesystem::path(report["module"].get<std::string>()).wstring().c_str()) == nullptr;
    CoUninitialize();
    std::cout << report.dump(1) << '\n';
    return result;
}
