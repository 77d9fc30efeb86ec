// PAT, PMT and CAT decoding, descriptor loops and descriptor decoders.
#include <gtest/gtest.h>

#include <memory>

#include "Descriptor.h"
#include "PsiTestSupport.h"
#include "SectionBuilder.h"
#include "SkTableCat.h"
#include "SkTablePat.h"
#include "SkTablePmt.h"

using namespace SklibTs;
using SktsTest::Bytes;
using SktsTest::DescriptorBytes;
using namespace PsiTest;

namespace {

Bytes PatSection(uint16_t tsid, uint8_t number, uint8_t last, const std::vector<SktsTest::PatEntry>& programs)
{
    return SktsTest::LongSection({0x00, tsid, 1, true, number, last}, SktsTest::PatBody(programs));
}

Bytes PmtSection(const Bytes& body, uint8_t number = 0, uint8_t last = 0)
{
    return SktsTest::LongSection({0x02, 0x0001, 1, true, number, last}, body);
}

} // namespace

TEST(PsiPat, EntriesAccumulateOverSectionsAndErrorsAreCoded)
{
    SkTablePat pat;
    auto table = TableOf({PatSection(0x0444, 0, 1, {{0, 0x10}, {1, 0x100}}), PatSection(0x0555, 1, 1, {{2, 0x1FFE}})});
    ASSERT_EQ(pat.Parse(table.get()), 0);
    EXPECT_EQ(pat.transport_stream_id, 0x0555) << "the last section parsed gives the id";
    EXPECT_EQ(pat.programs, (std::vector<SkTablePat::Program>{{0, 0x10}, {1, 0x100}, {2, 0x1FFE}}));
    ASSERT_EQ(pat.Parse(table.get()), 0);
    EXPECT_EQ(pat.programs.size(), 3u) << "Parse starts from a cleared table";

    EXPECT_EQ(pat.Parse(nullptr), 1);
    EXPECT_EQ(pat.transport_stream_id, -1);
    EXPECT_TRUE(pat.programs.empty());

    table->sections[0].reset();
    EXPECT_EQ(pat.Parse(table.get()), 1);
    EXPECT_EQ(pat.programs.size(), 1u) << "parsing goes on after a missing section";

    table->last_section_number = -1;
    EXPECT_EQ(pat.Parse(table.get()), 0);
    EXPECT_TRUE(pat.programs.empty());

    const Bytes empty = PatSection(7, 0, 0, {});
    ASSERT_EQ(empty.size(), 12u);
    EXPECT_EQ(pat.Parse(TableOf({empty}).get()), 0);
    EXPECT_EQ(pat.transport_stream_id, 7);
    EXPECT_TRUE(pat.programs.empty());
    EXPECT_EQ(pat.Parse(TableOf({Bytes(empty.begin(), empty.end() - 1)}).get()), 3);

    Bytes damaged = PatSection(7, 0, 0, {{1, 0x20}});
    damaged[9] ^= 0x01;
    EXPECT_EQ(pat.Parse(TableOf({damaged}).get()), 5);
    EXPECT_EQ(pat.programs.size(), 1u) << "the CRC is checked after the entries are read";

    // The first failure wins; later sections are still read.
    Bytes trailing = PatSection(7, 1, 2, {{3, 0x30}});
    trailing.insert(trailing.end() - 4, {0x00, 0x04}); // two stray bytes before the CRC
    SktsTest::FixSectionLength(trailing);
    SktsTest::FixCrc(trailing);
    auto mixed = TableOf({damaged, trailing, PatSection(7, 2, 2, {{4, 0x40}})});
    EXPECT_EQ(pat.Parse(mixed.get()), 5);
    EXPECT_EQ(pat.programs.size(), 3u);
}

