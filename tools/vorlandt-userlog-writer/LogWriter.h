// vorlandt-userlog-writer: adds one entry to the machine's installed-updates log for a user who
// may not write the file herself. It runs set-group-id with the log's group, so it is plain
// C++ and POSIX without Qt, small enough to audit, and trusts nothing of its caller but the
// entry it checks.
#pragma once

#include "core/catalog/UserLogFile.h"

#include <string>
#include <string_view>
#include <vector>

namespace userlogwriter {

// What the caller asks for: the entry block (UTF-8), the encoding of a log that is still empty,
// and the path the caller takes the log for (it must be the one this program writes).
struct TRequest {
    std::string entry;
    userlog::TLogEncoding fresh = userlog::TLogEncoding::Windows1252;
    std::string path;
};

// Exit statuses: 0 written, 1 refused or failed (the reason on stderr), 2 wrong call.
inline constexpr int ExitOk = 0;
inline constexpr int ExitRefused = 1;
inline constexpr int ExitUsage = 2;

// Reads the arguments ([--kodierung=NAME] PATH) and the entry given on standard input into
// `request`. Returns the German reason when they are no request; `usage` says whether it is the
// call rather than the entry that is wrong.
std::string ParseRequest(const std::vector<std::string_view>& arguments, std::string_view input,
                         TRequest& request, bool& usage);

// The whole program; reads standard input, writes the reason of a refusal to standard error.
int Main(int argc, char** argv);

}  // namespace userlogwriter
