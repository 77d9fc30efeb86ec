#pragma once
// COM for the tool's commands: the apartment of the main thread, the module beside skts, and
// failures told in words.
#include <string>

#include "ComPlatform.h"

namespace Skts {

// COM initialised on the calling thread while the object lives. Its end lets go of the modules
// nobody uses any more.
class ComApartment {
public:
    ComApartment() : result_(CoInitialize(nullptr)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    const HRESULT result_;
};

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// The filter's module: beside skts as it is built (and as installed on Windows), else in the
// module folder of an installed skts.
std::string DefaultModulePath();
// Where the registry lives on this machine.
std::string RegistryLocation();

// "0x80040154" followed by what it means, and for a registry that cannot be read, why.
std::string DescribeFailure(HRESULT hr);

} // namespace Skts