TEST(PsiPmt, StreamsDescriptorsAndLoopErrors)
{
    const Bytes programInfo = Concat({DescriptorBytes(0x09, {0x0B, 0x00, 0xE1, 0x23}), DescriptorBytes(0x05, {'C', 'U', 'E', 'I'})});
    const Bytes body = SktsTest::PmtBody(0x0101, programInfo,
                                         {{0x1B, 0x0101, {}},
                                          {0x06, 0x0102, Concat({DescriptorBytes(0x6A, {0x00}), DescriptorBytes(0x0A, {'d', 'e', 'u', 0})})}});
    SkTablePmt pmt;
    ASSERT_EQ(pmt.Parse(TableOf({PmtSection(body)}).get()), 0);
    EXPECT_EQ(pmt.pcr_pid, 0x0101);
    ASSERT_EQ(pmt.program_descriptors.size(), 2u);
    EXPECT_EQ(pmt.program_descriptors[0].kind, DescriptorKind::kCa);
    EXPECT_EQ(pmt.program_descriptors[1].kind, DescriptorKind::kRegistration);
    ASSERT_EQ(pmt.streams.size(), 2u);
    EXPECT_EQ(pmt.streams[0].stream_type, 0x1B);
    EXPECT_EQ(pmt.streams[0].elementary_pid, 0x0101);
    EXPECT_TRUE(pmt.streams[0].descriptors.empty());
    EXPECT_EQ(pmt.streams[1].stream_type, 0x06);
    EXPECT_EQ(pmt.streams[1].elementary_pid, 0x0102);
    ASSERT_EQ(pmt.streams[1].descriptors.size(), 2u);
    EXPECT_EQ(pmt.streams[1].descriptors[0].kind, DescriptorKind::kAc3);
    EXPECT_EQ(pmt.streams[1].descriptors[1].kind, DescriptorKind::kIso639Language);

    // Two sections accumulate their streams; fewer than five bytes of a stream entry are ignored.
    Bytes second = PmtSection(SktsTest::PmtBody(0x0200, {}, {{0x03, 0x0201, {}}}), 1, 1);
    second.insert(second.end() - 4, {0x04, 0xE2, 0x02, 0xF0});
    SktsTest::FixSectionLength(second);
    SktsTest::FixCrc(second);
    ASSERT_EQ(pmt.Parse(TableOf({PmtSection(body, 0, 1), second}).get()), 0);
    EXPECT_EQ(pmt.pcr_pid, 0x0200);
    EXPECT_EQ(pmt.streams.size(), 3u);
    EXPECT_EQ(pmt.program_descriptors.size(), 2u);

    const Bytes noStreams = PmtSection({0xE1, 0x00, 0xF0, 0x00});
    EXPECT_EQ(pmt.Parse(TableOf({noStreams}).get()), 0);
    EXPECT_EQ(pmt.Parse(TableOf({Bytes(noStreams.begin(), noStreams.begin() + 15)}).get()), 3);

    Bytes infoPastEnd = PmtSection({0xE1, 0x00, 0xF0, 0x01});
    EXPECT_EQ(pmt.Parse(TableOf({infoPastEnd}).get()), 3);

    Bytes esPastEnd = PmtSection(SktsTest::PmtBody(0x100, {}, {{0x02, 0x100, DescriptorBytes(0x02, {0x00})}}));
    esPastEnd[12 + 4] = 0x04; // ES_info_length 4, 3 bytes present
    SktsTest::FixCrc(esPastEnd);
    EXPECT_EQ(pmt.Parse(TableOf({esPastEnd}).get()), 3);
    ASSERT_EQ(pmt.streams.size(), 1u);
    EXPECT_EQ(pmt.streams[0].elementary_pid, 0x100);

    // The last descriptor of a stream loop overruns: 4, with the descriptors before it kept.
    Bytes overrun = PmtSection(SktsTest::PmtBody(
        0x100, {}, {{0x02, 0x100, Concat({DescriptorBytes(0x0A, {'e', 'n', 'g', 0}), Bytes{0x52, 0x05, 0x01}})}}));
    EXPECT_EQ(pmt.Parse(TableOf({overrun}).get()), 4);
    ASSERT_EQ(pmt.streams.size(), 1u);
    ASSERT_EQ(pmt.streams[0].descriptors.size(), 1u);
    EXPECT_EQ(pmt.streams[0].descriptors[0].kind, DescriptorKind::kIso639Language);

    Bytes damaged = PmtSection(body);
    damaged[8] ^= 0x01;
    EXPECT_EQ(pmt.Parse(TableOf({damaged}).get()), 5);
}

