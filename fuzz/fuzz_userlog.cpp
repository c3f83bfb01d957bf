// libFuzzer entry for the installed-updates log: the reading of a log's front (where it is cut,
// how it decodes into lines), the writer's check of an entry and of its call, and the log it
// composes. Any bytes give a result, never a crash; an accepted entry always leads the composed
// log in the log's encoding, and the composed log stays within its cap.
#include "LogShares.h"
#include "LogWriter.h"

#include "core/catalog/UserLogFile.h"
#include "core/platform/text/TextCodec.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    // Byte 0: whether the old log's front is all of it, the encoding of a new log, a small or the
    // real cap; byte 1: where the old log ends and the entry begins.
    const bool whole = (data[0] & 1) != 0;
    const auto fresh = static_cast<userlog::TLogEncoding>((data[0] >> 1) & 3);
    const std::size_t cap = (data[0] & 8) != 0 ? userlog::MaxLogBytes : 64 + data[0] * 4;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::size_t split = rest.size() * data[1] / 255;
    const std::string_view oldHead = rest.substr(0, split);
    const std::string_view entry = rest.substr(split);

    // The reader: the front cut after its last whole line, decoded and split as the window does.
    const std::size_t complete = userlog::CompleteLinesLength(oldHead);
    if (complete > oldHead.size())
        std::abort();
    const QByteArray front(oldHead.data(), static_cast<qsizetype>(complete));
    const QStringList lines = platform::SplitLines(platform::DecodeText(front));
    if (lines.size() > front.size())
        std::abort();

    // The writer's call and entry check.
    userlogwriter::TRequest request;
    bool usage = false;
    const std::string problem =
        userlogwriter::ParseRequest({"--kodierung=utf-16le", "/daten/VL_Userlog.txt"}, entry, request, usage);
    if (usage || problem.empty() != userlog::EntryProblem(entry).empty())
        std::abort();
    if (!problem.empty())
        return 0;

    const std::string log = userlog::ComposeLog(oldHead, whole, entry, fresh, cap);
    const userlog::TLogEncoding encoding = oldHead.empty() ? fresh : userlog::EncodingOf(oldHead);
    const std::string lead = std::string(userlog::ByteOrderMark(encoding)) + userlog::Encode(entry, encoding);
    if (log.compare(0, lead.size(), lead) != 0)
        std::abort();
    if (log.size() > std::max(cap, lead.size()))
        std::abort();

    // The shared log's writer: the old log with an index read from the fuzzer's bytes (the front
    // of the old log doubles as index text), the entry queued twice under two owners. Both
    // entries lead, nothing exceeds the cap, and the index it writes describes the log exactly.
    const std::vector<userlogwriter::TIndexRecord> index = userlogwriter::ParseIndex(oldHead);
    const userlogwriter::TComposed shared = userlogwriter::Compose(
        oldHead, whole, index, {{1000, std::string(entry), "a"}, {0, std::string(entry), "b"}}, fresh, cap);
    if (shared.log.size() > std::max(cap, lead.size()))
        std::abort();
    std::size_t described = userlog::ByteOrderMark(encoding).size();
    for (const userlogwriter::TIndexRecord& record : shared.index) {
        if (shared.log.size() < described + record.length ||
            userlogwriter::Hash(std::string_view(shared.log).substr(described, record.length)) != record.hash)
            std::abort();
        described += record.length;
    }
    if (described != shared.log.size())
        std::abort();
    const userlogwriter::TComposed again = userlogwriter::Compose(
        shared.log, true, userlogwriter::ParseIndex(userlogwriter::FormatIndex(shared.index)),
        {{1000, std::string(entry), "a"}}, fresh, cap);
    const bool aIn = std::any_of(shared.index.begin(), shared.index.end(),
                                 [](const userlogwriter::TIndexRecord& record) { return record.queued == "a"; });
    if (aIn && (again.log != shared.log || again.alreadyIn.size() != 1))
        std::abort();
    return 0;
}
