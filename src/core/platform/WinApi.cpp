// The helpers the Windows back-ends share.
#include "core/platform/WinApi.h"

#include <QDir>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <vector>

namespace platform::win {

namespace {

// The token's user, in a buffer that lives as long as the process: the user does not change.
PSID CurrentUser()
{
    static const std::vector<BYTE> user = [] {
        std::vector<BYTE> buffer;
        HANDLE token = nullptr;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
            return buffer;
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        buffer.resize(size);
        if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
            buffer.clear();
        ::CloseHandle(token);
        return buffer;
    }();
    return user.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
}

}  // namespace

std::wstring WidePath(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

QString FromWidePath(const wchar_t* path)
{
    return QDir::fromNativeSeparators(QString::fromWCharArray(path));
}

QString ErrorText(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed()
                                 : QStringLiteral("Windows-Fehler %1").arg(error);
    if (text)
        ::LocalFree(text);
    return message;
}

bool OwnedByCurrentUser(HANDLE handle)
{
    const PSID user = CurrentUser();
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!user || ::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                   nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const bool same = owner && ::EqualSid(owner, user);
    ::LocalFree(descriptor);
    return same;
}

QString CurrentUserSid()
{
    const PSID user = CurrentUser();
    wchar_t* text = nullptr;
    if (!user || !::ConvertSidToStringSidW(user, &text))
        return QString();
    const QString sid = QString::fromWCharArray(text);
    ::LocalFree(text);
    return sid;
}

TOwnerOnlySecurity::TOwnerOnlySecurity()
{
    const QString sid = CurrentUserSid();
    if (sid.isEmpty())
        return;
    // Protected (P): nothing is inherited from the folder; the user and the system get all
    // rights, handed on to whatever is created inside (OICI).
    const std::wstring sddl = QStringLiteral("D:P(A;OICI;FA;;;%1)(A;OICI;FA;;;SY)").arg(sid).toStdWString();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                               nullptr))
        FAttributes.lpSecurityDescriptor = descriptor;
}

TOwnerOnlySecurity::~TOwnerOnlySecurity()
{
    if (FAttributes.lpSecurityDescriptor)
        ::LocalFree(FAttributes.lpSecurityDescriptor);
}

}  // namespace platform::win
