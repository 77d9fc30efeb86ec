#pragma once
// The filter's class identifier and its two custom interfaces. These values are part of the
// filter's public interface: applications create the filter and query the interfaces by them.
#include <cstdint>

#include "ComPlatform.h"

struct AvTimeStampProvider;

// {379040D2-0044-4192-933D-87FE5C9BCBC3}
inline constexpr CLSID CLSID_SkDsDemux = {0x379040D2, 0x0044, 0x4192, {0x93, 0x3D, 0x87, 0xFE, 0x5C, 0x9B, 0xCB, 0xC3}};
// {113D4BEB-B670-4652-B2CB-2C3961D2CC79}
inline constexpr IID IID_ISkDsDemux = {0x113D4BEB, 0xB670, 0x4652, {0xB2, 0xCB, 0x2C, 0x39, 0x61, 0xD2, 0xCC, 0x79}};
// {BAC938DE-31ED-425F-A34D-CD04DC62B127}
inline constexpr IID IID_ISkDsAvTimeStamp = {0xBAC938DE, 0x31ED, 0x425F, {0xA3, 0x4D, 0xCD, 0x04, 0xDC, 0x62, 0xB1, 0x27}};

inline constexpr wchar_t kSkDsDemuxFriendlyName[] = L"Korvath TS Demultiplexer";

// Version of the filter: 1.0.7.18.
struct ISkDsDemux : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetVersion(int32_t* major, int32_t* minor, int32_t* revision, int32_t* build) = 0;
};

// Attaches the host's time-stamp provider (null detaches it). The provider is not owned and
// must outlive the filter's use of it: detach it before it goes.
struct ISkDsAvTimeStamp : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetTimeStampProvider(AvTimeStampProvider* provider) = 0;
    virtual ~ISkDsAvTimeStamp() = default;
};
