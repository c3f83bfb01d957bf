// libFuzzer entry for the .reg reader: any bytes must end in a result or a clean error, and
// every value the reader accepts must come back unchanged through the writer.
#include "core/platform/store/RegFile.h"

#include "core/platform/VorlandtError.h"

#include <cstdint>
#include <cstdlib>

namespace {

using platform::TStoreOp;

QList<TStoreOp> SetOps(const QList<TStoreOp>& ops)
{
    QList<TStoreOp> result;
    for (const TStoreOp& op : ops) {
        if (op.type == TStoreOp::Type::SetValue)
            result.append(op);
    }
    return result;
}

bool SameValues(const QList<TStoreOp>& a, const QList<TStoreOp>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].key != b[i].key || a[i].name != b[i].name || !(a[i].value == b[i].value))
            return false;
    }
    return true;
}

void CheckRoundTrip(TRootKey root, const QList<TStoreOp>& ops)
{
    const QList<TStoreOp> values = SetOps(ops);
    QList<regfile::TRegKey> keys;
    for (const TStoreOp& op : values)
        keys.append({op.key, {{op.name, op.value}}});
    QString text;
    try {
        text = regfile::FormatRegText(root, keys);
    } catch (const EVorlandtError&) {
        return;  // a line break in a name: the format cannot hold it, and the writer says so
    }
    for (const QByteArray& bytes : {regfile::EncodeForFile(text), regfile::EncodeForTerminal(text)}) {
        const regfile::TRegImport again = regfile::ParseRegFile(bytes, QStringLiteral("again.reg"));
        const auto& back = root == HKEY_LOCAL_MACHINE ? again.machineOps : again.userOps;
        if (!SameValues(SetOps(back), values))
            std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    regfile::TRegImport parsed;
    try {
        parsed = regfile::ParseRegFile(bytes, QStringLiteral("fuzz.reg"));
    } catch (const EVorlandtError&) {
        return 0;
    }
    CheckRoundTrip(HKEY_CURRENT_USER, parsed.userOps);
    CheckRoundTrip(HKEY_LOCAL_MACHINE, parsed.machineOps);
    return 0;
}
