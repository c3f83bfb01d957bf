// The news window's decisions: loading an item, postponing it and finding it again.
#include "core/news/NewsItem.h"

#include "core/platform/files/AtomicFile.h"
#include "core/platform/Clock.h"
#include "core/platform/files/FileRead.h"
#include "core/platform/files/FolderEntries.h"
#include "core/platform/rtf/RtfReader.h"
#include "core/platform/text/TextCodec.h"
#include "core/platform/VorlandtError.h"
#include "core/platform/text/DateFormat.h"
#include "core/platform/text/DateParse.h"
#include "core/services/BasicProcs.h"
#include "core/services/FrontEnd.h"
#include "core/services/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <exception>

namespace {

// A news text is a few kilobytes; a file far beyond that is damaged and not worth the memory.
constexpr qint64 kMaxNewsFileSize = 64 * 1024 * 1024;

const QString DateInName = QStringLiteral("yyyy-mm-dd_");

// The item's rich text: every text and CDATA piece directly inside "beschreibung", so that a
// text split into several CDATA sections arrives whole. No such element means no text.
QString ItemRtf(const pugi::xml_node& newsNode)
{
    QByteArray text;
    for (const pugi::xml_node child : newsNode.child("beschreibung").children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            text += child.value();
    }
    return QString::fromUtf8(text);
}

void ShowErrorBox(const QString& message)
{
    MessageDialog(message, TMsgDlgType::mtError, TMsgDlgButtons::mbOK, 0);
}

bool NameTaken(const QString& path)
{
    // A dangling symbolic link counts: a file created under its name would land where it points.
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

}  // namespace

const QString TNewsItem::EmptyNewsDate = QStringLiteral("xx.yy.zzzz");
const QString TNewsItem::NewsFileName = QStringLiteral("VL_NewsRTF.tmp");

TNewsItem::TNewsItem(const pugi::xml_node& NewsNode) : FNewsNode(NewsNode), FNewsDate(EmptyNewsDate) {}

TNewsItem::TNewsItem(const QString& OldNewsFile) : FOldNewsFile(OldNewsFile), FNewsDate(EmptyNewsDate) {}

const QStringList& TNewsItem::ChoiceTexts()
{
    static const QStringList texts = {
        QStringLiteral("Morgen noch einmal anzeigen."),
        QStringLiteral("Übermorgen noch einmal anzeigen."),
        QStringLiteral("In einer Woche noch einmal anzeigen."),
        QStringLiteral("Nicht wieder anzeigen."),
    };
    return texts;
}

void TNewsItem::ShowModal()
{
    // The general error display stands in for the window's own: the news step goes on, and the
    // person sees what could be loaded.
    try {
        FormShow();
    } catch (const EVorlandtError& error) {
        ShowErrorBox(error.message());
    } catch (const std::exception& error) {
        ShowErrorBox(QString::fromUtf8(error.what()));
    }
    const int choice = FrontEnd().ShowNews(View());
    try {
        FormClose(choice);
    } catch (const EVorlandtError& error) {
        ShowErrorBox(error.message());
    } catch (const std::exception& error) {
        ShowErrorBox(QString::fromUtf8(error.what()));
    }
}

TNewsView TNewsItem::View() const
{
    TNewsView view;
    view.Datum = FNewsDate;
    platform::TRtfHtmlOptions options;
    options.detectLinks = true;
    view.Html = platform::RtfToHtml(FNewsRtf, options);
    view.PlainText = platform::RtfToPlainText(FNewsRtf);
    view.Choices = ChoiceTexts();
    view.DefaultChoice = DefaultChoice;
    return view;
}

void TNewsItem::FormShow()
{
    FNewsRtf.clear();
    FNewsLoaded = false;
    FNewsDate = EmptyNewsDate;
    FOldNewsDate = QDate();
    if (!FOldNewsFile.isEmpty())
        ShowOldNewsFile();
    else
        ShowNewsNode();
}

void TNewsItem::ShowOldNewsFile()
{
    // A postponed item is shown as the maker's news: only a file this user wrote and nobody else
    // can have changed or given a second name (a hard link to a file another user fills) counts,
    // checked on the open file.
    FNewsRtf = platform::ReadRegularFile(FOldNewsFile, kMaxNewsFileSize, platform::TFileTrust::OwnFile);
    FNewsLoaded = true;

    // The name is the only place that remembers the item's news date.
    const QString name = QFileInfo(FOldNewsFile).fileName();
    const QString head = name.section(u'_', 0, 0);
    const QStringList parts = head.split(u'-');
    if (parts.size() != 3)
        throw EVorlandtError(QStringLiteral("Der Dateiname \"%1\" beginnt nicht mit einem Datum.").arg(name),
                             EVorlandtError::Kind::Convert);
    FNewsDate = parts[2] + u'.' + parts[1] + u'.' + parts[0];
    FOldNewsDate = QDate::fromString(head, QStringLiteral("yyyy-MM-dd"));
}

void TNewsItem::ShowNewsNode()
{
    if (!FNewsNode)
        throw EVorlandtError(QStringLiteral("Kein Update-Node angegeben."));

    const QString path = GetTempDir() + NewsFileName;
    platform::WriteFileAtomically(path, platform::RichTextFileBytes(ItemRtf(FNewsNode)));
    FNewsRtf = platform::ReadRegularFile(path, kMaxNewsFileSize, platform::TFileTrust::NoLinks);
    FNewsLoaded = true;

    const pugi::xml_attribute datum = FNewsNode.attribute("datum");
    if (!datum)
        throw EVorlandtError(QStringLiteral("Die Neuigkeit hat kein Attribut \"datum\"."),
                             EVorlandtError::Kind::Convert);
    FNewsDate = QString::fromUtf8(datum.value());
}

void TNewsItem::FormClose(int choiceIndex)
{
    const QString stored = SaveNewsForLater(choiceIndex);
    if (FOldNewsFile.isEmpty() || stored == FOldNewsFile)
        return;
    // When the copy the user asked for could not be stored, the file stays: it comes back at
    // the next news check today instead of being lost.
    if (FSaveFailed)
        return;
    if (!platform::RemoveName(FOldNewsFile).isEmpty())
        WriteLog(TLogAction::AppendLine, QStringLiteral("FormClose - Datei nicht gelöscht: ") + FOldNewsFile);
}

QString TNewsItem::SaveNewsForLater(int choiceIndex)
{
    FSaveFailed = false;
    const QDateTime now = platform::Clock::now();
    QDate dueDate;
    switch (choiceIndex) {
        case 0:
            dueDate = now.addDays(1).date();
            break;
        case 1:
            dueDate = now.addDays(2).date();
            break;
        case 2:
            dueDate = now.addDays(7).date();
            break;
        default:
            return QString();
    }
    // The text shown is the text stored: nothing read, nothing to postpone, and never a
    // leftover of an earlier item.
    if (!FNewsLoaded)
        return QString();
    const QString dataDir = GetDataDir();
    if (dataDir.isEmpty())
        return QString();

    // A postponed item keeps the date its name carries, whatever the locale makes of the label.
    QDate newsDate = FOldNewsDate;
    if (!newsDate.isValid())
        newsDate = platform::TryStrToDate(FNewsDate).value_or(now.date());

    // Created new, never over something already there: another showing or another user may take
    // the same name between the look and the write.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = GetNewsFileName(dataDir, newsDate, dueDate);
        try {
            // The user's own: nobody else reads it, and nobody else may write it for it to be
            // shown again.
            platform::TAtomicFile file(path, platform::FileModePrivate);
            file.Write(FNewsRtf);
            if (file.CommitNew())
                return path;
        } catch (const EVorlandtError& error) {
            // Half a text would come back as a damaged item; the new file is gone again.
            WriteLog(TLogAction::AppendLine,
                     QStringLiteral("SaveNewsForLater - Fehler beim Speichern von \"%1\": %2")
                         .arg(path, error.message()));
            FSaveFailed = true;
            return QString();
        }
    }
    FSaveFailed = true;
    return QString();
}

