// The console front end: texts out, answers in.
#include "console/ConsoleFrontEnd.h"

#include "core/catalog/UpdateList.h"
#include "core/catalog/Updates.h"
#include "core/platform/rtf/RtfReader.h"

#include <QStringList>

namespace {

QString Indented(const QString& text, const QString& indent)
{
    QStringList lines = DisplayLineBreaks(text).split(u'\n');
    while (!lines.isEmpty() && lines.last().trimmed().isEmpty())
        lines.removeLast();
    for (QString& line : lines)
        line = line.isEmpty() ? line : indent + line;
    return lines.join(u'\n');
}

}  // namespace

TConsoleFrontEnd::TConsoleFrontEnd(const TOptions& options, FILE* out, FILE* err, FILE* in)
    : FOptions(options), FOut(out), FErr(err), FIn(in)
{
}

void TConsoleFrontEnd::Print(const QString& text)
{
    const QByteArray bytes = (WithoutControlCharacters(text) + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), FOut);
    std::fflush(FOut);
}

void TConsoleFrontEnd::PrintError(const QString& text)
{
    const QByteArray bytes = (WithoutControlCharacters(text) + u'\n').toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), FErr);
    std::fflush(FErr);
}

std::optional<int> TConsoleFrontEnd::Ask(const QString& question, const QStringList& answers)
{
    for (;;) {
        const QByteArray prompt = (question + u' ').toLocal8Bit();
        std::fwrite(prompt.constData(), 1, static_cast<size_t>(prompt.size()), FOut);
        std::fflush(FOut);
        QByteArray line;
        int c;
        while ((c = std::fgetc(FIn)) != EOF && c != '\n')
            line.append(static_cast<char>(c));
        if (c == EOF && line.isEmpty()) {
            Print(QString());
            return std::nullopt;
        }
        const QString answer = QString::fromLocal8Bit(line).trimmed();
        for (qsizetype i = 0; i < answers.size(); ++i) {
            if (answer.compare(answers[i], Qt::CaseInsensitive) == 0)
                return static_cast<int>(i);
        }
    }
}

int TConsoleFrontEnd::MessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons,
                                    int helpContext)
{
    Print(MessageDialogCaption(type) + QStringLiteral(": ") + DisplayLineBreaks(text));
    switch (buttons) {
        case TMsgDlgButtons::mbOK:
            return mrOk;
        case TMsgDlgButtons::mbAbortRetry: {
            // Without someone to ask, a retry would ask the same question for ever.
            if (!FOptions.Interactive)
                return mrAbort;
            const std::optional<int> answer = Ask(QStringLiteral("[a] Abbrechen, [w] Wiederholen?"),
                                                  {QStringLiteral("a"), QStringLiteral("w")});
            return answer == 1 ? mrRetry : mrAbort;
        }
        case TMsgDlgButtons::mbYesNo: {
            if (!FOptions.Interactive)
                return mrNo;
            const std::optional<int> answer =
                Ask(QStringLiteral("[j] Ja, [n] Nein?"), {QStringLiteral("j"), QStringLiteral("n")});
            return answer == 0 ? mrYes : mrNo;
        }
    }
    return mrCancel;
}

bool TConsoleFrontEnd::OpenDocument(const QString& fileOrUrl)
{
    Print(fileOrUrl);
    return true;
}

int TConsoleFrontEnd::ShowNews(const TNewsView& news)
{
    Print(QStringLiteral("Neuigkeit vom ") + news.Datum);
    Print(Indented(news.PlainText, QString()));
    Print(QString());

    if (!FOptions.Interactive)
        return FOptions.Postpone.value_or(news.DefaultChoice);
    QStringList keys;
    for (qsizetype i = 0; i < news.Choices.size(); ++i) {
        Print(QStringLiteral("  [%1] %2").arg(i).arg(news.Choices[i]));
        keys.append(QString::number(i));
    }
    keys.append(QString());  // Enter keeps the preselected choice
    const std::optional<int> answer = Ask(QStringLiteral("Auswahl [%1]:").arg(news.DefaultChoice), keys);
    return (!answer || *answer == keys.size() - 1) ? news.DefaultChoice : *answer;
}

void TConsoleFrontEnd::ShowProgress(int position, int maximum, const QString& text)
{
    if (!text.isNull())
        PrintError(text);
}

bool TConsoleFrontEnd::ConfirmUpdates(const TUpdates& updates)
{
    ShowPendingUpdates(updates);
    if (!FOptions.Interactive) {
        Print(FOptions.Accept ? QStringLiteral("Updates installieren")
                              : QStringLiteral(u"Keine Updates durchführen"));
        return FOptions.Accept;
    }
    const std::optional<int> answer = Ask(QStringLiteral("Updates installieren? [j] Ja, [n] Nein:"),
                                          {QStringLiteral("j"), QStringLiteral("n")});
    return answer == 0;
}

void TConsoleFrontEnd::ShowPendingUpdates(const TUpdates& updates)
{
    Print(QStringLiteral("Anstehende Updates:"));
    for (const TUpdateListPanel& panel : GroupUpdateList(updates)) {
        Print(QString());
        Print(panel.Modulbezeichnung);
        for (const TUpdateListEntry& entry : panel.Entries) {
            Print(QStringLiteral("  ") + entry.Text);
            const auto node = updates.UpdateDictionary().find(entry.Key);
            if (node == updates.UpdateDictionary().end())
                continue;
            const QString description =
                Indented(ConvertRTFToText(node->second->BeschreibungRTF()), QStringLiteral("    "));
            if (!description.isEmpty())
                Print(description);
        }
    }
    Print(QString());
}
