// Move-only owners of platform handles, in the shape of WIL's unique_any.
#pragma once
#include <windows.h>
#include <oleauto.h>

template <typename T, auto Close, T Invalid = T{}> class UniqueAny {
  public:
    constexpr UniqueAny() noexcept = default;
    explicit UniqueAny(T value) noexcept : value_(value) {}
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { reset(); }

    T get() const noexcept { return value_; }
    T operator->() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Invalid; }

    // Releases what is held and hands out the slot for an out-parameter.
    T* put() noexcept {
        reset();
        return &value_;
    }
    void reset(T value = Invalid) noexcept {
        T old = value_;
        value_ = value;
        if (old != Invalid)
            Close(old);
    }
    T release() noexcept {
        T old = value_;
        value_ = Invalid;
        return old;
    }

  private:
    T value_ = Invalid;
};

inline void FreeProcessHeap(void* memory) noexcept {
    HeapFree(GetProcessHeap(), 0, memory);
}

using UniqueHandle = UniqueAny<HANDLE, &CloseHandle>;
using UniqueHkey = UniqueAny<HKEY, &RegCloseKey>;
using UniqueHicon = UniqueAny<HICON, &DestroyIcon>;
using UniqueHmenu = UniqueAny<HMENU, &DestroyMenu>;
using UniqueHfont = UniqueAny<HFONT, &DeleteObject>;
using UniqueHeapText = UniqueAny<wchar_t*, &FreeProcessHeap>;
using UniqueBstr = UniqueAny<BSTR, &SysFreeString>;

inline void ReleaseInterface(IUnknown* object) noexcept {
    object->Release();
}

template <typename Interface> using UniqueCom = UniqueAny<Interface*, &ReleaseInterface>;
