// One owner for every kind of operating-system handle: a move-only value that
// closes what it holds exactly once, when it goes out of scope, is reset or is
// assigned over. The close call and the values that mean "nothing here" are
// template parameters, so the Win32 owners (common/win/win32.h) are one-line
// aliases and the template itself builds and is tested on any platform.
#pragma once

#include <cstdint>
#include <type_traits>

namespace qx::win {

// Invalid-value policies. Empty<T>() is what an owner holds when it owns
// nothing (and what release() leaves behind); Holds(v) says whether v is
// something to close.

// Only the zero value means "nothing": SC_HANDLE, HMODULE, heap blocks.
struct NullIsInvalid {
    template <typename T>
    static T Empty() noexcept {
        return T{};
    }
    template <typename T>
    static bool Holds(T value) noexcept {
        return value != T{};
    }
};

namespace detail {
template <typename T>
T AllOnes() noexcept {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(static_cast<std::intptr_t>(-1));
    } else {
        return static_cast<T>(-1);
    }
}
}  // namespace detail

// Only all ones means "nothing": sockets (INVALID_SOCKET), where 0 is a value
// like any other.
struct AllOnesIsInvalid {
    template <typename T>
    static T Empty() noexcept {
        return detail::AllOnes<T>();
    }
    template <typename T>
    static bool Holds(T value) noexcept {
        return value != detail::AllOnes<T>();
    }
};

// Kernel handles come back as NULL from some calls (CreateEventW,
// CreateThread, RegOpenKeyExW) and as all ones (INVALID_HANDLE_VALUE) from
// others (CreateFileW, SetupDiGetClassDevsW, SetupDiOpenDevRegKey). Neither is
// ever a handle this process may close - all ones is even the pseudo-handle
// of the current process - so both count as empty. kEmptyIsAllOnes picks the
// one the owner reports when empty, to match the call that fills it.
template <bool kEmptyIsAllOnes>
struct NullOrAllOnesIsInvalid {
    template <typename T>
    static T Empty() noexcept {
        if constexpr (kEmptyIsAllOnes) {
            return detail::AllOnes<T>();
        } else {
            return T{};
        }
    }
    template <typename T>
    static bool Holds(T value) noexcept {
        return value != T{} && value != detail::AllOnes<T>();
    }
};

// T is the handle type, Close the function that gives it back (its result is
// ignored: there is nothing left to do when closing fails), Invalid one of
// the policies above or one of the same shape.
template <typename T, auto Close, typename Invalid = NullIsInvalid>
class UniqueAny {
  public:
    using Value = T;

    UniqueAny() noexcept : value_(Invalid::template Empty<T>()) {}
    explicit UniqueAny(T value) noexcept : value_(value) {}
    UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
    // Self-assignment is harmless: release() empties this owner before
    // reset() looks at what it held.
    UniqueAny& operator=(UniqueAny&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    ~UniqueAny() { reset(); }

    T get() const noexcept { return value_; }

    // Hands the value over to the caller, who closes it from now on.
    T release() noexcept {
        T value = value_;
        value_ = Invalid::template Empty<T>();
        return value;
    }

    // Closes what is held (if anything) and takes value instead. A handle is
    // closed before its owner lets go of it, so that no path leaves two
    // owners; resetting to the value already held keeps it open.
    void reset(T value = Invalid::template Empty<T>()) noexcept {
        T old = value_;
        if constexpr (std::is_scalar_v<T>) {
            if (old == value) return;
        }
        value_ = value;
        if (Invalid::Holds(old)) Close(old);
    }

    // For calls that return the handle through an out-parameter: whatever was
    // held is closed first, so a reused owner never leaks the old handle.
    T* put() noexcept {
        reset();
        return &value_;
    }

    explicit operator bool() const noexcept { return Invalid::Holds(value_); }

  private:
    T value_;
};

// The close operation of an OS seam: portable code hands a handle back as a
// plain value, and it goes through its owner's close and empty checks once.
template <typename Owner>
void Dispose(typename Owner::Value value) noexcept {
    Owner owned(value);
}

}  // namespace qx::win
