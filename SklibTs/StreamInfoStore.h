#pragma once
// Merging a newly parsed record into the PID's stored one.
#include <memory>

#include "EsProperties.h"

namespace SklibTs {

// Drops the PID's audio record. A record whose properties contradict the stored one in any
// group both carry replaces it entirely; otherwise its groups are merged into the stored one.
void StoreVideoInfo(EsProperties& es, std::unique_ptr<VideoStreamInfo> info);

// The same over the audio groups; drops the PID's video record.
void StoreAudioInfo(EsProperties& es, std::unique_ptr<AudioStreamInfo> info);

} // namespace SklibTs
