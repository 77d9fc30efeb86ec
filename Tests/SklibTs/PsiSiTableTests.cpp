// SDT, NIT and MGT decoding and the service-information descriptors: what each table and
// descriptor yields, and where a length that does not fit stops the walk.
#include <gtest/gtest.h>

#include <memory>

#include "Descriptor.h"
#include "PsiTestSupport.h"
#include "SectionBuilder.h"
#include "SkTableMgt.h"
#include "SkTableNit.h"
#include "SkTableSdt.h"

using namespace SklibTs;
using SktsTest::AppendBigEndian;
using SktsTest::Bytes;
using SktsTest::DescriptorBytes;
using namespace PsiTest;

namespace {

// A loop entry: the fixed bytes, then a 12-bit length and the descriptors it counts.
Bytes Entry(const Bytes& fixed, const Bytes& descriptors, int extraLength = 0)
{
    Bytes e = fixed;
    AppendBigEndian(e, 0xF000u | static_cast<uint32_t>(static_cast<int>(descriptors.size()) + extraLength), 2);
    return Concat({e, descriptors});
}

Bytes Text(const char* text) { return Bytes(text, text + std::char_traits<char>::length(text)); }

Bytes WithLength(const Bytes& text)
{
    return Concat({{static_cast<uint8_t>(text.size())}, text});
}

Bytes SdtSection(uint8_t number, uint8_t last, const Bytes& services)
{
    return SktsTest::LongSection({0x42, 0x0005, 0, true, number, last}, Concat({{0x00, 0x77, 0xFF}, services}));
}

Bytes ServiceDescriptor(uint8_t type, const char* provider, const char* name)
{
    return DescriptorBytes(0x48, Concat({{type}, WithLength(Text(provider)), WithLength(Text(name))}));
}

} // namespace

TEST(PsiSdt, ServicesInSectionOrderAndWhereALoopStops)
{
    const Bytes first = Entry({0x00, 0x01, 0xFC}, ServiceDescriptor(1, "P", "One"));
    // The second service's loop ends in the middle of a descriptor; the third is still read.
    const Bytes second = Entry({0x00, 0x02, 0xFC}, Concat({ServiceDescriptor(2, "P", "Two"), {0x48, 9, 1}}));
    const Bytes third = Entry({0x00, 0x03, 0xFC}, {});
    const auto table = TableOf({SdtSection(0, 1, Concat({first, second})), SdtSection(1, 1, third)});
    SkTableSdt sdt;
    EXPECT_EQ(sdt.Parse(table.get()), PsiResult::kLoopOverrun);
    EXPECT_EQ(sdt.transport_stream_id, 5);
    EXPECT_EQ(sdt.original_network_id, 0x77);
    ASSERT_EQ(sdt.services.size(), 3u);
    EXPECT_EQ(sdt.services[0].service_id, 1);
    EXPECT_EQ(sdt.services[1].descriptors.size(), 1u);
    EXPECT_EQ(sdt.services[2].service_id, 3);

    // A service entry whose loop passes the CRC_32 ends the section, keeping the ones before.
    const Bytes overlong = Entry({0x00, 0x04, 0xFC}, {}, 200);
    ASSERT_EQ(sdt.Parse(TableOf({SdtSection(0, 0, Concat({first, overlong}))}).get()), PsiResult::kTooShort);
    ASSERT_EQ(sdt.services.size(), 1u);
    // A section without room for its service loop gives nothing.
    EXPECT_EQ(sdt.Parse(TableOf({Bytes(14, 0x42)}).get()), PsiResult::kTooShort);
    EXPECT_TRUE(sdt.services.empty());
}

TEST(PsiNit, NetworkAndTransportStreamLoops)
{
    const Bytes networkLoop = DescriptorBytes(0x40, Text("Net"));
    const Bytes streams = Concat({Entry({0x00, 0x05, 0x00, 0x77}, DescriptorBytes(0x44, Bytes(11, 0x11))),
                               Entry({0x00, 0x06, 0x00, 0x77}, {})});
    Bytes body = Entry({}, networkLoop);
    body = Concat({body, Entry({}, streams)});
    const auto table = TableOf({SktsTest::LongSection({0x40, 0x1234, 0}, body)});
    SkTableNit nit;
    ASSERT_EQ(nit.Parse(table.get()), PsiResult::kOk);
    EXPECT_EQ(nit.network_id, 0x1234);
    ASSERT_EQ(nit.network_descriptors.size(), 1u);
    ASSERT_EQ(nit.transport_streams.size(), 2u);
    EXPECT_EQ(nit.transport_streams[0].transport_stream_id, 5);
    EXPECT_EQ(nit.transport_streams[0].original_network_id, 0x77);
    EXPECT_EQ(nit.transport_streams[0].descriptors.at(0).tag, 0x44);
    EXPECT_EQ(nit.transport_streams[1].transport_stream_id, 6);

    // A transport stream loop length past the CRC_32 is cut to it: the entries are read.
    const Bytes cut = Concat({Entry({}, networkLoop), Entry({}, streams, 40)});
    EXPECT_EQ(nit.Parse(TableOf({SktsTest::LongSection({0x40, 0x1234, 0}, cut)}).get()), PsiResult::kTooShort);
    EXPECT_EQ(nit.transport_streams.size(), 2u);
    // A network loop past the CRC_32 ends the section before any descriptor.
    const Bytes overlong = Concat({Entry({}, networkLoop, 50), Entry({}, streams)});
    EXPECT_EQ(nit.Parse(TableOf({SktsTest::LongSection({0x40, 0x1234, 0}, overlong)}).get()), PsiResult::kTooShort);
    EXPECT_EQ(nit.network_id, 0x1234);
    EXPECT_TRUE(nit.network_descriptors.empty());
    EXPECT_TRUE(nit.transport_streams.empty());
}

