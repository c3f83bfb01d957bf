// The installed-updates log as bytes, without Qt: the encodings its byte-order mark names, the
// shape of one entry, and the log with a new entry first within its size cap. The updater and
// the set-group-id writer (which must not load Qt) share it, so both write the same bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace userlog {

enum class TLogEncoding { Windows1252, Utf8, Utf16LE, Utf16BE };

// The log is newest first: its first bytes are the recent history. A writer keeps the file
// within MaxLogBytes by dropping the oldest entries, a reader takes no more than that from the
// front, so a damaged or planted huge file costs neither memory nor time. At a few hundred bytes
// per installed update the cap holds thousands of entries.
inline constexpr std::size_t MaxLogBytes = 2 * 1024 * 1024;
// One entry: the header lines and the plain text of one update's description.
inline constexpr std::size_t MaxEntryBytes = 64 * 1024;

inline constexpr std::string_view EntrySeparator = "=======================";

// The encoding the byte-order mark at the start names; Windows-1252 without one.
TLogEncoding EncodingOf(std::string_view bytes);
std::string_view ByteOrderMark(TLogEncoding encoding);
// "windows-1252", "utf-8", "utf-16le", "utf-16be" and back.
std::string_view EncodingName(TLogEncoding encoding);
std::optional<TLogEncoding> EncodingNamed(std::string_view name);

// Why `entry` (UTF-8) is not one entry block as the updater composes it, in German; empty when
// it is: the separator, "Installationsdatum: ", "Modul: ", "Version: ", the separator, the text,
// every line ended by CR LF and the block by two empty lines; valid UTF-8 without NUL and
// without control characters other than CR, LF and TAB; at most MaxEntryBytes.
std::string EntryProblem(std::string_view entry);

// `utf8` (valid UTF-8) in `encoding`, without byte-order mark. Characters Windows-1252 cannot
// hold become '?'.
std::string Encode(std::string_view utf8, TLogEncoding encoding);

// How many bytes of `bytes` (the start of a file) end with its last complete line: up to and
// including the last line break. Line breaks are LF, CR LF and a lone CR, counted in the
// encoding the byte-order mark names.
std::size_t CompleteLinesLength(std::string_view bytes);

// The lines of `body` (a log's bytes after its byte-order mark, in `encoding`), each ended by
// CR LF; a last line without its line end is dropped unless `whole`. `entryStarts` holds where
// an entry starts in `bytes`: at a separator line followed by an "Installationsdatum: " line.
struct TLogLines {
    std::string bytes;
    std::vector<std::size_t> entryStarts;
};
TLogLines NormalizedLines(std::string_view body, TLogEncoding encoding, bool whole);

// The new log: `entry` (a valid entry block) first, then the lines of the old log, each ended by
// CR LF, all in the old log's encoding (`fresh` when the old log is empty). `oldHead` is the
// start of the old log and `oldIsWhole` says whether it is all of it; a line cut off at its end
// is dropped. When the result would exceed `cap` bytes, the oldest entries are dropped (the cut
// lies before a separator that starts an entry, or at a line end when there is none).
std::string ComposeLog(std::string_view oldHead, bool oldIsWhole, std::string_view entry, TLogEncoding fresh,
                       std::size_t cap = MaxLogBytes);

}  // namespace userlog
