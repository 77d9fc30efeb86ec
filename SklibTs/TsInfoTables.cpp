// Table bookkeeping of the analyser: section collection, tables by key, program following.
#include "TsInfoImpl.h"

namespace SklibTs {

void TsInfoImpl::RunTableDeadlines(int64_t /*now*/) {}

void TsInfoImpl::AddTableCallback(const TableKey& /*filter*/, TableCallbackFn /*function*/, void* /*context*/) {}
void TsInfoImpl::AddAllTablesCallback(TableCallbackFn /*function*/, void* /*context*/) {}
void TsInfoImpl::AddTableTimeoutCallback(const TableKey& /*filter*/, TableTimeoutCallbackFn /*function*/,
                                         void* /*context*/)
{
}

} // namespace SklibTs
