#pragma once
// One owning wrapper for every handle kind: a traits type says what the
// handle is, what "invalid" means and how it closes. Closing keeps the
// caller's last-error value, so a failure path can close before reporting.
#include <utility>

#include <windows.h>

template <typename Traits>
class unique_handle {
public:
    using pointer = typename Traits::pointer;

    unique_handle() noexcept = default;
    explicit unique_handle(pointer value) noexcept : value_(value) {}
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
    unique_handle& operator=(unique_handle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_handle() { reset(); }

    pointer get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return Traits::is_valid(value_); }

    // Gives up ownership; the caller must close the result.
    [[nodiscard]] pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) noexcept {
        pointer old = std::exchange(value_, value);
        if (Traits::is_valid(old)) {
            DWORD saved = GetLastError();
            Traits::close(old);
            SetLastError(saved);
        }
    }

    // For out-parameters: closes the current value and hands out its slot.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::invalid();
};

// Traits for handles closed by a plain function, invalid at `Invalid`.
template <typename T, auto Close, T Invalid = T{}>
struct simple_handle_traits {
    using pointer = T;
    static constexpr T invalid() noexcept { return Invalid; }
    static bool is_valid(T value) noexcept { return value != Invalid; }
    static void close(T value) noexcept { Close(value); }
};

// Kernel objects that use NULL for "none" (threads, events, processes, mutexes).
using unique_kernel_handle = unique_handle<simple_handle_traits<HANDLE, &CloseHandle>>;

// Files and pipes: INVALID_HANDLE_VALUE is "none".
struct file_handle_traits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool is_valid(pointer value) noexcept { return value != INVALID_HANDLE_VALUE && value != nullptr; }
    static void close(pointer value) noexcept { CloseHandle(value); }
};
using unique_file = unique_handle<file_handle_traits>;

struct find_handle_traits : file_handle_traits {
    static void close(pointer value) noexcept { FindClose(value); }
};
using unique_find_handle = unique_handle<find_handle_traits>;

using unique_hkey = unique_handle<simple_handle_traits<HKEY, &RegCloseKey>>;
using unique_module = unique_handle<simple_handle_traits<HMODULE, &FreeLibrary>>;
using unique_hfont = unique_handle<simple_handle_traits<HFONT, &DeleteObject>>;
using unique_hbrush = unique_handle<simple_handle_traits<HBRUSH, &DeleteObject>>;
using unique_hicon = unique_handle<simple_handle_traits<HICON, &DestroyIcon>>;
using unique_local_memory = unique_handle<simple_handle_traits<HLOCAL, &LocalFree>>;

// COM interface pointer: released on reset.
template <typename I>
struct com_traits {
    using pointer = I*;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static bool is_valid(pointer value) noexcept { return value != nullptr; }
    static void close(pointer value) noexcept { value->Release(); }
};
template <typename I>
using com_ptr = unique_handle<com_traits<I>>;
