#pragma once
// The elementary-stream record a PMT entry describes, from its stream_type and descriptors.
#include "ProgramMap.h"
#include "SkTablePmt.h"

namespace SklibTs {

// Every field but the CA entries, which the analyser keeps with their PID references.
ElementaryStream DescribeStream(const SkTablePmt::Stream& entry);

} // namespace SklibTs
