// Sections carried in packets, and malformed input of every kind: no crash, no read outside
// the given bytes (run under the address sanitizer), only result codes.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "Descriptor.h"
#include "DvbText.h"
#include "SectionBuilder.h"
#include "SkTable.h"
#include "SkTableCat.h"
#include "SkTableMgt.h"
#include "SkTableNit.h"
#include "SkTablePat.h"
#include "SkTablePmt.h"
#include "SkTableSdt.h"
#include "SkTableSection.h"

using namespace SklibTs;
using SktsTest::Bytes;

namespace {

Bytes operator+(Bytes head, const Bytes& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes RandomBytes(std::mt19937& random, size_t size)
{
    Bytes b(size);
    for (auto& x : b)
        x = static_cast<uint8_t>(random());
    return b;
}

// Runs every decoder of the toolkit over one section held in an exactly sized buffer.
void DecodeEverything(const Bytes& bytes)
{
    SkTable table;
    table.sections[0] = std::make_unique<SkTableSection>(bytes.data(), static_cast<int32_t>(bytes.size()), 0);
    table.last_section_number = 0;
    SkTablePat pat;
    SkTablePmt pmt;
    SkTableCat cat;
    SkTableSdt sdt;
    SkTableNit nit;
    SkTableMgt mgt;
    const int32_t results[] = {pat.Parse(&table), pmt.Parse(&table), cat.Parse(&table),
                               sdt.Parse(&table), nit.Parse(&table), mgt.Parse(&table)};
    for (int32_t r : results)
        EXPECT_TRUE(r == 0 || r == 3 || r == 4 || r == 5) << r;

    std::vector<Descriptor> all = cat.descriptors;
    const auto add = [&all](const std::vector<Descriptor>& loop) { all.insert(all.end(), loop.begin(), loop.end()); };
    add(pmt.program_descriptors);
    for (const auto& stream : pmt.streams)
        add(stream.descriptors);
    for (const auto& service : sdt.services)
        add(service.descriptors);
    add(nit.network_descriptors);
    for (const auto& stream : nit.transport_streams)
        add(stream.descriptors);
    for (Descriptor d : all) {
        for (uint8_t tag : {0x05, 0x09, 0x40, 0x43, 0x44, 0x48, 0x50, 0x5A, 0x5B, 0x5D, 0x64, 0x66, 0x79, 0x7F}) {
            d.tag = tag;
            ComponentInfo component;
            DataBroadcastInfo broadcast;
            DataBroadcastIdInfo id;
            CaInfo ca;
            RegistrationInfo registration;
            ServiceInfo service;
            MultilingualNameInfo names;
            std::wstring networkName;
            SatelliteDeliveryInfo satellite;
            CableDeliveryInfo cable;
            TerrestrialDeliveryInfo terrestrial;
            S2SatelliteDeliveryInfo s2;
            T2DeliveryInfo t2;
            DecodeComponent(component, d);
            DecodeDataBroadcast(broadcast, d);
            DecodeDataBroadcastId(id, d);
            DecodeCa(ca, d);
            DecodeRegistration(registration, d);
            DecodeService(service, d);
            DecodeMultilingualServiceName(names, d);
            DecodeMultilingualNetworkName(names, d);
            DecodeNetworkName(networkName, d);
            DecodeSatelliteDelivery(satellite, d);
            DecodeCableDelivery(cable, d);
            DecodeTerrestrialDelivery(terrestrial, d);
            DecodeS2SatelliteDelivery(s2, d);
            DecodeT2Delivery(t2, d);
            EXPECT_LE(component.text.size(), kMaxDvbTextLength);
            EXPECT_LE(service.service_name.size(), kMaxDvbTextLength);
        }
    }
}

} // namespace

TEST(PsiRobustness, SectionTravelsThroughPacketsAndBack)
{
    std::vector<SktsTest::PmtStream> streams;
    for (uint16_t i = 0; i < 40; ++i)
        streams.push_back({0x1B, static_cast<uint16_t>(0x200 + i), SktsTest::DescriptorBytes(0x0A, {'e', 'n', 'g', 0})});
    const Bytes section = SktsTest::LongSection({0x02, 1, 0, true, 0, 0}, SktsTest::PmtBody(0x200, {}, streams));
    ASSERT_GT(section.size(), 2 * 184u);

    uint8_t cc = 14;
    const Bytes packets = SktsTest::SectionPackets(section, 0x1234, cc);
    ASSERT_EQ(packets.size() % 188, 0u);
    const size_t count = packets.size() / 188;
    EXPECT_EQ(cc, (14 + count) % 16);

    RawTableSection assembled;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = packets.data() + 188 * i;
        EXPECT_EQ(p[0], 0x47);
        EXPECT_EQ(((p[1] & 0x1F) << 8) | p[2], 0x1234);
        EXPECT_EQ((p[1] & 0x40) != 0, i == 0);
        EXPECT_EQ(p[3], 0x10 | ((14 + i) % 16));
        const Bytes payload = SktsTest::PacketPayload(p);
        const int32_t taken = assembled.Append(payload.data(), static_cast<int32_t>(payload.size()));
        if (i + 1 == count) {
            EXPECT_TRUE(std::all_of(payload.begin() + taken, payload.end(), [](uint8_t b) { return b == 0xFF; }));
        }
    }
    ASSERT_TRUE(assembled.IsComplete());
    TableKey key;
    int32_t number = -1;
    ASSERT_TRUE(assembled.ParseHeader(0x1234, key, number, kSiDvb));
    EXPECT_EQ(key, (TableKey{0x1234, 0x02, 1, TableKey::kAny, TableKey::kAny}));