TEST(PsiMgt, TableTypesAndPidsOfProtocolVersionZero)
{
    const auto entry = [](uint16_t type, uint16_t pid, const Bytes& descriptors, int extra = 0) {
        Bytes fixed;
        AppendBigEndian(fixed, type, 2);
        AppendBigEndian(fixed, 0xE000u | pid, 2);
        fixed.push_back(0xC1);                 // version
        AppendBigEndian(fixed, 1000, 4);       // number_bytes
        return Entry(fixed, descriptors, extra);
    };
    const auto mgt = [](uint8_t protocolVersion, uint16_t tables, const Bytes& entries) {
        return SktsTest::LongSection({0xC7, 0, 0}, Concat({{protocolVersion}, {static_cast<uint8_t>(tables >> 8), static_cast<uint8_t>(tables)}, entries, {0xF0, 0x00}}));
    };
    const Bytes entries = Concat({entry(0x100, 0x1D00, {}), entry(0x101, 0x1D01, DescriptorBytes(0x80, {1, 2}))});
    SkTableMgt table;
    ASSERT_EQ(table.Parse(TableOf({mgt(0, 2, entries)}).get()), PsiResult::kOk);
    ASSERT_EQ(table.tables.size(), 2u);
    EXPECT_EQ(table.tables[0].table_type, 0x100u);
    EXPECT_EQ(table.tables[0].table_type_pid, 0x1D00u);
    EXPECT_EQ(table.tables[1].table_type_pid, 0x1D01u);

    // tables_defined bounds the walk; another protocol_version is not read at all.
    ASSERT_EQ(table.Parse(TableOf({mgt(0, 1, entries)}).get()), PsiResult::kOk);
    EXPECT_EQ(table.tables.size(), 1u);
    EXPECT_EQ(table.Parse(TableOf({mgt(1, 2, entries)}).get()), PsiResult::kOk);
    EXPECT_TRUE(table.tables.empty());
    // An entry whose descriptors pass the CRC_32 ends the section.
    const Bytes overlong = Concat({entry(0x100, 0x1D00, {}), entry(0x101, 0x1D01, {}, 30)});
    EXPECT_EQ(table.Parse(TableOf({mgt(0, 2, overlong)}).get()), PsiResult::kTooShort);
    EXPECT_EQ(table.tables.size(), 1u);
}

TEST(PsiSiDescriptors, NamesOfServicesAndNetworks)
{
    ServiceInfo service;
    ASSERT_EQ(DecodeService(service, One(0x48, Concat({{0x19}, WithLength(Text("Prov")), WithLength(Text("Name"))}))), 0);
    EXPECT_EQ(service.service_type, 0x19);
    EXPECT_EQ(service.provider_name, L"Prov");
    EXPECT_EQ(service.service_name, L"Name");
    // Names cut to the descriptor; a missing service type is no service descriptor.
    ASSERT_EQ(DecodeService(service, One(0x48, {0x01, 9, 'A', 'B'})), 0);
    EXPECT_EQ(service.provider_name, L"AB");
    EXPECT_EQ(service.service_name, L"");
    EXPECT_NE(DecodeService(service, One(0x48, {})), 0);
    EXPECT_EQ(DecodeService(service, One(0x40, {0x01})), PsiResult::kWrongTag);

    MultilingualNameInfo names;
    const Bytes serviceNames = Concat({Text("deu"), WithLength(Text("P1")), WithLength(Text("Eins")), Text("eng"),
                                    WithLength(Text("P2")), WithLength(Text("One")), Text("fr")});
    ASSERT_EQ(DecodeMultilingualServiceName(names, One(0x5D, serviceNames)), 0);
    ASSERT_EQ(names.names.size(), 2u) << "a language code cut short starts no entry";
    EXPECT_EQ(names.names[1].language, "eng");
    EXPECT_EQ(names.names[1].provider_name, L"P2");
    EXPECT_EQ(names.names[1].name, L"One");
    ASSERT_EQ(DecodeMultilingualNetworkName(names, One(0x5B, Concat({Text("fra"), WithLength(Text("Reseau"))}))), 0);
    ASSERT_EQ(names.names.size(), 1u);
    EXPECT_EQ(names.names[0].name, L"Reseau");
    EXPECT_TRUE(names.names[0].provider_name.empty());

    std::wstring networkName;
    ASSERT_EQ(DecodeNetworkName(networkName, One(0x40, Text("Net"))), 0);
    EXPECT_EQ(networkName, L"Net");
}

