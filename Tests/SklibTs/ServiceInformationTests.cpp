// What the analyser takes from the SDT actual and the NIT actual.
#include <gtest/gtest.h>

#include <cstring>

#include "PsiTestSupport.h"
#include "SectionBuilder.h"
#include "ServiceInformation.h"
#include "SkTableNit.h"
#include "SkTableSdt.h"

using namespace SklibTs;
using SktsTest::Bytes;

namespace {

std::vector<Descriptor> Loop(std::initializer_list<Bytes> descriptors) { return PsiTest::Loop(PsiTest::Concat(descriptors)); }

Bytes Service(const char* provider, const char* name)
{
    Bytes payload = {0x01, static_cast<uint8_t>(strlen(provider))};
    payload.insert(payload.end(), provider, provider + strlen(provider));
    payload.push_back(static_cast<uint8_t>(strlen(name)));
    payload.insert(payload.end(), name, name + strlen(name));
    return SktsTest::DescriptorBytes(0x48, payload);
}

const Bytes kMultilingualService = SktsTest::DescriptorBytes(
    0x5D, {'d', 'e', 'u', 2, 'P', 'd', 4, 'E', 'i', 'n', 's', 'e', 'n', 'g', 2, 'P', 'e', 3, 'O', 'n', 'e'});

} // namespace

TEST(ServiceInformationTest, ServiceNamesFollowTheFirstServiceDescriptorAndThePreferredLanguage)
{
    ProgramMap programs;
    programs[1].program_number = 1;
    programs[2].program_number = 2;
    SkTableSdt sdt;
    sdt.services.push_back({1, Loop({Service("Prov", "First"), Service("Other", "Second")})});
    sdt.services.push_back({2, Loop({Service("Prov", "Two"), kMultilingualService})});
    sdt.services.push_back({3, Loop({Service("Prov", "Not a program")})});

    ApplyServiceNames(sdt, programs, {"eng"});
    EXPECT_EQ(programs[1].service_type, 1);
    EXPECT_EQ(programs[1].serviceName, L"First");
    EXPECT_EQ(programs[2].providerName, L"Pe");
    EXPECT_EQ(programs[2].serviceName, L"One");
    EXPECT_EQ(programs.size(), 2u);

    // Without a preferred language listed in the descriptor, its first entry names the service.
    programs[2].providerName.clear();
    ApplyServiceNames(sdt, programs, {"fra"});
    EXPECT_EQ(programs[2].serviceName, L"Eins");
}

TEST(ServiceInformationTest, TheNetworkAndTheDeliverySystemOfThisTransportStream)
{
    SkTableNit nit;
    nit.network_id = 0x3001;
    nit.network_descriptors = Loop({SktsTest::DescriptorBytes(0x40, {'N', 'e', 't'}),
                                    SktsTest::DescriptorBytes(0x5B, {'e', 'n', 'g', 2, 'N', 'E', 'f', 'r', 'a', 2, 'N', 'F'})});
    const Bytes cable = SktsTest::DescriptorBytes(0x44, {0x03, 0x46, 0, 0, 0xFF, 0xF0, 0x05, 0x00, 0x69, 0x00, 0x03});
    const Bytes satellite = SktsTest::DescriptorBytes(0x43, {0x01, 0x17, 0x27, 0x00, 0x01, 0x92, 0x8E, 0x02, 0x75, 0x00, 0x03});
    const Bytes s2 = SktsTest::DescriptorBytes(0x79, {0x40, 0x09});
    nit.transport_streams.push_back({5, 1, Loop({cable})});
    nit.transport_streams.push_back({6, 1, Loop({satellite, s2})});
    nit.transport_streams.push_back({8, 1, Loop({SktsTest::DescriptorBytes(0x7F, {0x04, 0x01, 0x00, 0x02})})});

    const NetworkInfo six = DescribeNetwork(nit, 6, {"fra"});
    EXPECT_EQ(six.network_id, 0x3001);
    EXPECT_EQ(six.networkName, L"NF");
    EXPECT_EQ(six.deliverySystemTag, 0x43);
    EXPECT_EQ(six.satellite.frequencyHz, 11'727'000'000u);
    EXPECT_EQ(six.s2.inputStreamIdentifier, 9) << "the S2 descriptor completes the satellite one";

    const NetworkInfo five = DescribeNetwork(nit, 5, {});
    EXPECT_EQ(five.networkName, L"NE");
    EXPECT_EQ(five.deliverySystemTag, 0x44);
    EXPECT_EQ(five.cable.symbolRate, 6'900'000u);
    EXPECT_EQ(five.s2.inputStreamIdentifier, -1);
    EXPECT_EQ(five.deliveryTagExtension, -1);

    const NetworkInfo eight = DescribeNetwork(nit, 8, {});
    EXPECT_EQ(eight.deliverySystemTag, 0x7F);
    EXPECT_EQ(eight.deliveryTagExtension, 0x04);
    EXPECT_EQ(eight.t2.t2SystemId, 2);

    EXPECT_EQ(DescribeNetwork(nit, 7, {}).deliverySystemTag, 0) << "no entry for this transport stream";
}