TEST(PsiCat, CaDescriptorsAndOverrun)
{
    const Bytes body = Concat({DescriptorBytes(0x09, {0x06, 0x04, 0xE0, 0x50}), DescriptorBytes(0x09, {0x18, 0x10, 0xF0, 0x51, 0xAB})});
    SkTableCat cat;
    ASSERT_EQ(cat.Parse(TableOf({SktsTest::LongSection({0x01, 0xFFFF, 0, true, 0, 0}, body)}).get()), 0);
    ASSERT_EQ(cat.descriptors.size(), 2u);
    CaInfo ca;
    ASSERT_EQ(DecodeCa(ca, cat.descriptors[1]), 0);
    EXPECT_EQ(ca.ca_system_id, 0x1810);
    EXPECT_EQ(ca.ca_pid, 0x1051);
    EXPECT_EQ(ca.private_data, (Bytes{0xAB}));

    Bytes overrun = body;
    overrun.push_back(0x09);
    overrun.push_back(0x04);
    EXPECT_EQ(cat.Parse(TableOf({SktsTest::LongSection({0x01, 0xFFFF, 0, true, 0, 0}, overrun)}).get()), 4);
    EXPECT_EQ(cat.descriptors.size(), 2u);
    EXPECT_EQ(cat.Parse(TableOf({Bytes{0x01, 0xB0, 0x08, 0xFF, 0xFF, 0xC1, 0x00, 0x00, 0, 0, 0}}).get()), 3);
}

