// Small move-only owners of what the program opens or allocates: each
// releases its handle when it goes away, so that every exit path releases
// it once. Like RegistryKey: no copying, no exceptions; all inline, so an
// owner costs what the release written by hand would.
#pragma once
#include <windows.h>
#include <io.h>
#include <stdlib.h>
#include <wincrypt.h>
#include <wininet.h>

// Traits: the type of the handle, its empty value and close, which closes,
// deletes or frees it. close is given the empty value too and must then do
// no harm (the system's calls merely fail for a null handle).
template <typename Traits>
class Owner {
public:
    typedef typename Traits::Handle Handle;

    Owner() : handle_(Traits::empty()) {}
    explicit Owner(Handle handle) : handle_(handle) {}
    ~Owner() { reset(); }
    Owner(Owner&& other) noexcept : handle_(other.release()) {}
    Owner& operator=(Owner&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != Traits::empty(); }

    // Releases the handle held and takes another (or none).
    void reset(Handle handle = Traits::empty())
    {
        Traits::close(handle_);
        handle_ = handle;
    }

    // Gives the handle up without releasing it: someone else did or will.
    Handle release()
    {
        Handle handle = handle_;
        handle_ = Traits::empty();
        return handle;
    }

private:
    Handle handle_;
};

struct InternetHandleTraits {
    typedef HINTERNET Handle;
    static Handle empty() { return nullptr; }
    // Only WinInet's own handles reach it: WinInet may not be loaded.
    static void close(Handle handle)
    {
        if (handle)
            InternetCloseHandle(handle);
    }
};

// A kernel object: an event, a thread, a mutex.
struct KernelHandleTraits {
    typedef HANDLE Handle;
    static Handle empty() { return nullptr; }
    // A debugger may stop at CloseHandle(nullptr).
    static void close(Handle handle)
    {
        if (handle)
            CloseHandle(handle);
    }
};

// A descriptor of the C runtime (_open).
struct CrtFileTraits {
    typedef int Handle;
    static Handle empty() { return -1; }
    // The runtime may treat _close(-1) as a fatal invalid parameter.
    static void close(Handle fd)
    {
        if (fd != -1)
            _close(fd);
    }
};

// A pen, a brush or a bitmap. It must not be selected into a live device
// context when its owner goes.
struct GdiObjectTraits {
    typedef HGDIOBJ Handle;
    static Handle empty() { return nullptr; }
    static void close(Handle object) { DeleteObject(object); }
};

// A memory device context (CreateCompatibleDC).
struct MemoryDcTraits {
    typedef HDC Handle;
    static Handle empty() { return nullptr; }
    static void close(Handle dc) { DeleteDC(dc); }
};

// A block from malloc.
struct HeapBlockTraits {
    typedef void* Handle;
    static Handle empty() { return nullptr; }
    static void close(Handle block) { free(block); }
};

// A cryptographic provider (CryptAcquireContext).
struct CryptProviderTraits {
    typedef HCRYPTPROV Handle;
    static Handle empty() { return 0; }
    static void close(Handle provider)
    {
        if (provider)
            CryptReleaseContext(provider, 0);
    }
};

// A digest being computed (CryptCreateHash).
struct CryptHashTraits {
    typedef HCRYPTHASH Handle;
    static Handle empty() { return 0; }
    static void close(Handle hash)
    {
        if (hash)
            CryptDestroyHash(hash);
    }
};

// A reference to a certificate (CertDuplicateCertificateContext).
struct CertContextTraits {
    typedef PCCERT_CONTEXT Handle;
    static Handle empty() { return nullptr; }
    static void close(Handle cert)
    {
        if (cert)
            CertFreeCertificateContext(cert);
    }
};

typedef Owner<InternetHandleTraits> InternetHandle;
typedef Owner<KernelHandleTraits> KernelHandle;
typedef Owner<CrtFileTraits> CrtFile;
typedef Owner<GdiObjectTraits> GdiObject;
typedef Owner<MemoryDcTraits> MemoryDc;
typedef Owner<HeapBlockTraits> HeapBlock;
typedef Owner<CryptProviderTraits> CryptProvider;
typedef Owner<CryptHashTraits> CryptHash;
typedef Owner<CertContextTraits> CertContext;

// A window's device context (GetDC), given back to its window.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() { ReleaseDC(window_, dc_); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};
