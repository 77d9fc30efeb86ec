#include "AnalyserTotals.h"

#include "SkTableSection.h"
#include "TableKey.h"

namespace Skts {

AnalyserTotals::AnalyserTotals(SklibTs::SkTsInfo& analyser, ChangeFn onChange)
    : analyser_(analyser), onChange_(std::move(onChange))
{
    analyser_.AddSectionCallback(0, 0x00, &AnalyserTotals::OnSection, this);
    SklibTs::TableKey pat = SklibTs::MakeWildcardKey();
    pat.pid = 0;
    pat.table_id = 0x00;
    analyser_.AddTableCallback(pat, &AnalyserTotals::OnTable, this);
}

AnalyserTotals::Counts AnalyserTotals::Current() const
{
    return {analyser_.packetsProcessed, analyser_.syncByteErrors, analyser_.transportErrors, analyser_.tablesDropped,
            analyser_.packetsProcessed * analyser_.packetSize};
}

void AnalyserTotals::OnSection(void* context, uint16_t, uint8_t, SklibTs::RawTableSection* section)
{
    auto& self = *static_cast<AnalyserTotals*>(context);
    self.beforePat_ = self.Current();
    self.idBeforePat_ = self.analyser_.transportStreamId;
    self.patTime_ = section->receive_time;
}

void AnalyserTotals::OnTable(void* context, const SklibTs::TableKey*, SklibTs::SkTable*, uint16_t)
{
    auto& self = *static_cast<AnalyserTotals*>(context);
    // Only a reset makes the packet count go back.
    if (self.analyser_.packetsProcessed >= self.beforePat_.packets)
        return;
    self.finished_.packets += self.beforePat_.packets;
    self.finished_.syncByteErrors += self.beforePat_.syncByteErrors;
    self.finished_.transportErrors += self.beforePat_.transportErrors;
    self.finished_.tablesDropped += self.beforePat_.tablesDropped;
    self.finished_.packetBytes += self.beforePat_.packetBytes;
    const TransportStreamChange change{self.finished_.packets - 1, self.patTime_, self.idBeforePat_,
                                       self.analyser_.transportStreamId};
    // The reset also made the packet input look for sync again; the packets are in sync (this
    // one was just read), and a search would need five more of them: the input's last few
    // packets would go unread.
    if (!self.analyser_.inSync)
        self.analyser_.SetSync(true);
    ++self.changeCount_;
    if (self.changes_.size() < kMaxListedChanges)
        self.changes_.push_back(change);
    if (self.onChange_)
        self.onChange_(change);
}

} // namespace Skts
