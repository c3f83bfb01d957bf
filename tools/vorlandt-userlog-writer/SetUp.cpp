// See SetUp.h.
#include "SetUp.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace userlogwriter {

namespace {

// Rounds of taking the log's name from a user who keeps creating it: each round she loses
// ends the race unless she creates the name again in the instant between two calls.
constexpr int MaxRounds = 1000;

std::string Stamp()
{
    const std::time_t now = std::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d-%H%M%S", &local);
    return text;
}

std::string AsideMessage(const std::string& dataDir, const std::string& aside)
{
    return "vorlandt-online-updater: " + dataDir + LogName +
           " war nicht das Protokoll dieses Rechners (eine Datei eines anderen Benutzers, keine "
           "gewöhnliche Datei oder eine mit mehreren Namen); sie liegt jetzt unter " +
           dataDir + aside + ".";
}

// Renames whatever is under the log's name aside; false when the name was free meanwhile.
bool MoveAside(int data, const std::string& dataDir, std::vector<std::string>& messages)
{
    const std::string base = LogName + ".beiseite-" + Stamp();
    for (int n = 0; n < 100; ++n) {
        const std::string aside = n == 0 ? base : base + "-" + std::to_string(n);
        const int error = RenameNoReplace(data, LogName, aside);
        if (error == 0) {
            messages.push_back(AsideMessage(dataDir, aside));
            return true;
        }
        if (error == ENOENT)
            return false;
        if (error != EEXIST)
            RefuseFile(dataDir + LogName, SystemReason(error));
    }
    RefuseFile(dataDir + LogName, "Kein freier Name zum Beiseitelegen.");
}

// Puts the fresh log `name` under the log's name, whatever another user does meanwhile: what
// holds the name is swapped out in one step and then renamed aside; a free name is taken only
// while it is free. A user who keeps creating the name loses each round.
void TakeName(int data, const std::string& dataDir, const std::string& name, std::vector<std::string>& messages)
{
    for (int round = 0; round < MaxRounds; ++round) {
        if (::renameat2(data, name.c_str(), data, LogName.c_str(), RENAME_EXCHANGE) == 0) {
            // The fresh log has the name; what held it now lies under the fresh log's old name.
            // Where that fails it stays under the hidden name, which the message gives.
            const std::string base = LogName + ".beiseite-" + Stamp();
            std::string aside = name;
            for (int n = 0; n < 100; ++n) {
                const std::string candidate = n == 0 ? base : base + "-" + std::to_string(n);
                const int error = RenameNoReplace(data, name, candidate);
                if (error == 0)
                    aside = candidate;
                if (error != EEXIST)
                    break;
            }
            messages.push_back(AsideMessage(dataDir, aside));
            return;
        }
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system that cannot swap: aside first, then the name only while free.
            MoveAside(data, dataDir, messages);
        } else if (errno != ENOENT) {
            RefuseFile(dataDir + LogName, SystemReason(errno));
        }
        const int error = RenameNoReplace(data, name, LogName);
        if (error == 0)
            return;
        if (error != EEXIST)
            RefuseFile(dataDir + LogName, SystemReason(error));
    }
    RefuseFile(dataDir + LogName, "Der Name wird immer wieder neu belegt.");
}

void CopyAll(int from, int to, const std::string& path)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            Refuse("Die Datei \"" + path + "\" kann nicht gelesen werden: " + SystemReason(errno));
        if (got == 0)
            return;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(to, buffer + done, std::size_t(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                RefuseFile(path, SystemReason(errno));
            done += put;
        }
    }
}

}  // namespace

TDescriptor LockState(int stateFolder, const std::string& stateDir, bool wait, int seconds)
{
    TDescriptor lock(::openat(stateFolder, "sperre", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock.get() < 0)
        Refuse("\"" + stateDir + "sperre\" lässt sich nicht öffnen: " + SystemReason(errno));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        if (::flock(lock.get(), LOCK_EX | LOCK_NB) == 0)
            return lock;
        if (errno != EWOULDBLOCK && errno != EINTR)
            Refuse("\"" + stateDir + "sperre\" kann nicht gesperrt werden: " + SystemReason(errno));
        if (!wait)
            return TDescriptor();
        // Only writers of the log's owner hold it, each for milliseconds.
        if (std::chrono::steady_clock::now() >= deadline)
            Refuse("\"" + stateDir + "sperre\" kann nicht gesperrt werden: Ein Schreibprogramm hält die Sperre seit " +
                   std::to_string(seconds) + " Sekunden.");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<std::string> SetUpLog(const TPlaces& places, uid_t owner, gid_t group)
{
    std::vector<std::string> messages;
    const TDescriptor data = OpenFolder(places.dataDir);
    struct stat folder {};
    if (::fstat(data.get(), &folder) != 0 || folder.st_uid != 0)
        Refuse("Das Verzeichnis \"" + places.dataDir + "\" gehört nicht root.");
    const TDescriptor state = OpenFolder(places.stateDir);
    const TDescriptor lock = LockState(state.get(), places.stateDir, true);
    if (::fchown(lock.get(), owner, group) != 0)
        Refuse("\"" + places.stateDir + "sperre\": " + SystemReason(errno));

    const std::string path = places.dataDir + LogName;
    TDescriptor old(::openat(data.get(), LogName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    bool keep = false;
    if (old.get() >= 0) {
        struct stat info {};
        if (::fstat(old.get(), &info) != 0)
            RefuseFile(path, SystemReason(errno));
        // root's log of an earlier version (0664 or the first set-up's 0666) and the owner's own
        // log are the machine's history; anything else may be a user's.
        const bool owners = info.st_uid == owner && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
        keep = S_ISREG(info.st_mode) && info.st_nlink == 1 && (info.st_uid == 0 || owners);
        if (keep && owners && info.st_gid == group && (info.st_mode & 07777) == 0644)
            return messages;  // set up already
    }

    const std::string name = UniqueName(".VL_Userlog.txt.");
    const TDescriptor fresh = CreateNew(data.get(), places.dataDir, name, 0644);
    try {
        if (::fchown(fresh.get(), owner, group) != 0)
            RefuseFile(places.dataDir + name, SystemReason(errno));
        if (keep)
            CopyAll(old.get(), fresh.get(), path);
        if (::fsync(fresh.get()) != 0)
            RefuseFile(places.dataDir + name, SystemReason(errno));
        if (keep) {
            // Nobody but root and the owner can rename root's or the owner's file in the sticky
            // folder: the name still holds what was copied.
            if (::renameat(data.get(), name.c_str(), data.get(), LogName.c_str()) != 0)
                RefuseFile(path, SystemReason(errno));
        } else {
            TakeName(data.get(), places.dataDir, name, messages);
        }
    } catch (...) {
        ::unlinkat(data.get(), name.c_str(), 0);
        throw;
    }
    SyncFolder(data.get(), places.dataDir);
    return messages;
}

}  // namespace userlogwriter
