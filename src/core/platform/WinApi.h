// Windows only: <windows.h> as every unit of ours sees it, and what the Windows back-ends share
// (wide paths, the system's error texts, handles closed on every way out, the current user).
//
// windows.h defines HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE as macros; in our code those two
// words name the settings store's roots (platform/store/StoreBackend.h). Every unit of ours that
// needs windows.h includes this header instead, and StoreBackend.h includes it too on Windows:
// windows.h is then always read first and the two macros are gone for the rest of the unit,
// whichever header comes next (curl.h and the others find windows.h already read). Code that
// needs the predefined registry handles uses platform::win::CurrentUserRoot and
// LocalMachineRoot below.
#pragma once

#ifndef _WIN32
#error "core/platform/WinApi.h is for the Windows back-ends only"
#endif

#include <windows.h>

#undef HKEY_CURRENT_USER
#undef HKEY_LOCAL_MACHINE

#include <QString>

#include <string>
#include <utility>

namespace platform::win {

// The predefined handles windows.h would have named HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
inline HKEY CurrentUserRoot() { return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001)); }
inline HKEY LocalMachineRoot() { return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002)); }

// A path as Windows' wide functions take it: backslashes, UTF-16.
std::wstring WidePath(const QString& path);
// A path Windows handed over, with the forward slashes our code uses inside.
QString FromWidePath(const wchar_t* path);

// The system's text for a Windows error code (GetLastError), without the trailing line break.
QString ErrorText(DWORD error);

// A kernel handle closed when it goes out of scope. INVALID_HANDLE_VALUE and null both mean none.
class THandle {
public:
    THandle() = default;
    explicit THandle(HANDLE handle) : FHandle(handle) {}
    ~THandle() { reset(); }
    THandle(THandle&& other) noexcept : FHandle(std::exchange(other.FHandle, INVALID_HANDLE_VALUE)) {}
    THandle& operator=(THandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            FHandle = std::exchange(other.FHandle, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    THandle(const THandle&) = delete;
    THandle& operator=(const THandle&) = delete;

    bool valid() const { return FHandle != INVALID_HANDLE_VALUE && FHandle != nullptr; }
    HANDLE get() const { return FHandle; }
    HANDLE release() { return std::exchange(FHandle, INVALID_HANDLE_VALUE); }
    void reset()
    {
        if (valid())
            ::CloseHandle(FHandle);
        FHandle = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE FHandle = INVALID_HANDLE_VALUE;
};

// Whether the open file or folder belongs to the user this process runs as. False when the
// owner cannot be read.
bool OwnedByCurrentUser(HANDLE handle);

// The current user's security identifier as text ("S-1-5-21-..."); empty when unknown.
QString CurrentUserSid();

// Security attributes that give a new file or folder to this user (and the system) alone,
// whatever its folder hands down. get() is null when they cannot be made: the object then takes
// its folder's.
class TOwnerOnlySecurity {
public:
    TOwnerOnlySecurity();
    ~TOwnerOnlySecurity();
    TOwnerOnlySecurity(const TOwnerOnlySecurity&) = delete;
    TOwnerOnlySecurity& operator=(const TOwnerOnlySecurity&) = delete;
    SECURITY_ATTRIBUTES* get() { return FAttributes.lpSecurityDescriptor ? &FAttributes : nullptr; }

private:
    SECURITY_ATTRIBUTES FAttributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

}  // namespace platform::win
