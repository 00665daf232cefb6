#pragma once

#include <windows.h>

// Move-only owner of one platform handle. Traits supply the handle type, its
// "no handle" value, the validity test and the closing function.
template <typename Traits>
class CScopedHandle {
public:
    using Handle = typename Traits::Handle;

    CScopedHandle() noexcept = default;
    explicit CScopedHandle(Handle handle) noexcept : m_handle(handle) {}
    ~CScopedHandle() { Reset(); }

    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;
    CScopedHandle(CScopedHandle&& other) noexcept : m_handle(other.Release()) {}
    CScopedHandle& operator=(CScopedHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    Handle Get() const noexcept { return m_handle; }
    bool IsValid() const noexcept { return Traits::IsValid(m_handle); }

    Handle Release() noexcept {
        Handle handle = m_handle;
        m_handle = Traits::Invalid();
        return handle;
    }

    // Closing keeps the caller's last-error value, so a GetLastError() read after a scope
    // ends still describes the caller's call. The handle held is never closed to be kept; a
    // close fails only for a handle never ours or closed already, which no caller could mend.
    void Reset(Handle handle = Traits::Invalid()) noexcept {
        if (Traits::IsValid(m_handle) && handle != m_handle) {
            const DWORD lastError = ::GetLastError();
            Traits::Close(m_handle);
            ::SetLastError(lastError);
        }
        m_handle = handle;
    }

private:
    Handle m_handle = Traits::Invalid();
};

// Kernel objects: files, mutexes, processes, threads, tokens. File APIs
// report failure with INVALID_HANDLE_VALUE, the others with null.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    // cppcheck-suppress constParameter ; HANDLE is an opaque value, not a pointer to data
    static bool IsValid(Handle handle) noexcept {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static void Close(Handle handle) noexcept { ::CloseHandle(handle); }
};

using CScopedKernelHandle = CScopedHandle<KernelHandleTraits>;

// Handles that are null when absent and released by one function taking the
// handle alone: Safer levels, SIDs, modules, certificates and the like.
template <typename HandleType, auto CloseFunction>
struct NullableHandleTraits {
    using Handle = HandleType;
    static Handle Invalid() noexcept { return nullptr; }
    // cppcheck-suppress constParameter ; the handle is opaque, not a pointer to data
    static bool IsValid(Handle handle) noexcept { return handle != nullptr; }
    static void Close(Handle handle) noexcept { CloseFunction(handle); }
};

template <typename Handle, auto CloseFunction>
using CScopedNullable = CScopedHandle<NullableHandleTraits<Handle, CloseFunction>>;
