// Reading the update job file: "6;descriptor;ModulNr;Haupt;Neben;Unter;s|-;-;designation" per
// line, the designation being all that follows the eighth ";".
#include "JobFile.h"

#include "core/catalog/JobHandOff.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/text/IntText.h"
#include "core/platform/text/TextCodec.h"
#include "core/platform/VorlandtError.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// One line per update of a few hundred characters; a file far beyond this is no job file, and
// reading it whole would only exhaust memory.
constexpr qint64 MaxJobFileSize = 4 * 1024 * 1024;
constexpr int FieldCount = 9;

[[noreturn]] void Malformed(const QString& path, int lineNumber, const QString& problem)
{
    throw EVorlandtError(
        QStringLiteral("Auftragsdatei \"%1\", Zeile %2: %3").arg(path).arg(lineNumber).arg(problem),
        EVorlandtError::Kind::Convert);
}

// Plain decimal, as the updater writes it: a number in any other spelling was not written by
// the updater, and guessing its meaning could install the wrong version.
qint32 Number(const QString& path, int lineNumber, const QString& field, const QString& text)
{
    static const QRegularExpression decimal(QStringLiteral("^-?[0-9]{1,10}$"));
    const std::optional<qint32> value =
        decimal.match(text).hasMatch() ? TryStrToInt(text) : std::optional<qint32>();
    if (!value)
        Malformed(path, lineNumber,
                  QStringLiteral("%1 \"%2\" ist keine ganze Zahl.").arg(field, text.left(40)));
    return *value;
}

TJob ParseLine(const QString& path, int lineNumber, const QString& line)
{
    // The designation may hold ";" itself: only the first eight separate fields.
    QStringList fields;
    qsizetype start = 0;
    while (fields.size() < FieldCount - 1) {
        const qsizetype separator = line.indexOf(u';', start);
        if (separator < 0)
            Malformed(path, lineNumber,
                      QStringLiteral("%1 statt %2 Felder.").arg(fields.size() + 1).arg(FieldCount));
        fields.append(line.mid(start, separator - start));
        start = separator + 1;
    }
    fields.append(line.mid(start));

    if (fields.at(0) != QString::number(UpdaterVersionNumber))
        Malformed(path, lineNumber,
                  QStringLiteral("Auftragsformat \"%1\" wird nicht unterstützt (erwartet %2).")
                      .arg(fields.at(0).left(40))
                      .arg(UpdaterVersionNumber));
    if (fields.at(1).isEmpty())
        Malformed(path, lineNumber, QStringLiteral("Die Update-Beschreibungsdatei fehlt."));
    if (fields.at(6) != u"s" && fields.at(6) != u"-")
        Malformed(
            path, lineNumber,
            QStringLiteral("Kennzeichen \"%1\" ist weder \"s\" noch \"-\".").arg(fields.at(6).left(40)));
    if (fields.at(7) != u"-")
        Malformed(path, lineNumber,
                  QStringLiteral("Feld 8 ist \"%1\" statt \"-\".").arg(fields.at(7).left(40)));

    TJob job;
    job.LineNumber = lineNumber;
    job.DescriptorPath = fields.at(1);
    job.ModulNr = Number(path, lineNumber, QStringLiteral("Modulnummer"), fields.at(2));
    job.Hauptversion = Number(path, lineNumber, QStringLiteral("Hauptversion"), fields.at(3));
    job.Nebenversion = Number(path, lineNumber, QStringLiteral("Nebenversion"), fields.at(4));
    job.Unterversion = Number(path, lineNumber, QStringLiteral("Unterversion"), fields.at(5));
    job.StillesUpdate = fields.at(6) == u"s";
    job.Modulbezeichnung = fields.at(8);
    return job;
}

}  // namespace

QList<TJob> ParseJobFile(const QString& path, const QByteArray& bytes)
{
    const QStringList lines = platform::SplitLines(platform::DecodeText(bytes));
    QList<TJob> jobs;
    jobs.reserve(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNumber = int(i + 1);
        // The updater writes no empty lines: one in the middle means the file was cut or
        // pieced together, and what follows it cannot be trusted either.
        if (lines.at(i).isEmpty())
            Malformed(path, lineNumber, QStringLiteral("Die Zeile ist leer."));
        jobs.append(ParseLine(path, lineNumber, lines.at(i)));
    }
    return jobs;
}

QList<TJob> ReadJobFile(const QString& path)
{
    // The file says what to install: only one this user wrote and nobody else can have changed
    // is carried out.
    const std::optional<QByteArray> bytes =
        platform::ReadRegularFileWithin(path, MaxJobFileSize, platform::TFileTrust::OwnFile);
    if (!bytes)
        throw EVorlandtError(
            QStringLiteral("Auftragsdatei \"%1\" ist größer als %2 Bytes.").arg(path).arg(MaxJobFileSize),
            EVorlandtError::Kind::InOut);
    return ParseJobFile(path, *bytes);
}
