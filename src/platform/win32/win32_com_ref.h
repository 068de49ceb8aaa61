// ComRef: one counted reference to a COM object, released when the holder goes. Storing a
// new reference adds it before the old one is released, so re-storing the same object never
// drops it to zero on the way. Used by the web view host on the UI thread; not thread-safe.
#pragma once

#include <unknwn.h>

#include <utility>

namespace quillon::win32 {

template <class T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef& other) { Reset(other.ptr_); }
    ComRef(ComRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComRef& operator=(const ComRef& other) {
        Reset(other.ptr_);
        return *this;
    }
    ComRef& operator=(ComRef&& other) noexcept {
        if (this != &other) {
            Clear();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    ~ComRef() { Clear(); }

    // Adds a reference of our own to `object` (which may be null).
    void Reset(T* object) {
        if (object != nullptr) object->AddRef();
        T* old = std::exchange(ptr_, object);
        if (old != nullptr) old->Release();
    }
    void Clear() { Reset(nullptr); }

    // Takes over a reference already added for us (an [out] parameter's, a new object's).
    void Attach(T* added) {
        T* old = std::exchange(ptr_, added);
        if (old != nullptr) old->Release();
    }

    // QueryInterface for another interface of the same object; empty when it has none. The
    // failure code lands in *result when asked for.
    template <class U>
    ComRef<U> Query(const IID& iid, HRESULT* result = nullptr) const {
        ComRef<U> out;
        void* raw = nullptr;
        const HRESULT hr = ptr_ != nullptr ? ptr_->QueryInterface(iid, &raw) : E_POINTER;
        // A failed query's out value is not ours to release, whatever it holds.
        if (SUCCEEDED(hr) && raw != nullptr) out.Attach(static_cast<U*>(raw));
        if (result != nullptr) *result = hr;
        return out;
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

private:
    T* ptr_ = nullptr;
};

}  // namespace quillon::win32
