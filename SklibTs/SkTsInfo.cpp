#include "SkTsInfo.h"

#include <new>

#include "SkTable.h"
#include "TsInfoImpl.h"

namespace SklibTs {

SkTsInfo::SkTsInfo() = default;
SkTsInfo::~SkTsInfo() = default;

void SkTsInfo::Reset()
{
    transportStreamId = -1;
    bitrate = 0;
    pidInfo.fill(nullptr);
    programs.clear();
    tables.clear();
    syncByteErrors = 0;
    transportErrors = 0;
    packetsProcessed = 0;
    tablesDropped = 0;
    inSync = false;
    network = NetworkInfo{};
    emms.clear();
}

ToolkitVersion GetToolkitVersion() { return {1, 11, 3, 53}; }

int64_t GetTickRate() { return kTicksPerSecond; }

SkTsInfo* CreateTsInfo() { return new (std::nothrow) TsInfoImpl(); }

} // namespace SklibTs
