#pragma once
// The filter's input pin "Ts": takes MPEG-2 transport stream in media samples of any size and
// hands their bytes to the engine, and passes flushes on to every output pin.
#include "BaseInputPin.h"

class SkDsDemux;

class TsPin final : public CBaseInputPin {
public:
    TsPin(SkDsDemux* filter, CCritSec* filterLock, CCritSec* receiveLock, HRESULT* phr);

    // MEDIATYPE_Stream / MEDIASUBTYPE_MPEG2_TRANSPORT, whatever the format block.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override;

    // Under the receive lock only: every non-empty sample is demultiplexed, whatever the
    // filter state, the flushing flag or the sample's own marks.
    HRESULT Receive(IMediaSample* pSample) override;
    // Downstream pins see BeginFlush before this pin marks itself flushing, and EndFlush after
    // it has cleared the mark; queued PES packets stay queued.
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;

private:
    SkDsDemux& Filter() const;

    CCritSec* const receiveLock_;
};
