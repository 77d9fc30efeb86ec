#include "MediaType.h"

#include <cstring>

CMediaType::CMediaType() : AM_MEDIA_TYPE{} { InitMediaType(); }

CMediaType::CMediaType(const GUID* type) : CMediaType() { majortype = *type; }

CMediaType::CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr) : AM_MEDIA_TYPE{}
{
    const HRESULT hr = CopyMediaType(this, &rt);
    if (FAILED(hr) && phr != nullptr)
        *phr = hr;
}

CMediaType::CMediaType(const CMediaType& rt, HRESULT* phr) : CMediaType(static_cast<const AM_MEDIA_TYPE&>(rt), phr) {}

CMediaType::~CMediaType() { FreeMediaType(*this); }

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& rt)
{
    Set(rt);
    return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& rt)
{
    Set(rt);
    return *this;
}

bool CMediaType::operator==(const CMediaType& rt) const
{
    return majortype == rt.majortype && subtype == rt.subtype && formattype == rt.formattype &&
           cbFormat == rt.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, rt.pbFormat, cbFormat) == 0);
}

HRESULT CMediaType::Set(const CMediaType& rt) { return Set(static_cast<const AM_MEDIA_TYPE&>(rt)); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& rt)
{
    if (&rt == this)
        return S_OK;
    FreeMediaType(*this);
    const HRESULT hr = CopyMediaType(this, &rt);
    return FAILED(hr) ? E_OUTOFMEMORY : S_OK;
}

void CMediaType::SetSampleSize(ULONG sz)
{
    if (sz == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = sz;
    }
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length)
{
    if (cbFormat == length)
        return pbFormat;
    auto* buffer = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (buffer == nullptr)
        return nullptr;
    if (cbFormat != 0)
        CoTaskMemFree(pbFormat);
    cbFormat = length;
    pbFormat = buffer;
    return buffer;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length)
{
    auto* buffer = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (buffer == nullptr)
        return nullptr;
    if (cbFormat != 0) {
        std::memcpy(buffer, pbFormat, cbFormat < length ? cbFormat : length);
        CoTaskMemFree(pbFormat);
    }
    cbFormat = length;
    pbFormat = buffer;
    return buffer;
}

BOOL CMediaType::SetFormat(const BYTE* pformat, ULONG length)
{
    if (AllocFormatBuffer(length) == nullptr && length != 0)
        return FALSE;
    if (length != 0)
        std::memcpy(pbFormat, pformat, length);
    return TRUE;
}

void CMediaType::ResetFormatBuffer()
{
    if (cbFormat != 0)
        CoTaskMemFree(pbFormat);
    cbFormat = 0;
    pbFormat = nullptr;
}

void CMediaType::InitMediaType()
{
    FreeMediaType(*this);
    static_cast<AM_MEDIA_TYPE&>(*this) = AM_MEDIA_TYPE{};
    lSampleSize = 1;
    bFixedSizeSamples = TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const { return majortype == GUID_NULL || formattype == GUID_NULL; }

BOOL CMediaType::MatchesPartial(const CMediaType* ppartial) const
{
    if (ppartial->majortype != GUID_NULL && majortype != ppartial->majortype)
        return FALSE;
    if (ppartial->subtype != GUID_NULL && subtype != ppartial->subtype)
        return FALSE;
    if (ppartial->formattype != GUID_NULL) {
        if (formattype != ppartial->formattype || cbFormat != ppartial->cbFormat)
            return FALSE;
        if (cbFormat != 0 && std::memcmp(pbFormat, ppartial->pbFormat, cbFormat) != 0)
            return FALSE;
    }
    return TRUE;
}

void FreeMediaType(AM_MEDIA_TYPE& mt)
{
    if (mt.cbFormat != 0 || mt.pbFormat != nullptr)
        CoTaskMemFree(mt.pbFormat);
    mt.cbFormat = 0;
    mt.pbFormat = nullptr;
    if (mt.pUnk != nullptr) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt)
{
    if (pmt == nullptr)
        return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc)
{
    auto* pmt = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (pmt == nullptr)
        return nullptr;
    if (FAILED(CopyMediaType(pmt, pSrc))) {
        CoTaskMemFree(pmt);
        return nullptr;
    }
    return pmt;
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource)
{
    *pmtTarget = *pmtSource;
    if (pmtSource->cbFormat != 0 && pmtSource->pbFormat != nullptr) {
        pmtTarget->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(pmtSource->cbFormat));
        if (pmtTarget->pbFormat == nullptr) {
            pmtTarget->cbFormat = 0;
            pmtTarget->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(pmtTarget->pbFormat, pmtSource->pbFormat, pmtSource->cbFormat);
    } else {
        pmtTarget->cbFormat = 0;
        pmtTarget->pbFormat = nullptr;
    }
    if (pmtTarget->pUnk != nullptr)
        pmtTarget->pUnk->AddRef();
    return S_OK;
}
