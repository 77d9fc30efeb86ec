#pragma once
// Owning pointer to a COM interface: one reference, released on destruction.
#include "ComPlatform.h"

#include <utility>

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    // Takes a new reference on p.
    explicit ComPtr(T* p) : p_(p)
    {
        if (p_ != nullptr)
            p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(p_, other.p_);
        return *this;
    }

    // Adopts a reference the caller already owns.
    static ComPtr Attach(T* p)
    {
        ComPtr result;
        result.p_ = p;
        return result;
    }
    void Reset()
    {
        if (p_ != nullptr)
            std::exchange(p_, nullptr)->Release();
    }
    // For out-parameters: releases the current pointer and hands out the slot.
    T** Put()
    {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    // Gives the reference up to the caller.
    T* Detach() { return std::exchange(p_, nullptr); }

    template <typename U>
    HRESULT As(ComPtr<U>& other, REFIID riid) const
    {
        return p_ == nullptr ? E_POINTER : p_->QueryInterface(riid, other.PutVoid());
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};
