// See LogShares.h.
#include "LogShares.h"

#include <algorithm>
#include <charconv>
#include <map>

namespace userlogwriter {

namespace {

struct TPiece {
    std::int64_t owner;
    std::string bytes;
    std::string queued;
};

bool ParseNumber(std::string_view text, auto& value, int base = 10)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    while (!line.empty()) {
        const std::size_t space = line.find(' ');
        fields.push_back(line.substr(0, space));
        line = space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    }
    return fields;
}

// The owner whose entry goes next: of those allowed to lose one, the one holding the most bytes;
// between equals, the one whose oldest entry is older. Root's entries are spared for a user's
// while anybody else's are left.
std::size_t NextToDrop(const std::vector<TPiece>& pieces, bool spareRoot)
{
    spareRoot = spareRoot && std::any_of(pieces.begin(), pieces.end(), [](const TPiece& p) { return p.owner != 0; });
    std::map<std::int64_t, std::size_t> held;
    for (const TPiece& piece : pieces) {
        if (!spareRoot || piece.owner != 0)
            held[piece.owner] += piece.bytes.size();
    }
    std::int64_t chosen = 0;
    std::size_t most = 0;
    std::size_t at = pieces.size();
    // Walking from the oldest entry up, the first owner reaching the most wins a tie.
    for (std::size_t i = pieces.size(); i-- > 0;) {
        const auto found = held.find(pieces[i].owner);
        if (found == held.end())
            continue;
        if (found->second > most) {
            most = found->second;
            chosen = found->first;
        }
    }
    for (std::size_t i = pieces.size(); i-- > 0;) {
        if (held.count(pieces[i].owner) != 0 && pieces[i].owner == chosen) {
            at = i;
            break;
        }
    }
    return at;
}

}  // namespace

std::uint64_t Hash(std::string_view bytes)
{
    // FNV-1a: the index only recognises what this program wrote, it proves nothing.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::vector<TIndexRecord> ParseIndex(std::string_view text)
{
    std::vector<TIndexRecord> records;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos)
            break;  // a line without its end was cut off
        const std::vector<std::string_view> fields = Fields(text.substr(0, end));
        text.remove_prefix(end + 1);
        TIndexRecord record;
        if (fields.size() != 4 || !ParseNumber(fields[0], record.owner) ||
            !ParseNumber(fields[1], record.length) || !ParseNumber(fields[2], record.hash, 16) ||
            fields[3].empty() || record.length == 0)
            break;
        record.queued = std::string(fields[3]);
        records.push_back(std::move(record));
    }
    return records;
}

std::string FormatIndex(const std::vector<TIndexRecord>& records)
{
    std::string text;
    for (const TIndexRecord& record : records) {
        char hash[17];
        const auto end = std::to_chars(hash, hash + sizeof hash - 1, record.hash, 16).ptr;
        text += std::to_string(record.owner) + ' ' + std::to_string(record.length) + ' ' +
                std::string(hash, end) + ' ' + record.queued + '\n';
    }
    return text;
}

TComposed Compose(std::string_view oldHead, bool whole, const std::vector<TIndexRecord>& index,
                  const std::vector<TQueued>& queued, userlog::TLogEncoding fresh, std::size_t cap)
{
    const userlog::TLogEncoding encoding = oldHead.empty() ? fresh : userlog::EncodingOf(oldHead);
    const std::string_view bom = userlog::ByteOrderMark(encoding);
    const std::string_view body = oldHead.substr(std::min(bom.size(), oldHead.size()));

    TComposed result;
    // The old log from the top, as far as the index describes it.
    std::vector<TPiece> old;
    std::size_t at = 0;
    for (const TIndexRecord& record : index) {
        if (record.length > body.size() - at || Hash(body.substr(at, record.length)) != record.hash)
            continue;
        old.push_back({record.owner, std::string(body.substr(at, record.length)), record.queued});
        at += record.length;
    }
    // The rest, split at its entries.
    const userlog::TLogLines rest = userlog::NormalizedLines(body.substr(at), encoding, whole);
    std::vector<std::size_t> cuts = rest.entryStarts;
    if (cuts.empty() || cuts.front() != 0)
        cuts.insert(cuts.begin(), 0);
    cuts.push_back(rest.bytes.size());
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i) {
        if (cuts[i + 1] > cuts[i])
            old.push_back({UnknownOwner, rest.bytes.substr(cuts[i], cuts[i + 1] - cuts[i]), "-"});
    }

    // The queue, newest on top, without what the old log already holds.
    std::vector<TPiece> pieces;
    bool forUser = false;
    for (auto entry = queued.rbegin(); entry != queued.rend(); ++entry) {
        const bool in = std::any_of(old.begin(), old.end(), [&](const TPiece& p) { return p.queued == entry->name; });
        if (in)
            result.alreadyIn.push_back(entry->name);
        else
            pieces.push_back({entry->owner, userlog::Encode(entry->entry, encoding), entry->name});
        forUser = forUser || (!in && entry->owner != 0);
    }
    pieces.insert(pieces.end(), std::make_move_iterator(old.begin()), std::make_move_iterator(old.end()));

    std::size_t total = bom.size();
    for (const TPiece& piece : pieces)
        total += piece.bytes.size();
    while (total > cap && !pieces.empty()) {
        const std::size_t drop = NextToDrop(pieces, forUser);
        total -= pieces[drop].bytes.size();
        pieces.erase(pieces.begin() + std::ptrdiff_t(drop));
    }

    result.log = std::string(bom);
    for (const TPiece& piece : pieces) {
        result.log += piece.bytes;
        result.index.push_back({piece.owner, piece.bytes.size(), Hash(piece.bytes), piece.queued});
    }
    return result;
}

}  // namespace userlogwriter
