// The set-group-id writer of the installed-updates log. What it may touch is decided by its
// own fixed path and by checks on the open file, never by its caller: the log must be a regular
// file with one name, root's and of this program's group, writable by nobody else. The entry is
// checked to be one entry of plain text. Everything else (the date, the module name, the text)
// is the caller's word, as it is when the caller owns the log.
#include "LogWriter.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef VORLANDT_WRITER_DATA_PARENT
#define VORLANDT_WRITER_DATA_PARENT "/var/lib"
#endif

namespace userlogwriter {

namespace {

// Adding an entry takes milliseconds; a holder of the lock far longer than this has hung. The
// updater's own writers wait as long.
constexpr std::chrono::seconds LockTimeout{30};

const std::string LogName = "VL_Userlog.txt";

// The process runs with privileges its caller does not have.
bool RunsSetId()
{
    return ::getegid() != ::getgid() || ::geteuid() != ::getuid();
}

// The data folder: fixed when the program runs set-id; without privileges (tests, a machine
// without the package) the updater's own override applies, since it then gives nothing away.
std::string DataDir(bool setId)
{
    std::string base = VORLANDT_WRITER_DATA_PARENT;
    if (!setId) {
        if (const char* value = ::secure_getenv("VORLANDT_PROGRAMDATA"); value != nullptr)
            base = value;
    }
    if (base.empty() || base.back() != '/')
        base += '/';
    return base + "Vorlandt/OnlineUpdater/1.0/";
}

struct TRefusal {
    std::string message;
};

[[noreturn]] void Refuse(std::string message)
{
    throw TRefusal{std::move(message)};
}

[[noreturn]] void RefuseFile(const std::string& path, const std::string& reason)
{
    Refuse("Die Datei \"" + path + "\" kann nicht geschrieben werden: " + reason);
}

std::string SystemReason(int error)
{
    return std::string(std::strerror(error)) + ".";
}

class TDescriptor {
public:
    explicit TDescriptor(int fd) : FFd(fd) {}
    ~TDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int get() const { return FFd; }

private:
    int FFd;
};

// The other names of a file lie on its own file system: the folder where that file system is
// mounted is where to look for them.
std::string MountPointOf(const std::string& folder)
{
    struct stat here {};
    if (::stat(folder.c_str(), &here) != 0)
        return "/";
    std::string path = folder;
    while (path.size() > 1) {
        if (path.back() == '/')
            path.pop_back();
        const std::size_t slash = path.rfind('/');
        const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
        struct stat up {};
        if (::stat(parent.c_str(), &up) != 0 || up.st_dev != here.st_dev)
            return path;
        path = parent;
    }
    return "/";
}

std::string GroupName(gid_t gid)
{
    const struct group* entry = ::getgrgid(gid);
    std::string name = "GID " + std::to_string(gid);
    if (entry != nullptr && entry->gr_name != nullptr)
        name = std::string(entry->gr_name) + " (" + name + ")";
    return name;
}

// Why the open file is not the log this program may write; empty when it is.
std::string FileProblem(const struct stat& info, bool setId, uid_t owner, gid_t group,
                        const std::string& dataDir)
{
    if (!S_ISREG(info.st_mode))
        return "Sie ist keine gewöhnliche Datei.";
    // A second name may be another user's way to reach the log from where only she looks.
    if (info.st_nlink != 1) {
        return "Sie hat " + std::to_string(info.st_nlink) +
               " Namen (harte Links). Der Administrator findet " + "die anderen Namen mit: find " +
               MountPointOf(dataDir) + " -xdev -inum " + std::to_string(info.st_ino);
    }
    if (info.st_uid != owner) {
        return "Sie gehört UID " + std::to_string(info.st_uid) + ", nicht " +
               (setId ? std::string("root") : "UID " + std::to_string(owner)) + ".";
    }
    if (info.st_gid != group)
        return "Sie gehört der Gruppe " + GroupName(info.st_gid) + ", nicht " + GroupName(group) + ".";
    if ((info.st_mode & S_IWOTH) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return std::string("Andere Benutzer dürfen sie ändern (Rechte ") + mode + ").";
    }
    return {};
}

// Polled rather than blocking: a holder that never lets go ends in a message, not a hang.
void LockFolder(int fd, const std::string& folder)
{
    const auto deadline = std::chrono::steady_clock::now() + LockTimeout;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return;
        if (errno != EWOULDBLOCK && errno != EINTR)
            Refuse("\"" + folder + "\" kann nicht gesperrt werden: " + SystemReason(errno));
        if (std::chrono::steady_clock::now() >= deadline)
            Refuse("\"" + folder +
                   "\" kann nicht gesperrt werden: Ein anderes Programm hält die Sperre seit " +
                   std::to_string(LockTimeout.count()) + " Sekunden.");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Up to `limit` bytes from the start; `whole` tells whether that was all.
std::string ReadHead(int fd, const std::string& path, std::size_t limit, bool& whole)
{
    std::string bytes(limit + 1, '\0');
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = ::pread(fd, bytes.data() + filled, bytes.size() - filled, off_t(filled));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            Refuse("Die Datei \"" + path + "\" kann nicht gelesen werden: " + SystemReason(errno));
        if (got == 0)
            break;
        filled += std::size_t(got);
    }
    whole = filled <= limit;
    bytes.resize(whole ? filled : limit);
    return bytes;
}

void Rewrite(int fd, const std::string& path, const std::string& bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t put = ::pwrite(fd, bytes.data() + written, bytes.size() - written, off_t(written));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            RefuseFile(path, SystemReason(errno));
        written += std::size_t(put);
    }
    if (::ftruncate(fd, off_t(bytes.size())) != 0)
        RefuseFile(path, SystemReason(errno));
    if (::fsync(fd) != 0)
        RefuseFile(path, SystemReason(errno));
}

// Gives up the log's group once the files are open: what follows needs no privilege.
void DropPrivileges()
{
    const gid_t gid = ::getgid();
    const uid_t uid = ::getuid();
    if (::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0)
        Refuse(std::string("Die Rechte lassen sich nicht abgeben: ") + SystemReason(errno));
}

void Add(const TRequest& request, bool setId)
{
    const std::string dataDir = DataDir(setId);
    const std::string path = dataDir + LogName;
    if (request.path != path)
        Refuse("Die Datei \"" + request.path +
               "\" kann nicht geschrieben werden: Dieses Programm ergänzt nur \"" + path + "\".");

    // The owner and group the log must have: root's and this program's group when it runs
    // set-id, the caller's own otherwise.
    const uid_t owner = setId ? 0 : ::geteuid();
    const gid_t group = ::getegid();

    const TDescriptor folder(::open(dataDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        Refuse("\"" + dataDir + "\" kann nicht gesperrt werden: " + SystemReason(errno));
    LockFolder(folder.get(), dataDir);

    // No O_CREAT: the administrator creates the log. O_NOFOLLOW: a link under the name is
    // refused. O_NONBLOCK: a pipe under the name must not stop the program.
    const TDescriptor log(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (log.get() < 0) {
        const int error = errno;
        if (error == ELOOP)
            RefuseFile(path, "Sie ist ein symbolischer Link.");
        if (error == ENOENT)
            RefuseFile(path, "Sie fehlt; der Administrator legt sie an (README, Installation).");
        if (error == EISDIR)
            RefuseFile(path, "Sie ist keine gewöhnliche Datei.");
        RefuseFile(path, SystemReason(error));
    }
    if (setId)
        DropPrivileges();
    struct stat info {};
    if (::fstat(log.get(), &info) != 0)
        RefuseFile(path, SystemReason(errno));
    if (const std::string problem = FileProblem(info, setId, owner, group, dataDir); !problem.empty())
        RefuseFile(path, problem);

    bool whole = false;
    const std::string head = ReadHead(log.get(), path, userlog::MaxLogBytes, whole);
    Rewrite(log.get(), path, userlog::ComposeLog(head, whole, request.entry, request.fresh));
}

// Standard input up to one byte beyond the largest entry, which is enough to refuse it.
std::string ReadInput()
{
    std::string input(userlog::MaxEntryBytes + 1, '\0');
    std::size_t filled = 0;
    while (filled < input.size()) {
        const ssize_t got = ::read(STDIN_FILENO, input.data() + filled, input.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        filled += std::size_t(got);
    }
    input.resize(filled);
    return input;
}

}  // namespace

std::string ParseRequest(const std::vector<std::string_view>& arguments, std::string_view input,
                         TRequest& request, bool& usage)
{
    usage = true;
    request = TRequest();
    bool havePath = false;
    for (const std::string_view argument : arguments) {
        constexpr std::string_view Encoding = "--kodierung=";
        if (argument.substr(0, Encoding.size()) == Encoding) {
            const auto named = userlog::EncodingNamed(argument.substr(Encoding.size()));
            if (!named)
                return "unbekannte Kodierung \"" + std::string(argument.substr(Encoding.size())) + "\"";
            request.fresh = *named;
        } else if (!argument.empty() && argument.front() != '-' && !havePath) {
            request.path = std::string(argument);
            havePath = true;
        } else {
            return "unerwartetes Argument \"" + std::string(argument) + "\"";
        }
    }
    if (!havePath)
        return "der Pfad des Protokolls fehlt";
    usage = false;
    if (std::string problem = userlog::EntryProblem(input); !problem.empty())
        return "Der Eintrag für \"" + request.path + "\" wird nicht geschrieben: " + problem;
    request.entry = std::string(input);
    return {};
}

int Main(int argc, char** argv)
{
    const bool setId = RunsSetId();
    std::vector<std::string_view> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    try {
        TRequest request;
        bool usage = false;
        const std::string problem = ParseRequest(arguments, ReadInput(), request, usage);
        if (usage) {
            std::fprintf(stderr,
                         "vorlandt-userlog-writer: %s\n"
                         "Aufruf: vorlandt-userlog-writer [--kodierung=KODIERUNG] PFAD < EINTRAG\n",
                         problem.c_str());
            return ExitUsage;
        }
        if (!problem.empty())
            Refuse(problem);
        Add(request, setId);
    } catch (const TRefusal& refusal) {
        std::fprintf(stderr, "%s\n", refusal.message.c_str());
        return ExitRefused;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vorlandt-userlog-writer: %s\n", error.what());
        return ExitRefused;
    }
    return ExitOk;
}

}  // namespace userlogwriter