QString TNewsItem::GetNewsFileName(const QString& dataDir, const QDate& newsDate, const QDate& dueDate)
{
    const QString stem = dataDir + platform::FormatDateTime(DateInName, newsDate) +
                         platform::FormatDateTime(DateInName, dueDate);
    for (qint64 n = 1;; ++n) {
        const QString path = stem + QString::number(n) + u'_' + NewsFileName;
        if (!NameTaken(path))
            return path;
    }
}

QStringList TNewsItem::GetOldNewsFiles()
{
    const QString dataDir = GetDataDir();
    const QString today = platform::FormatDateTime(DateInName, platform::Clock::now());
    // Any counter: copies numbered 10 and above are due too.
    const QRegularExpression pattern(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}_") +
                                     QRegularExpression::escape(today) + QStringLiteral("[0-9]+_") +
                                     QRegularExpression::escape(NewsFileName) + u'$');
    // Regular files of this user only, with one name and writable by nobody else: a folder, pipe
    // or link under a matching name is none of our copies, another user's file in the shared
    // folder is not ours to show or delete, and a second name of a file is another user's way to
    // put her words where a copy is looked for.
    QStringList names =
        QDir(dataDir).entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    names.removeIf([&pattern, &dataDir](const QString& name) {
        return !pattern.match(name).hasMatch() || !platform::OwnFileProblemAt(dataDir + name).isEmpty();
    });
    // By name, so that the order does not depend on the file system.
    std::sort(names.begin(), names.end());
    QStringList paths;
    paths.reserve(names.size());
    for (const QString& name : names)
        paths.append(dataDir + name);
    return paths;
}