TEST(PsiDescriptors, KindsPrivateDataSpecifiersAndLoopBounds)
{
    const std::pair<uint8_t, int32_t> kinds[] = {
        {0x6A, DescriptorKind::kAc3}, {0x44, DescriptorKind::kCableDelivery}, {0x50, DescriptorKind::kComponent},
        {0x7A, DescriptorKind::kEnhancedAc3}, {0x64, DescriptorKind::kDataBroadcast},
        {0x66, DescriptorKind::kDataBroadcastId}, {0x4A, DescriptorKind::kLinkage},
        {0x58, DescriptorKind::kLocalTimeOffset}, {0x5E, DescriptorKind::kMultilingualComponent},
        {0x40, DescriptorKind::kNetworkName}, {0x43, DescriptorKind::kSatelliteDelivery},
        {0x48, DescriptorKind::kService}, {0x41, DescriptorKind::kServiceList}, {0x59, DescriptorKind::kSubtitling},
        {0x5A, DescriptorKind::kTerrestrialDelivery}, {0x56, DescriptorKind::kTeletext}, {0x09, DescriptorKind::kCa},
        {0x0A, DescriptorKind::kIso639Language}, {0x0F, DescriptorKind::kPrivateDataIndicator},
        {0x05, DescriptorKind::kRegistration}, {0x02, DescriptorKind::kVideoStream},
        {0x00, -1}, {0x01, -1}, {0x03, -1}, {0x45, -1}, {0x5D, -1}, {0x84, -1}, {0xFF, -1}};
    for (const auto& [tag, kind] : kinds) {
        const Descriptor d = One(tag, {1, 2});
        EXPECT_EQ(d.kind, kind) << "tag " << int(tag);
        EXPECT_EQ(d.tag, tag);
        EXPECT_EQ(d.data, (Bytes{1, 2}));
        EXPECT_EQ(d.length, 2u);
        EXPECT_EQ(d.private_data_specifier, -1);
    }

    const Descriptor ac4 = One(0x7F, {0x15, 0xC0, 0x01});
    EXPECT_EQ(ac4.kind, DescriptorKind::kAc4);
    EXPECT_EQ(ac4.tag_extension, 0x15);
    EXPECT_EQ(ac4.data, (Bytes{0xC0, 0x01}));
    EXPECT_EQ(ac4.length, 2u);
    EXPECT_EQ(One(0x7F, {0x04, 0x00}).kind, -1);
    const Descriptor bareExtension = One(0x7F, {});
    EXPECT_EQ(bareExtension.tag_extension, 0);
    EXPECT_EQ(bareExtension.kind, -1);
    EXPECT_EQ(bareExtension.length, 0u);

    const auto specifier = [](uint32_t value) { return DescriptorBytes(0x5F, {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)}); };
    const Bytes lcn = DescriptorBytes(0x83, {0x00, 0x01, 0xFC, 0x01});
    for (uint32_t value : {0x28u, 0x29u, 0x37u, 0x233Au, 0x3200u, 0x3207u, 0x320Fu}) {
        const auto loop = Loop(Concat({specifier(value), lcn}));
        ASSERT_EQ(loop.size(), 1u) << "the specifier itself is not recorded";
        EXPECT_EQ(loop[0].kind, DescriptorKind::kLogicalChannel) << std::hex << value;
        EXPECT_EQ(loop[0].private_data_specifier, value);
    }
    for (uint32_t value : {0x27u, 0x2Au, 0x31FFu, 0x3210u, 0x28000000u})
        EXPECT_EQ(Loop(Concat({specifier(value), lcn}))[0].kind, -1) << std::hex << value;
    EXPECT_EQ(Loop(lcn)[0].kind, -1);

    // A malformed specifier resets to none; the specifier holds for the rest of the loop only.
    const auto reset = Loop(Concat({specifier(0x28), DescriptorBytes(0x48, {}), DescriptorBytes(0x5F, {0, 0, 0x28}), lcn}));
    ASSERT_EQ(reset.size(), 2u);
    EXPECT_EQ(reset[0].private_data_specifier, 0x28);
    EXPECT_EQ(reset[1].private_data_specifier, -1);
    EXPECT_EQ(reset[1].kind, -1);
    EXPECT_EQ(Loop(lcn)[0].private_data_specifier, -1);

    int32_t result = -1;
    EXPECT_EQ(Loop(Concat({DescriptorBytes(0x0A, {1, 2, 3, 4}), Bytes{0x48}}), &result).size(), 1u);
    EXPECT_EQ(result, 0) << "one byte left is not a descriptor header";
    EXPECT_EQ(Loop(Concat({DescriptorBytes(0x0A, {1, 2, 3, 4}), Bytes{0x48, 0x03, 1, 2}}), &result).size(), 1u);
    EXPECT_EQ(result, 4);
    EXPECT_EQ(Loop({}, &result).size(), 0u);
    EXPECT_EQ(result, 0);
    std::vector<Descriptor> out;
    EXPECT_EQ(ParseDescriptors(nullptr, nullptr, out), 0);
}

