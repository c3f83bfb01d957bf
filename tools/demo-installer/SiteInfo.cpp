// Reading and raising siteinfo_<ModulNr>.ini with the same matching rule the updater's ini lookup
// uses, so that the version written is the version the next update search finds.
#include "SiteInfo.h"

#include "core/platform/files/FileRead.h"
#include "core/platform/text/IntText.h"
#include "core/platform/text/TextCodec.h"

#include <QFileInfo>
#include <QStringEncoder>

#include <utility>

namespace {

// A version file holds a handful of lines; anything far larger is not one.
constexpr qint64 MaxSiteInfoSize = 1024 * 1024;

const QString Haupt = QStringLiteral("hauptversion");
const QString Neben = QStringLiteral("nebenversion");
const QString Unter = QStringLiteral("unterversion");

}  // namespace

QString TSiteInfo::PathFor(const QString& Zielverzeichnis, qint32 ModulNr)
{
    // No separator is inserted: the installation directory always ends with one.
    return Zielverzeichnis + QStringLiteral("siteinfo_%1.ini").arg(ModulNr);
}

TSiteInfo TSiteInfo::Read(const QString& path)
{
    TSiteInfo info;
    if (!QFileInfo::exists(path))
        return info;
    const QByteArray bytes = platform::ReadRegularFile(path, MaxSiteInfoSize);
    if (bytes.startsWith("\xEF\xBB\xBF"))
        info.FEncoding = TEncoding::Utf8;
    else if (bytes.startsWith("\xFF\xFE"))
        info.FEncoding = TEncoding::Utf16LE;
    else if (bytes.startsWith("\xFE\xFF"))
        info.FEncoding = TEncoding::Utf16BE;
    info.FLines = platform::SplitLines(platform::DecodeText(bytes));
    return info;
}

qsizetype TSiteInfo::IndexOf(const QString& key) const
{
    for (qsizetype i = 0; i < FLines.size(); ++i) {
        const qsizetype equals = FLines.at(i).indexOf(u'=');
        // Nothing is trimmed: " hauptversion = 3" is no match for the updater either.
        if (equals >= 0 && QStringView(FLines.at(i)).left(equals).compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

TInstalledVersion TSiteInfo::Version() const
{
    const auto value = [this](const QString& key) {
        const qsizetype i = IndexOf(key);
        if (i < 0)
            return qint32(0);
        const QString& line = FLines.at(i);
        return StrToIntDef(QStringView(line).mid(line.indexOf(u'=') + 1), 0);
    };
    return {value(Haupt), value(Neben), value(Unter)};
}

void TSiteInfo::Set(const QString& key, qint32 value)
{
    const qsizetype i = IndexOf(key);
    if (i < 0) {
        FLines.append(key + u'=' + QString::number(value));
        return;
    }
    // The key keeps the spelling it has in the file.
    const QString& line = FLines.at(i);
    FLines[i] = line.left(line.indexOf(u'=') + 1) + QString::number(value);
}

void TSiteInfo::Raise(const TInstalledVersion& version)
{
    const TInstalledVersion installed = Version();
    // The major version takes no part, as in the update search: otherwise a file naming a higher
    // major version would keep the update pending after every installation.
    if (std::pair(version.Nebenversion, version.Unterversion) <=
        std::pair(installed.Nebenversion, installed.Unterversion))
        return;
    Set(Haupt, version.Hauptversion);
    Set(Neben, version.Nebenversion);
    Set(Unter, version.Unterversion);
    FChanged = true;
}

QByteArray TSiteInfo::Bytes() const
{
    QString text;
    for (const QString& line : FLines)
        text += line + QStringLiteral("\r\n");
    const auto encoded = [&text](QStringConverter::Encoding encoding) {
        QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
        return QByteArray(encoder.encode(text));
    };
    switch (FEncoding) {
        case TEncoding::Utf8:
            return encoded(QStringConverter::Utf8);
        case TEncoding::Utf16LE:
            return encoded(QStringConverter::Utf16LE);
        case TEncoding::Utf16BE:
            return encoded(QStringConverter::Utf16BE);
        case TEncoding::Windows1252:
            break;
    }
    return platform::EncodeWindows1252(text);
}
