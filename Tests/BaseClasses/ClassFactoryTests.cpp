#include "Probes.h"

#include <new>
#include <stdexcept>

namespace BaseClassesTest {
namespace {

using BaseClassFactory = LiveObjects;

const CLSID kProbeClsid = {0xA1B2C3D4, 0x1111, 0x2222, {3, 3, 4, 4, 5, 5, 6, 6}};
const CLSID kOtherClsid = {0xA1B2C3D4, 0x1111, 0x2222, {3, 3, 4, 4, 5, 5, 6, 7}};

CallLog factoryLog;
HRESULT nextCreateResult = S_OK;

CUnknown* CreateProbe(LPUNKNOWN, HRESULT* phr)
{
    *phr = nextCreateResult;
    return new ProbeFilter(factoryLog, kProbeClsid);
}

int initCalls = 0;
void InitProbe(BOOL loading, const CLSID* clsid)
{
    EXPECT_TRUE(*clsid == kProbeClsid);
    initCalls += loading ? 1 : -1;
}

const CFactoryTemplate kTemplates[] = {{L"Probe", &kProbeClsid, &CreateProbe, &InitProbe, nullptr}};

TEST_F(BaseClassFactory, ClassObjectsCreateInstancesAndCountTowardsUnloading)
{
    EXPECT_EQ(CanUnloadNow(), S_OK);
    InitTemplates(kTemplates, 1, TRUE);
    EXPECT_EQ(initCalls, 1);
    InitTemplates(kTemplates, 1, FALSE);
    EXPECT_EQ(initCalls, 0);

    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(GetClassObjectFromTemplates(kTemplates, 1, kOtherClsid, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(GetClassObjectFromTemplates(kTemplates, 1, kProbeClsid, IID_IPin, &object), E_NOINTERFACE);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetClassObjectFromTemplates(kTemplates, 1, kProbeClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE); // the factory lives

    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, filter.PutVoid()), S_OK);
    CLSID clsid{};
    filter->GetClassID(&clsid);
    EXPECT_TRUE(clsid == kProbeClsid);
    EXPECT_EQ(CBaseObject::ObjectsActive(), 2);

    // A failed query or a failed creation leaves nothing behind.
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPin, &object), E_NOINTERFACE);
    nextCreateResult = E_UNEXPECTED;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, &object), E_UNEXPECTED);
    nextCreateResult = S_OK;
    EXPECT_EQ(factory->CreateInstance(filter.Get(), IID_IBaseFilter, &object), E_NOINTERFACE);
    EXPECT_EQ(CBaseObject::ObjectsActive(), 2);

    filter.Reset();
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();
    EXPECT_EQ(CanUnloadNow(), S_FALSE); // locked
    ComPtr<IClassFactory> again;
    ASSERT_EQ(GetClassObjectFromTemplates(kTemplates, 1, kProbeClsid, IID_IUnknown, again.PutVoid()), S_OK);
    again->LockServer(FALSE);
    again.Reset();
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

CUnknown* CreateThrowingBadAlloc(LPUNKNOWN, HRESULT*) { throw std::bad_alloc(); }
CUnknown* CreateThrowingOther(LPUNKNOWN, HRESULT*) { throw std::runtime_error("creation failed"); }

const CFactoryTemplate kThrowingTemplates[] = {
    {L"Out of memory", &kProbeClsid, &CreateThrowingBadAlloc, nullptr, nullptr},
    {L"Broken", &kOtherClsid, &CreateThrowingOther, nullptr, nullptr},
};

// A creation function reports running out of memory by throwing; the factory turns that into
// an HRESULT, as nothing may cross the COM boundary.
TEST_F(BaseClassFactory, ExceptionsOfTheCreationFunctionBecomeResults)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(GetClassObjectFromTemplates(kThrowingTemplates, 2, kProbeClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &object), E_OUTOFMEMORY);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(GetClassObjectFromTemplates(kThrowingTemplates, 2, kOtherClsid, IID_IClassFactory, factory.PutVoid()), S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, &object), E_UNEXPECTED);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
}

} // namespace
} // namespace BaseClassesTest
