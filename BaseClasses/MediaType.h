#pragma once
// AM_MEDIA_TYPE with ownership of its format block, and the free helpers the filters use.
#include "ComPlatform.h"

class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const GUID* majortype);
    CMediaType(const AM_MEDIA_TYPE& rt, HRESULT* phr = nullptr);
    CMediaType(const CMediaType& rt, HRESULT* phr = nullptr);
    ~CMediaType();

    CMediaType& operator=(const AM_MEDIA_TYPE& rt);
    CMediaType& operator=(const CMediaType& rt);
    bool operator==(const CMediaType& rt) const;
    bool operator!=(const CMediaType& rt) const { return !(*this == rt); }

    // Deep copy, format block included.
    HRESULT Set(const CMediaType& rt);
    HRESULT Set(const AM_MEDIA_TYPE& rt);

    BOOL IsValid() const { return majortype != GUID_NULL; }
    const GUID* Type() const { return &majortype; }
    const GUID* Subtype() const { return &subtype; }
    const GUID* FormatType() const { return &formattype; }
    ULONG FormatLength() const { return cbFormat; }
    BYTE* Format() const { return pbFormat; }

    void SetType(const GUID* ptype) { majortype = *ptype; }
    void SetSubtype(const GUID* ptype) { subtype = *ptype; }
    void SetFormatType(const GUID* pformattype) { formattype = *pformattype; }
    void SetTemporalCompression(BOOL bCompressed) { bTemporalCompression = bCompressed; }
    void SetSampleSize(ULONG sz);
    void SetVariableSize() { bFixedSizeSamples = FALSE; }
    ULONG GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }
    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }

    // Format block management; the block is CoTaskMemAlloc'ed.
    BYTE* AllocFormatBuffer(ULONG length);
    BYTE* ReallocFormatBuffer(ULONG length);
    BOOL SetFormat(const BYTE* pformat, ULONG length);
    void ResetFormatBuffer();

    // Zero fields, fixed-size samples of size 1; frees what the type owned.
    void InitMediaType();
    // A major type or format type of GUID_NULL leaves the type partly open.
    BOOL IsPartiallySpecified() const;
    // GUID_NULL fields of ppartial match anything; a given format type must match with its block.
    BOOL MatchesPartial(const CMediaType* ppartial) const;
};

// Frees the format block and releases pUnk; the structure itself stays.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a CoTaskMemAlloc'ed AM_MEDIA_TYPE with its contents.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// A CoTaskMemAlloc'ed deep copy, or null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc);
// Deep copy into an uninitialised destination.
HRESULT CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource);