TEST(PsiSiDescriptors, DeliverySystems)
{
    // 11.727 GHz, 19.2 E, horizontal, DVB-S2 8PSK, roll-off 0.25 (code 1), 27.5 Msym/s, FEC 3/4.
    SatelliteDeliveryInfo satellite;
    ASSERT_EQ(DecodeSatelliteDelivery(satellite, One(0x43, {0x01, 0x17, 0x27, 0x00, 0x01, 0x92, 0x8E,
                                                            0x02, 0x75, 0x00, 0x03})), 0);
    EXPECT_EQ(satellite.frequencyHz, 11'727'000'000u);
    EXPECT_EQ(satellite.orbitalPosition, 192);
    EXPECT_TRUE(satellite.westEast);
    EXPECT_EQ(satellite.polarization, 0);
    EXPECT_EQ(satellite.rollOff, 1);
    EXPECT_EQ(satellite.modulation, 6);
    EXPECT_EQ(satellite.symbolRate, 27'500'000u);
    EXPECT_EQ(satellite.fecInner, 3);
    EXPECT_EQ(DecodeSatelliteDelivery(satellite, One(0x43, Bytes(10, 0))), PsiResult::kShortDescriptor);

    // 346 MHz, 256-QAM (5), 6.9 Msym/s, FEC 3/4.
    CableDeliveryInfo cable;
    ASSERT_EQ(DecodeCableDelivery(cable, One(0x44, {0x03, 0x46, 0x00, 0x00, 0xFF, 0xF0, 0x05, 0x00, 0x69, 0x00, 0x03})), 0);
    EXPECT_EQ(cable.frequencyHz, 346'000'000u);
    EXPECT_EQ(cable.modulation, 5);
    EXPECT_EQ(cable.symbolRate, 6'900'000u);
    EXPECT_EQ(cable.fecInner, 3);

    // 474 MHz in 10 Hz units, 8 MHz, 64-QAM (2), code rate 2/3 (1); a reserved bandwidth is 0.
    TerrestrialDeliveryInfo terrestrial;
    ASSERT_EQ(DecodeTerrestrialDelivery(terrestrial, One(0x5A, {0x02, 0xD3, 0x44, 0x40, 0x1F, 0x81, 0xFF})), 0);
    EXPECT_EQ(terrestrial.frequencyHz, 474'000'000u);
    EXPECT_EQ(terrestrial.bandwidthHz, 8'000'000u);
    EXPECT_EQ(terrestrial.constellation, 2);
    EXPECT_EQ(terrestrial.codeRate, 1);
    ASSERT_EQ(DecodeTerrestrialDelivery(terrestrial, One(0x5A, {0x02, 0xD3, 0x44, 0x40, 0xFF, 0x81, 0xFF})), 0);
    EXPECT_EQ(terrestrial.bandwidthHz, 0u);

    // S2: both flagged fields, then a scrambling index flagged but cut short.
    S2SatelliteDeliveryInfo s2;
    ASSERT_EQ(DecodeS2SatelliteDelivery(s2, One(0x79, {0xC0, 0x02, 0x34, 0x56, 0x07})), 0);
    EXPECT_EQ(s2.scramblingSequenceIndex, 0x23456);
    EXPECT_EQ(s2.inputStreamIdentifier, 7);
    EXPECT_EQ(DecodeS2SatelliteDelivery(s2, One(0x79, {0xC0, 0x02})), PsiResult::kShortDescriptor);
    EXPECT_EQ(s2.inputStreamIdentifier, -1);
    ASSERT_EQ(DecodeS2SatelliteDelivery(s2, One(0x79, {0x40, 0x09})), 0);
    EXPECT_EQ(s2.scramblingSequenceIndex, -1);
    EXPECT_EQ(s2.inputStreamIdentifier, 9);

    // T2 is an extension descriptor (tag 0x7F, tag_extension 0x04).
    T2DeliveryInfo t2;
    ASSERT_EQ(DecodeT2Delivery(t2, One(0x7F, {0x04, 0x03, 0x12, 0x34})), 0);
    EXPECT_EQ(t2.plpId, 3);
    EXPECT_EQ(t2.t2SystemId, 0x1234);
    EXPECT_EQ(DecodeT2Delivery(t2, One(0x7F, {0x05, 0x03, 0x12, 0x34})), PsiResult::kWrongTag);
    EXPECT_EQ(DecodeT2Delivery(t2, One(0x7F, {0x04, 0x03})), PsiResult::kShortDescriptor);
}
