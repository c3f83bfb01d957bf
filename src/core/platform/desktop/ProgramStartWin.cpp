// The child started with CreateProcessW and waited for on its process handle. Done by hand
// rather than through QProcess for what the hand-over needs to tell: the exit code's full 32 bits
// (QProcess calls some of them a crash), and, when the start fails, the system's own reason.
#include "core/platform/desktop/ProgramStart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <vector>

#include <windows.h>

namespace platform {

namespace {

// The system's text for an error code, in the system's language, with the code for a search.
QString SystemMessage(DWORD code, const QString& program)
{
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    QString text =
        length ? QString::fromWCharArray(buffer, static_cast<qsizetype>(length)).trimmed() : QString();
    LocalFree(buffer);
    // Some texts name the file as "%1" ("%1 is not a valid Win32 application.").
    text.replace(QStringLiteral("%1"), program);
    if (text.isEmpty())
        return QStringLiteral("Systemfehler %1").arg(code);
    return QStringLiteral("%1 (Systemfehler %2)").arg(text).arg(code);
}

// One argument as the C runtime's parser of the command line reads it back: quoted when it
// holds a blank, a tab or a quote or is empty, backslashes doubled where a quote follows them.
QString QuotedArgument(const QString& argument)
{
    if (!argument.isEmpty() && !argument.contains(u' ') && !argument.contains(u'\t') &&
        !argument.contains(u'"'))
        return argument;
    QString quoted(1, u'"');
    qsizetype backslashes = 0;
    for (const QChar c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        quoted += QString(c == u'"' ? backslashes * 2 + 1 : backslashes, u'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted += QString(backslashes * 2, u'\\');
    quoted += u'"';
    return quoted;
}

// An inheritable copy of one of our standard handles, or null when we have none.
HANDLE InheritableCopy(HANDLE handle)
{
    HANDLE copy = nullptr;
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

class THandles {
public:
    ~THandles()
    {
        for (HANDLE handle : FHandles)
            CloseHandle(handle);
    }
    HANDLE add(HANDLE handle)
    {
        if (handle)
            FHandles.push_back(handle);
        return handle;
    }
    std::vector<HANDLE>& all() { return FHandles; }

private:
    std::vector<HANDLE> FHandles;
};

}  // namespace

TProgramEnd StartProgramAndWait(const QString& file, const QStringList& arguments, const QString& workingDir)
{
    TProgramEnd end;
    // The absolute path as the application name, so that the system starts exactly this file and
    // never searches the folders of the command line's first word.
    end.Program = QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath());
    QString commandLine = u'"' + end.Program + u'"';
    for (const QString& argument : arguments)
        commandLine += u' ' + QuotedArgument(argument);
    std::vector<wchar_t> commandBuffer(static_cast<size_t>(commandLine.size()) + 1, L'\0');
    commandLine.toWCharArray(commandBuffer.data());
    const QString directory = QDir::toNativeSeparators(workingDir);

    // Input from NUL, output where ours goes. Only these three handles are handed down: an
    // inheritable handle of ours (a lock file, a pipe) must not outlive us in the installer.
    THandles handles;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                               OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE)
        input = nullptr;
    handles.add(input);
    const HANDLE output = handles.add(InheritableCopy(GetStdHandle(STD_OUTPUT_HANDLE)));
    const HANDLE error = handles.add(InheritableCopy(GetStdHandle(STD_ERROR_HANDLE)));

    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<char> listBuffer(listSize);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(listBuffer.data());
    const bool listReady =
        InitializeProcThreadAttributeList(list, 1, 0, &listSize) &&
        (handles.all().empty() ||
         UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.all().data(),
                                   handles.all().size() * sizeof(HANDLE), nullptr, nullptr));
    if (!listReady) {
        end.Reason = SystemMessage(GetLastError(), end.Program);
        return end;
    }

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = error;
    startup.lpAttributeList = list;
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(reinterpret_cast<LPCWSTR>(end.Program.utf16()), commandBuffer.data(), nullptr, nullptr,
                       !handles.all().empty(), CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT,
                       nullptr, directory.isEmpty() ? nullptr : reinterpret_cast<LPCWSTR>(directory.utf16()),
                       &startup.StartupInfo, &process);
    const DWORD startError = GetLastError();
    DeleteProcThreadAttributeList(list);
    if (!started) {
        end.Reason = SystemMessage(startError, end.Program);
        return end;
    }
    CloseHandle(process.hThread);
    end.Started = true;

    for (;;) {
        const DWORD waited = WaitForSingleObject(process.hProcess, 10);
        if (waited != WAIT_TIMEOUT)
            break;
        // Timers, repaints and input of our own windows go on while the program runs.
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process.hProcess, &code))
        code = static_cast<DWORD>(-1);
    CloseHandle(process.hProcess);
    end.Code = static_cast<int>(code);
    return end;
}

}  // namespace platform
