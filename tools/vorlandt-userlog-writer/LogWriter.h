// vorlandt-userlog-writer: adds one entry to the machine's installed-updates log for a user who
// may not write the file herself. Installed set-user-id root, it gives up root and the caller's
// identity before it reads a byte, and runs as the log's owner, the system user that owns its
// state folder; so it is plain C++ and POSIX without Qt, small enough to audit, and trusts
// nothing of its caller but the entry it checks.
#pragma once

#include "core/catalog/UserLogFile.h"

#include <string>
#include <string_view>
#include <vector>

namespace userlogwriter {

// What the caller asks for: the entry block (UTF-8), the encoding of a log that is still empty
// (honoured only for a log of the caller's own, see Main), and the path the caller takes the
// log for (it must be the one this program writes). `setUp` is root's set-up of the log
// (--einrichten), which takes neither path nor entry.
struct TRequest {
    std::string entry;
    userlog::TLogEncoding fresh = userlog::TLogEncoding::Windows1252;
    std::string path;
    bool setUp = false;
};

// Exit statuses: 0 written (or queued for the writer that is at it), 1 refused or failed (the
// reason on stderr), 2 wrong call.
inline constexpr int ExitOk = 0;
inline constexpr int ExitRefused = 1;
inline constexpr int ExitUsage = 2;

// Reads the arguments ([--kodierung=NAME] PATH, or --einrichten) into `request`; returns the
// German reason when they are no call of this program.
std::string ParseArguments(const std::vector<std::string_view>& arguments, TRequest& request);

// Reads the arguments and, unless setting up, the
// entry given on standard input into `request`. Returns the German reason when they are no
// request; `usage` says whether it is the call rather than the entry that is wrong.
std::string ParseRequest(const std::vector<std::string_view>& arguments, std::string_view input,
                         TRequest& request, bool& usage);

// The whole program; reads standard input, writes the reason of a refusal to standard error.
int Main(int argc, char** argv);

}  // namespace userlogwriter
