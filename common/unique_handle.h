// Move-only ownership of a Win32 handle. Each kind of handle names its empty
// value and how it is released, so a handle can never be closed twice or leak
// on an early return.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <winhttp.h>
#include <wincrypt.h>

#include <utility>

template <typename Traits>
class UniqueHandle {
  public:
    using Type = typename Traits::Type;

    UniqueHandle() = default;
    explicit UniqueHandle(Type value) : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    Type get() const { return value_; }
    explicit operator bool() const { return !IsEmpty(value_); }

    Type release() { return std::exchange(value_, Traits::Empty()); }

    void reset(Type value = Traits::Empty()) {
        Type old = std::exchange(value_, value);
        if (!IsEmpty(old)) {
            Traits::Close(old);
        }
    }

  private:
    static bool IsEmpty(Type value) {
        if constexpr (requires { Traits::IsEmpty(value); }) {
            return Traits::IsEmpty(value);
        } else {
            return value == Traits::Empty();
        }
    }

    Type value_ = Traits::Empty();
};

struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { CloseHandle(h); }
};

// CreateFileW and CreateToolhelp32Snapshot report failure with
// INVALID_HANDLE_VALUE rather than NULL; neither is ever a handle to close.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsEmpty(Type h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Close(Type h) { CloseHandle(h); }
};

struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { WinHttpCloseHandle(h); }
};

struct CertContextTraits {
    using Type = PCCERT_CONTEXT;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { CertFreeCertificateContext(h); }
};

struct FindHandleTraits {
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static bool IsEmpty(Type h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void Close(Type h) { FindClose(h); }
};

struct FontTraits {
    using Type = HFONT;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { DeleteObject(h); }
};

struct AlgorithmProviderTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { BCryptCloseAlgorithmProvider(h, 0); }
};

struct HashObjectTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { BCryptDestroyHash(h); }
};

struct KeyObjectTraits {
    using Type = BCRYPT_KEY_HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type h) { BCryptDestroyKey(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueInternetHandle = UniqueHandle<InternetHandleTraits>;
using UniqueCertContext = UniqueHandle<CertContextTraits>;
using UniqueFindHandle = UniqueHandle<FindHandleTraits>;
using UniqueFont = UniqueHandle<FontTraits>;
using UniqueAlgorithmProvider = UniqueHandle<AlgorithmProviderTraits>;
using UniqueHashObject = UniqueHandle<HashObjectTraits>;
using UniqueKeyObject = UniqueHandle<KeyObjectTraits>;
