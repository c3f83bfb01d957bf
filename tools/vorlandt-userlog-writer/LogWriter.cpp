// The writer of the shared installed-updates log. Installed set-user-id root, it takes over its
// process from the caller (descriptors, signals, limits) and becomes the system user that owns
// its state folder before it reads the entry: from then on the caller can neither signal it nor
// limit it, and nothing it does is done with root's rights or hers.
//
// An entry is first put into the queue in the state folder (a file written whole and renamed
// into place), so that it is kept whatever happens next. Then whoever holds the lock writes every
// queued entry into a new log beside the old one and renames it over the old one: a reader sees
// the old log or the new one, never a torn one. A writer that finds the lock held leaves its
// entry to the holder, who looks at the queue again after letting go; nobody waits for anybody,
// and the lock lies where only the log's owner can reach it.
#include "LogWriter.h"

#include "LogShares.h"
#include "Privileges.h"
#include "SetUp.h"
#include "WriterFiles.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef VORLANDT_WRITER_DATA_PARENT
#define VORLANDT_WRITER_DATA_PARENT "/var/lib"
#endif
#ifndef VORLANDT_WRITER_STATE_DIR
#define VORLANDT_WRITER_STATE_DIR "/var/lib/vorlandt-userlog"
#endif

namespace userlogwriter {

namespace {

const std::string QueueName = "warteschlange";
const std::string IndexName = "VL_Userlog.index";
const std::string NewPrefix = ".neu-";

// Queued entries written into the log by one rewrite, and rewrites one writer does before it
// leaves the rest to the next: whoever holds the lock does a bounded amount of others' work.
constexpr std::size_t MaxBatch = 64;
constexpr int MaxRounds = 16;
// The index names an entry per line: a few dozen bytes for each of at most a few thousand.
constexpr std::size_t MaxIndexBytes = 4 * 1024 * 1024;
// What a queued file holds beyond its entry: the writer's user id and a line end.
constexpr std::size_t MaxQueuedBytes = userlog::MaxEntryBytes + 32;
// A queued file still being written by a writer that died: left for this long, then removed.
constexpr auto StaleNewFile = std::chrono::minutes(10);

std::string WithSlash(std::string path)
{
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

// Fixed when the program runs set-id; without privileges gained (tests, root's own call, a
// machine without the package) the updater's own overrides apply, since they then give nothing
// away.
TPlaces Places(bool setId)
{
    std::string parent = VORLANDT_WRITER_DATA_PARENT;
    std::string state = VORLANDT_WRITER_STATE_DIR;
    if (!setId) {
        if (const char* value = ::getenv("VORLANDT_PROGRAMDATA"); value != nullptr && *value != '\0')
            parent = value;
        if (const char* value = ::getenv("VORLANDT_USERLOG_STATE"); value != nullptr && *value != '\0')
            state = value;
    }
    return {WithSlash(parent) + "Vorlandt/OnlineUpdater/1.0/", WithSlash(state)};
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

struct TWorkplace {
    TPlaces places;
    TDescriptor data;
    TDescriptor state;
    TDescriptor queue;
    userlog::TLogEncoding fresh = userlog::TLogEncoding::Windows1252;
};

// The state folder must be this process's own and closed to others: it holds the lock.
void CheckOwnFolder(int folder, const std::string& path)
{
    struct stat info {};
    if (::fstat(folder, &info) != 0)
        Refuse("Das Verzeichnis \"" + path + "\" lässt sich nicht prüfen: " + SystemReason(errno));
    if (info.st_uid != ::geteuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        Refuse("Das Verzeichnis \"" + path + "\" gehört nicht allein UID " + std::to_string(::geteuid()) +
               "; das Schreibprogramm ist nicht richtig eingerichtet.");
}

// Others may create files in the data folder only when the sticky bit keeps them from renaming
// over or removing the log.
void CheckDataFolder(int folder, const std::string& path)
{
    struct stat info {};
    if (::fstat(folder, &info) != 0)
        Refuse("Das Verzeichnis \"" + path + "\" lässt sich nicht prüfen: " + SystemReason(errno));
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0)
        Refuse("Das Verzeichnis \"" + path +
               "\" dürfen andere Benutzer ändern, ohne dass das Sticky-Bit ihre Dateien schützt.");
}

TDescriptor OpenQueue(int state, const std::string& stateDir)
{
    if (::mkdirat(state, QueueName.c_str(), 0700) != 0 && errno != EEXIST)
        Refuse("Das Verzeichnis \"" + stateDir + QueueName + "\" lässt sich nicht anlegen: " + SystemReason(errno));
    TDescriptor queue(::openat(state, QueueName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (queue.get() < 0)
        Refuse("Das Verzeichnis \"" + stateDir + QueueName + "\" lässt sich nicht öffnen: " + SystemReason(errno));
    CheckOwnFolder(queue.get(), stateDir + QueueName);
    return queue;
}

void Enqueue(const TWorkplace& work, uid_t caller, const std::string& entry)
{
    const std::string folder = work.places.stateDir + QueueName + "/";
    const std::string name = UniqueName("");
    const std::string fresh = NewPrefix + name;
    try {
        const TDescriptor file = CreateNew(work.queue.get(), folder, fresh, 0600);
        WriteAll(file.get(), folder + fresh, std::to_string(caller) + "\n" + entry);
        if (::renameat(work.queue.get(), fresh.c_str(), work.queue.get(), name.c_str()) != 0)
            RefuseFile(folder + name, SystemReason(errno));
    } catch (...) {
        ::unlinkat(work.queue.get(), fresh.c_str(), 0);
        throw;
    }
    SyncFolder(work.queue.get(), folder);
}

// The queued names, oldest first. New files a dead writer left behind go once they are old.
std::vector<std::string> QueuedNames(const TWorkplace& work)
{
    const int fd = ::openat(work.queue.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fd < 0 ? nullptr : ::fdopendir(fd);
    if (listing == nullptr) {
        if (fd >= 0)
            ::close(fd);
        Refuse("Das Verzeichnis \"" + work.places.stateDir + QueueName + "\" lässt sich nicht lesen: " +
               SystemReason(errno));
    }
    std::vector<std::string> names;
    const auto staleBefore = std::chrono::system_clock::now() - StaleNewFile;
    while (const struct dirent* item = ::readdir(listing)) {
        const std::string name = item->d_name;
        if (name.rfind(NewPrefix, 0) == 0) {
            struct stat info {};
            if (::fstatat(work.queue.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                std::chrono::system_clock::from_time_t(info.st_mtime) < staleBefore)
                ::unlinkat(work.queue.get(), name.c_str(), 0);
            continue;
        }
        if (!name.empty() && name.front() != '.')
            names.push_back(name);
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

// A queued file as Enqueue wrote it; false for anything else (which is then dropped).
bool ReadQueued(const TWorkplace& work, const std::string& name, TQueued& queued)
{
    const TDescriptor file(::openat(work.queue.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())
        return false;
    bool whole = false;
    const std::string bytes = ReadHead(file.get(), work.places.stateDir + QueueName + "/" + name, MaxQueuedBytes, whole);
    const std::size_t end = bytes.find('\n');
    if (!whole || end == std::string::npos)
        return false;
    const auto [stop, error] = std::from_chars(bytes.data(), bytes.data() + end, queued.owner);
    if (error != std::errc() || stop != bytes.data() + end || queued.owner < 0)
        return false;
    queued.entry = bytes.substr(end + 1);
    queued.name = name;
    return userlog::EntryProblem(queued.entry).empty();
}

std::string ReadIndex(const TWorkplace& work)
{
    const TDescriptor file(::openat(work.state.get(), IndexName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0)
        return {};
    bool whole = false;
    return ReadHead(file.get(), work.places.stateDir + IndexName, MaxIndexBytes, whole);
}

// Writes `bytes` under a fresh name in `folder` and renames it over `target`; `replace` false:
// only when the name is free. The fresh file goes again when anything fails.
void Replace(int folder, const std::string& folderPath, const std::string& prefix, const std::string& target,
             const std::string& bytes, mode_t mode, bool replace)
{
    const std::string name = UniqueName(prefix);
    try {
        const TDescriptor file = CreateNew(folder, folderPath, name, mode);
        WriteAll(file.get(), folderPath + name, bytes);
        const int error = replace ? (::renameat(folder, name.c_str(), folder, target.c_str()) == 0 ? 0 : errno)
                                  : RenameNoReplace(folder, name, target);
        if (error != 0)
            RefuseFile(folderPath + target, error == EEXIST ? std::string("Ein anderer Benutzer hat den Namen belegt.")
                                                            : SystemReason(error));
    } catch (...) {
        ::unlinkat(folder, name.c_str(), 0);
        throw;
    }
    SyncFolder(folder, folderPath);
}

// One batch of the queue into the log, under the lock. False when another writer holds the lock
// (it looks at the queue again before it ends); `more` says whether entries are left after it.
bool WriteBatch(const TWorkplace& work, bool& more)
{
    const TDescriptor lock = LockState(work.state.get(), work.places.stateDir, false);
    if (lock.get() < 0)
        return false;
    const std::vector<std::string> names = QueuedNames(work);
    const std::size_t count = std::min(names.size(), MaxBatch);
    more = names.size() > count;
    std::vector<TQueued> queued;
    std::vector<std::string> done;
    for (std::size_t i = 0; i < count; ++i) {
        TQueued entry;
        if (ReadQueued(work, names[i], entry))
            queued.push_back(std::move(entry));
        done.push_back(names[i]);
    }

    if (!queued.empty()) {
        const std::string path = work.places.dataDir + LogName;
        const TDescriptor log(::openat(work.data.get(), LogName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        const bool missing = log.get() < 0 && errno == ENOENT;
        if (log.get() < 0 && !missing) {
            const int error = errno;
            RefuseFile(path, error == ELOOP    ? std::string("Sie ist ein symbolischer Link.")
                             : error == EISDIR ? std::string("Sie ist keine gewöhnliche Datei.")
                                               : SystemReason(error));
        }
        std::string head;
        bool whole = true;
        if (!missing) {
            struct stat info {};
            if (::fstat(log.get(), &info) != 0)
                RefuseFile(path, SystemReason(errno));
            if (const std::string problem = LogProblem(info, ::geteuid(), work.places.dataDir); !problem.empty())
                RefuseFile(path, problem);
            head = ReadHead(log.get(), path, userlog::MaxLogBytes, whole);
        }
        const TComposed composed = Compose(head, whole, ParseIndex(ReadIndex(work)), queued, work.fresh);
        if (composed.alreadyIn.size() < queued.size()) {
            // The index first: when the log's rename does not follow, the index still matches the
            // old log's entries and the queue is written again.
            Replace(work.state.get(), work.places.stateDir, ".index.", IndexName, FormatIndex(composed.index), 0600,
                    true);
            // Nobody but this owner and root may rename the log in the sticky folder: the name
            // holds what was checked. A missing log is made only where the name is free.
            Replace(work.data.get(), work.places.dataDir, ".VL_Userlog.txt.", LogName, composed.log, 0644, !missing);
        }
    }
    for (const std::string& name : done)
        ::unlinkat(work.queue.get(), name.c_str(), 0);
    SyncFolder(work.queue.get(), work.places.stateDir + QueueName);
    return true;
}

// Writes batches until the queue is empty, another writer holds the lock or this writer has
// done its share.
void WriteQueue(const TWorkplace& work)
{
    for (int round = 0; round < MaxRounds; ++round) {
        bool more = false;
        if (!WriteBatch(work, more))
            return;
        if (!more && QueuedNames(work).empty())
            return;
    }
}

void Run(const TRequest& request, uid_t caller, bool setId)
{
    TWorkplace work;
    work.places = Places(setId);
    work.state = OpenFolder(work.places.stateDir);
    struct stat state {};
    if (::fstat(work.state.get(), &state) != 0)
        Refuse("Das Verzeichnis \"" + work.places.stateDir + "\" lässt sich nicht prüfen: " + SystemReason(errno));
    ::clearenv();

    if (::geteuid() == 0) {
        if (setId && state.st_uid == 0)
            Refuse("Das Verzeichnis \"" + work.places.stateDir +
                   "\" gehört root statt dem Benutzer des Protokolls; das Schreibprogramm ist nicht eingerichtet.");
        if (request.setUp) {
            if (caller != 0)
                Refuse("Nur root richtet das Protokoll ein.");
            for (const std::string& message : SetUpLog(work.places, state.st_uid, state.st_gid))
                std::fprintf(stderr, "%s\n", message.c_str());
        }
        BecomeLogOwner(state.st_uid, state.st_gid);
    } else {
        if (setId)
            Refuse("Das Schreibprogramm ist nicht set-user-id root eingerichtet.");
        if (request.setUp)
            Refuse("Nur root richtet das Protokoll ein.");
        CheckLimits();
    }

    // From here on: the log's owner, and the caller's only word is her entry.
    CheckOwnFolder(work.state.get(), work.places.stateDir);
    work.data = OpenFolder(work.places.dataDir);
    CheckDataFolder(work.data.get(), work.places.dataDir);
    work.queue = OpenQueue(work.state.get(), work.places.stateDir);
    // The encoding of an empty log is its owner's choice: the caller's for her own log, the
    // machine's (the code page) for the shared one, never the first caller's.
    work.fresh = ::geteuid() == caller ? request.fresh : userlog::TLogEncoding::Windows1252;
    if (!request.setUp) {
        // Read only now, as the log's owner: until its end the caller's input is hers and may
        // be slow, which holds up nobody but her.
        const std::string entry = ReadInput();
        if (std::string problem = userlog::EntryProblem(entry); !problem.empty())
            Refuse("Der Eintrag für \"" + request.path + "\" wird nicht geschrieben: " + problem);
        Enqueue(work, caller, entry);
    }
    try {
        WriteQueue(work);
    } catch (const TRefusal& refusal) {
        if (request.setUp)
            throw;
        Refuse(refusal.message + " Der Eintrag ist vorgemerkt und kommt ins Protokoll, sobald es sich schreiben lässt.");
    }
}

}  // namespace

std::string ParseArguments(const std::vector<std::string_view>& arguments, TRequest& request)
{
    request = TRequest();
    bool havePath = false;
    for (const std::string_view argument : arguments) {
        constexpr std::string_view Encoding = "--kodierung=";
        if (argument.substr(0, Encoding.size()) == Encoding) {
            const auto named = userlog::EncodingNamed(argument.substr(Encoding.size()));
            if (!named)
                return "unbekannte Kodierung \"" + std::string(argument.substr(Encoding.size())) + "\"";
            request.fresh = *named;
        } else if (argument == "--einrichten" && arguments.size() == 1) {
            request.setUp = true;
        } else if (!argument.empty() && argument.front() != '-' && !havePath) {
            request.path = std::string(argument);
            havePath = true;
        } else {
            return "unerwartetes Argument \"" + std::string(argument) + "\"";
        }
    }
    if (!request.setUp && !havePath)
        return "der Pfad des Protokolls fehlt";
    return {};
}

std::string ParseRequest(const std::vector<std::string_view>& arguments, std::string_view input,
                         TRequest& request, bool& usage)
{
    usage = true;
    if (std::string problem = ParseArguments(arguments, request); !problem.empty())
        return problem;
    usage = false;
    if (request.setUp)
        return {};
    if (std::string problem = userlog::EntryProblem(input); !problem.empty())
        return "Der Eintrag für \"" + request.path + "\" wird nicht geschrieben: " + problem;
    request.entry = std::string(input);
    return {};
}

int Main(int argc, char** argv)
{
    TakeOverProcess();
    const uid_t caller = ::getuid();
    const bool setId = ::getuid() != ::geteuid() || ::getgid() != ::getegid();
    std::vector<std::string_view> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    try {
        TRequest request;
        if (const std::string problem = ParseArguments(arguments, request); !problem.empty()) {
            std::fprintf(stderr,
                         "vorlandt-userlog-writer: %s\n"
                         "Aufruf: vorlandt-userlog-writer [--kodierung=KODIERUNG] PFAD < EINTRAG\n"
                         "        vorlandt-userlog-writer --einrichten   (root, bei der Installation)\n",
                         problem.c_str());
            return ExitUsage;
        }
        if (!request.setUp) {
            const TPlaces places = Places(setId);
            if (request.path != places.dataDir + LogName)
                Refuse("Die Datei \"" + request.path + "\" kann nicht geschrieben werden: Dieses Programm ergänzt nur \"" +
                       places.dataDir + LogName + "\".");
        }
        Run(request, caller, setId);
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
