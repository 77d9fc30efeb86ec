#pragma once
// The "FilterData" value the filter mapper stores for every registered filter: the merit and
// the pins of a REGFILTER2 in the binary layout of the DirectShow filter mapper (version 2:
// a header, one record per pin with its media types and mediums, then the GUIDs they refer to
// by offset). Decoding takes a byte span and never reads past it.
#include "ComPlatform.h"

#include <cstddef>
#include <vector>

struct RegisteredMediaType {
    GUID major = GUID_NULL;
    GUID minor = GUID_NULL;
};

struct RegisteredPin {
    DWORD flags = 0; // REG_PINFLAG_B_*
    DWORD instances = 0;
    std::vector<RegisteredMediaType> mediaTypes;
    std::vector<REGPINMEDIUM> mediums;
    bool hasCategory = false;
    CLSID category = GUID_NULL;

    bool IsOutput() const { return (flags & REG_PINFLAG_B_OUTPUT) != 0; }
};

struct FilterDescription {
    DWORD merit = 0;
    std::vector<RegisteredPin> pins;
};

// The filter of a version 1 or 2 REGFILTER2, pins in version 2 form (a version 1 pin has one
// instance and no mediums). False for another version or null pins with a count.
bool DescribeFilter(const REGFILTER2& filter, FilterDescription& description);

std::vector<BYTE> EncodeFilterData(const FilterDescription& description);
// False when the bytes are not version 2 filter data or refer outside themselves.
bool DecodeFilterData(const BYTE* data, size_t size, FilterDescription& description);