    SkTable table;
    table.sections[0] = std::make_unique<SkTableSection>(assembled.data, assembled.length, 0);
    table.last_section_number = 0;
    SkTablePmt pmt;
    ASSERT_EQ(pmt.Parse(&table), 0);
    EXPECT_EQ(pmt.streams.size(), 40u);
}

TEST(PsiRobustness, TruncatedAndCorruptedTablesOnlyGiveResultCodes)
{
    const Bytes loop = SktsTest::DescriptorBytes(0x09, {0x01, 0x00, 0xE1, 0x00});
    const Bytes pmt = SktsTest::LongSection(
        {0x02, 1, 0, true, 0, 0},
        SktsTest::PmtBody(0x100, loop, {{0x06, 0x101, SktsTest::DescriptorBytes(0x64, {0, 1, 2, 3, 'e', 'n', 'g', 1, 'x'})}}));
    // An SDT and a NIT with a service name, a multilingual name and delivery descriptors.
    const Bytes names = {0x48, 7, 0x01, 2, 'P', 'r', 2, 'S', 'v', 0x5D, 7, 'e', 'n', 'g', 1, 'P', 1, 'S'};
    const Bytes sdt = SktsTest::LongSection({0x42, 1, 0, true, 0, 0},
                                            Bytes{0x00, 0x01, 0xFF, 0x00, 0x01, 0xFC, 0xF0, 18} + names);
    const Bytes delivery = {0x43, 11, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x79, 5, 0xC0, 1, 2, 3, 4, 0x7F, 4, 4, 1, 2, 3};
    const Bytes nit = SktsTest::LongSection(
        {0x40, 1, 0, true, 0, 0},
        Bytes{0xF0, 5, 0x40, 3, 'N', 'e', 't', 0xF0, 32, 0x00, 0x01, 0x00, 0x01, 0xF0, 26} + delivery);
    for (const Bytes& section : {pmt, sdt, nit}) {
        for (size_t size = 0; size <= section.size(); ++size)
            DecodeEverything(Bytes(section.begin(), section.begin() + static_cast<std::ptrdiff_t>(size)));
        for (size_t i = 0; i < section.size(); ++i) {
            for (uint8_t value : {0x00, 0x7F, 0xFF}) {
                Bytes damaged = section;
                damaged[i] = value;
                SktsTest::FixCrc(damaged);
                DecodeEverything(damaged);
            }
        }
    }
}

TEST(PsiRobustness, RandomBytesEverywhere)
{
    std::mt19937 random(20261205);
    for (int round = 0; round < 3000; ++round) {
        const size_t size = random() % 320;
        Bytes bytes = RandomBytes(random, size);
        if (size >= 3 && round % 2 == 0) {
            // Plausible headers reach deeper into the parsers.
            static constexpr uint8_t kTableIds[] = {0x00, 0x01, 0x02, 0x02, 0x40, 0x42, 0xC7};
            bytes[0] = kTableIds[random() % std::size(kTableIds)];
            bytes[1] = static_cast<uint8_t>(0xB0 | ((size - 3) >> 8));
            bytes[2] = static_cast<uint8_t>(size - 3);
            if (round % 3 == 0)
                SktsTest::FixCrc(bytes);
        }
        DecodeEverything(bytes);

        const auto text = DvbTextToWide(bytes.data(), static_cast<int32_t>(bytes.size()));
        EXPECT_LE(text.size(), kMaxDvbTextLength);
        std::vector<Descriptor> descriptors;
        const int32_t r = ParseDescriptors(bytes.data(), bytes.data() + bytes.size(), descriptors);
        EXPECT_TRUE(r == 0 || r == 4);
        for (const Descriptor& d : descriptors)
            EXPECT_EQ(d.length, d.data.size());

        RawTableSection section;
        size_t pos = 0;
        while (pos < bytes.size() && !section.IsComplete()) {
            const size_t chunk = std::min<size_t>(1 + random() % 184, bytes.size() - pos);
            const int32_t taken = section.Append(bytes.data() + pos, static_cast<int32_t>(chunk));
            ASSERT_GE(taken, 0);
            ASSERT_LE(taken, static_cast<int32_t>(chunk));
            pos += static_cast<size_t>(taken);
            if (taken == 0)
                break;
        }
        for (SiStandard standard : {kSiNone, kSiAtsc, kSiDvb, kSiDvbDerived}) {
            for (uint16_t pid : {0x0000, 0x0011, 0x1C00, 0x1FFB}) {
                TableKey key;
                int32_t number = -1;
                if (section.ParseHeader(pid, key, number, standard)) {
                    EXPECT_GE(number, 0);
                    EXPECT_LE(number, 255);
                }
            }
        }
    }
}
