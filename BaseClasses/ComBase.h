#pragma once
// The COM object foundation of the base classes: the module-wide live-object count
// (CBaseObject) and reference counting with aggregation (CUnknown).
#include "ComPlatform.h"

#include <atomic>

#ifndef NAME
#define NAME(text) TEXT(text)
#endif

#define CheckPointer(pointer, result) \
    do {                              \
        if ((pointer) == nullptr)     \
            return (result);          \
    } while (0)

// Every object of the module counts itself while it lives, so the module knows when it
// may be unloaded and tests can prove that nothing leaked.
class CBaseObject {
public:
    explicit CBaseObject(LPCTSTR pName);
    virtual ~CBaseObject();
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;

    static LONG ObjectsActive() { return m_cObjects.load(); }

protected:
    LPCTSTR m_pName; // for diagnostics only; may be null

private:
    static inline std::atomic<LONG> m_cObjects{0};
};

// The unknown of an object that may be aggregated: it never delegates to an outer object.
struct INonDelegatingUnknown {
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;
};
using PNDUNKNOWN = INonDelegatingUnknown*;

// Reference counting and interface lookup. The IUnknown methods of a derived object's
// interfaces go to GetOwner(): the outer unknown when aggregated, otherwise the object's
// own non-delegating unknown.
class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr = nullptr);
    ~CUnknown() override = default;

    LPUNKNOWN GetOwner() const { return m_pUnknown; }

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

protected:
    std::atomic<LONG> m_cRef{0};

private:
    // The object's own IUnknown: what an outer object holds and what IID_IUnknown returns.
    class NonDelegatingUnknown final : public IUnknown {
    public:
        explicit NonDelegatingUnknown(CUnknown& owner) : owner_(owner) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override { return owner_.NonDelegatingQueryInterface(riid, ppv); }
        ULONG AddRef() override { return owner_.NonDelegatingAddRef(); }
        ULONG Release() override { return owner_.NonDelegatingRelease(); }

    private:
        CUnknown& owner_;
    };

    NonDelegatingUnknown m_nonDelegatingUnknown{*this};
    const LPUNKNOWN m_pUnknown;
};

// Hands out pUnk (AddRef'ed) through ppv.
HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv);

// IUnknown of every interface of a CUnknown-derived class, delegating to the owner.
#define DECLARE_IUNKNOWN                                                                        \
    HRESULT QueryInterface(REFIID riid, void** ppv) override { return GetOwner()->QueryInterface(riid, ppv); } \
    ULONG AddRef() override { return GetOwner()->AddRef(); }                                    \
    ULONG Release() override { return GetOwner()->Release(); }