TEST(PsiDescriptors, DecodersCheckTagAndSize)
{
    ComponentInfo component;
    ASSERT_EQ(DecodeComponent(component, One(0x50, {0xF5, 0x03, 0x07, 'f', 'r', 'a', 'S', 0xC2, 'e'})), 0);
    EXPECT_EQ(component.stream_content, 5);
    EXPECT_EQ(component.component_type, 3);
    EXPECT_EQ(component.component_tag, 7);
    EXPECT_EQ(component.language, "fra");
    EXPECT_EQ(component.text, L"S\u00E9");
    EXPECT_EQ(DecodeComponent(component, One(0x50, {0xF5, 0x03, 0x07, 'f', 'r'})), 4);
    EXPECT_EQ(component.stream_content, -1);
    EXPECT_EQ(DecodeComponent(component, One(0x59, {0xF5, 0x03, 0x07, 'f', 'r', 'a'})), 6);
    Descriptor extended = One(0x50, {0xF5, 0x03, 0x07, 'f', 'r', 'a'});
    extended.tag_extension = 1;
    EXPECT_EQ(DecodeComponent(component, extended), 6);

    DataBroadcastInfo broadcast;
    ASSERT_EQ(DecodeDataBroadcast(broadcast, One(0x64, {0x01, 0x23, 0x09, 0x02, 0xAA, 0xBB, 'e', 'n', 'g', 0x03, 'a', 'b', 'c'})), 0);
    EXPECT_EQ(broadcast.data_broadcast_id, 0x0123);
    EXPECT_EQ(broadcast.component_tag, 9);
    EXPECT_EQ(broadcast.selector, (Bytes{0xAA, 0xBB}));
    EXPECT_EQ(broadcast.language, "eng");
    EXPECT_EQ(broadcast.text, L"abc");
    ASSERT_EQ(DecodeDataBroadcast(broadcast, One(0x64, {0x01, 0x23, 0x09, 0x00, 'e', 'n', 'g', 0x09, 'a', 'b'})), 0);
    EXPECT_EQ(broadcast.text, L"ab") << "text length cut to the bytes left";
    EXPECT_EQ(DecodeDataBroadcast(broadcast, One(0x64, {0x01, 0x23, 0x09, 0x03, 1, 2, 3, 'e', 'n', 'g'})), 4);
    EXPECT_EQ(DecodeDataBroadcast(broadcast, One(0x64, {0x01, 0x23, 0x09, 0x40, 1, 2, 3, 4, 5})), 4)
        << "selector cut at the end leaves no room for the language";
    EXPECT_EQ(broadcast.selector.size(), 5u);
    EXPECT_EQ(DecodeDataBroadcast(broadcast, One(0x64, {0x01, 0x23, 0x09, 0x00, 'e', 'n', 'g'})), 4);
    EXPECT_EQ(DecodeDataBroadcast(broadcast, One(0x66, {0x01, 0x23, 0x09, 0x00, 'e', 'n', 'g', 0})), 6);

    DataBroadcastIdInfo id;
    ASSERT_EQ(DecodeDataBroadcastId(id, One(0x66, {0x00, 0x0B, 0x01, 0x02})), 0);
    EXPECT_EQ(id.data_broadcast_id, 0x000B);
    EXPECT_EQ(id.id_selector, (Bytes{0x01, 0x02}));
    ASSERT_EQ(DecodeDataBroadcastId(id, One(0x66, {0x00, 0x0B})), 0);
    EXPECT_TRUE(id.id_selector.empty());
    EXPECT_EQ(DecodeDataBroadcastId(id, One(0x66, {0x00})), 4);
    EXPECT_EQ(id.data_broadcast_id, -1);
    EXPECT_EQ(DecodeDataBroadcastId(id, One(0x64, {0x00, 0x0B})), 6);

    CaInfo ca;
    ASSERT_EQ(DecodeCa(ca, One(0x09, {0x0B, 0x00, 0xFF, 0xFF})), 0);
    EXPECT_EQ(ca.ca_system_id, 0x0B00);
    EXPECT_EQ(ca.ca_pid, 0x1FFF);
    EXPECT_TRUE(ca.private_data.empty());
    EXPECT_EQ(DecodeCa(ca, One(0x09, {0x0B, 0x00, 0xE1})), 10);
    EXPECT_EQ(ca.ca_pid, -1);
    EXPECT_EQ(DecodeCa(ca, One(0x05, {0x0B, 0x00, 0xE1, 0x00})), 6);

    RegistrationInfo registration;
    ASSERT_EQ(DecodeRegistration(registration, One(0x05, {'B', 'S', 'S', 'D', 0x42})), 0);
    EXPECT_EQ(registration.format_identifier, 0x42535344u);
    EXPECT_EQ(registration.additional_info, (Bytes{0x42}));
    EXPECT_EQ(DecodeRegistration(registration, One(0x05, {'B', 'S', 'S'})), 10);
    EXPECT_EQ(registration.format_identifier, 0u);
    EXPECT_EQ(DecodeRegistration(registration, One(0x7F, {0x05, 'B', 'S', 'S', 'D'})), 6);

    // A record whose length claims more than its bytes is read only as far as its bytes go.
    Descriptor lying = One(0x05, {'B', 'S', 'S', 'D'});
    lying.length = 200;
    ASSERT_EQ(DecodeRegistration(registration, lying), 0);
    EXPECT_TRUE(registration.additional_info.empty());
}
