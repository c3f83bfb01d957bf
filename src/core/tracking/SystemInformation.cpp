// Adapters are read from sysfs: it needs no privileges and lists every interface the kernel
// knows, with its index, whether it is up or not.
#include "core/tracking/SystemInformation.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

// sysfs files are tiny; a bound keeps a strange file from being read whole.
constexpr qint64 MaxSysfsFileSize = 256;

QByteArray ReadSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(MaxSysfsFileSize).trimmed();
}

// "aa:bb:cc:dd:ee:ff" into six bytes; anything else into nothing.
QByteArray ParseAddress(const QByteArray& text)
{
    const QList<QByteArray> parts = text.split(':');
    if (parts.size() != 6)
        return {};
    QByteArray bytes;
    for (const QByteArray& part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok, 16);
        if (!ok || part.size() != 2 || value > 0xFF)
            return {};
        bytes.append(static_cast<char>(value));
    }
    return bytes;
}

}  // namespace

QList<TSystemInformation::TAdapter> TSystemInformation::ReadAdapters(const QString& classNetFolder)
{
    QList<TAdapter> adapters;
    const QDir folder(classNetFolder);
    const QStringList names = folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString& name : names) {
        bool ok = false;
        const int index = ReadSmallFile(folder.filePath(name + QStringLiteral("/ifindex"))).toInt(&ok);
        if (!ok)
            continue;
        adapters.append(
            {index, ParseAddress(ReadSmallFile(folder.filePath(name + QStringLiteral("/address"))))});
    }
    std::stable_sort(adapters.begin(), adapters.end(),
                     [](const TAdapter& a, const TAdapter& b) { return a.Index < b.Index; });
    return adapters;
}

QString TSystemInformation::FirstAddress(const QList<TAdapter>& adapters)
{
    for (const TAdapter& adapter : adapters) {
        // Loopback, tunnels and point-to-point links have no address or only zeros.
        if (adapter.Address.size() != 6 || adapter.Address.count('\0') == 6)
            continue;
        QStringList bytes;
        for (const char byte : adapter.Address)
            bytes << QStringLiteral("%1").arg(static_cast<uchar>(byte), 2, 16, QChar(u'0')).toUpper();
        return bytes.join(u'-');
    }
    return QString();
}

QString TSystemInformation::HashedAddress(const QString& address)
{
    return QString::fromLatin1(QCryptographicHash::hash(address.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString TSystemInformation::GetMACAddress()
{
    return FirstAddress(ReadAdapters(QStringLiteral("/sys/class/net")));
}

QString TSystemInformation::GetMACAddressHashed()
{
    return HashedAddress(GetMACAddress());
}
