// Whose entries the shared installed-updates log holds, and the new log when entries are added:
// each entry is remembered with its writer's user id in an index beside the log, so that the
// size cap drops the oldest entries of whoever holds the most, never root's for a user's.
// Plain C++ on bytes; the writer does the files.
#pragma once

#include "core/catalog/UserLogFile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace userlogwriter {

// Entries the index does not describe: the history written before the index existed, or edited
// by hand. They count as one owner of their own.
inline constexpr std::int64_t UnknownOwner = -1;

// One entry of the log, top to bottom: who wrote it, its length and hash in the log's bytes,
// and the name of the queued file it came from ("-" for none).
struct TIndexRecord {
    std::int64_t owner = UnknownOwner;
    std::size_t length = 0;
    std::uint64_t hash = 0;
    std::string queued = "-";
};

std::uint64_t Hash(std::string_view bytes);
// One line per record: "<owner> <length> <hash in hex> <queued name>". Lines that are not of
// that shape end the index (what follows them is treated as unknown).
std::vector<TIndexRecord> ParseIndex(std::string_view text);
std::string FormatIndex(const std::vector<TIndexRecord>& records);

// An entry waiting in the queue: its writer, its block (UTF-8) and its queued file's name,
// whose order is the order in which the entries came.
struct TQueued {
    std::int64_t owner = UnknownOwner;
    std::string entry;
    std::string name;
};

struct TComposed {
    std::string log;                     // the whole new log
    std::vector<TIndexRecord> index;     // describing it
    std::vector<std::string> alreadyIn;  // queued names the old log holds already
};

// The new log: the queued entries first (the last queued on top), then the old log, in the old
// log's encoding (`fresh` for an empty one). `oldHead` is the old log's front and `whole` says
// whether it is all of it. The index is laid over the old log from the top; where it no longer
// matches (a write cut off before its rename, a log edited by hand or from before the index)
// the rest counts as unknown, split at its entries. Queued entries the old log already holds
// (a writer stopped between the log's rename and the queue's clean-up) are not added again.
// While the log exceeds `cap`, the oldest entry of the owner holding the most bytes goes; while
// a user's entry is added, root's entries only when nobody else's are left.
TComposed Compose(std::string_view oldHead, bool whole, const std::vector<TIndexRecord>& index,
                  const std::vector<TQueued>& queued, userlog::TLogEncoding fresh,
                  std::size_t cap = userlog::MaxLogBytes);

}  // namespace userlogwriter
