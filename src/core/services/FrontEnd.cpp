// The front end in charge, and the default one for processes that never set any: it writes each
// message to stderr, answers with the box's default button and opens documents with xdg-open.
#include "core/services/FrontEnd.h"

#include <QFileInfo>
#include <QProcess>

#include <atomic>
#include <cstdio>

namespace {

int DefaultButton(TMsgDlgButtons buttons)
{
    switch (buttons) {
        case TMsgDlgButtons::mbAbortRetry:
            return mrRetry;
        case TMsgDlgButtons::mbYesNo:
            return mrYes;
        case TMsgDlgButtons::mbOK:
            break;
    }
    return mrOk;
}

class TDefaultFrontEnd : public TFrontEnd {
public:
    int MessageDialog(const QString& text, TMsgDlgType type, TMsgDlgButtons buttons, int helpContext) override
    {
        const QByteArray line =
            (MessageDialogCaption(type) + QStringLiteral(": ") + text + u'\n').toLocal8Bit();
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stderr);
        std::fflush(stderr);
        return DefaultButton(buttons);
    }

    bool OpenDocument(const QString& fileOrUrl) override
    {
        // An existing file goes by its absolute path, so that a name beginning with "-" can
        // never be taken for an option of xdg-open.
        const QFileInfo info(fileOrUrl);
        const QString target = info.exists() ? info.absoluteFilePath() : fileOrUrl;
        QProcess process;
        process.setProgram(QStringLiteral("xdg-open"));
        process.setArguments({target});
        process.setStandardInputFile(QProcess::nullDevice());
        return process.startDetached();
    }
};

TDefaultFrontEnd& DefaultFrontEnd()
{
    static TDefaultFrontEnd frontEnd;
    return frontEnd;
}

// Set once at start-up (and by tests), read on the user-interface thread; atomic so that a read
// from another thread never sees half a pointer.
std::atomic<TFrontEnd*> currentFrontEnd{nullptr};

}  // namespace

QString MessageDialogCaption(TMsgDlgType type)
{
    switch (type) {
        case TMsgDlgType::mtError:
            return QStringLiteral("Fehler");
        case TMsgDlgType::mtInformation:
            return QStringLiteral("Informationen");
        case TMsgDlgType::mtConfirmation:
            return QStringLiteral(u"Bestätigen");
        case TMsgDlgType::mtWarning:
            break;
    }
    return QStringLiteral("Warnung");
}

int TFrontEnd::ShowNews(const TNewsView& news)
{
    // A terminal breaks lines at LF alone; the CR of each pair would only clutter a redirected log.
    QString plainText = news.PlainText;
    plainText.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QByteArray text =
        (QStringLiteral("Neuigkeit vom ") + news.Datum + u'\n' + plainText + u'\n').toLocal8Bit();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stderr);
    std::fflush(stderr);
    return news.DefaultChoice;
}

TFrontEnd& FrontEnd()
{
    TFrontEnd* frontEnd = currentFrontEnd.load();
    return frontEnd ? *frontEnd : DefaultFrontEnd();
}

TFrontEnd* SetFrontEnd(TFrontEnd* frontEnd)
{
    return currentFrontEnd.exchange(frontEnd);
}

QString DisplayLineBreaks(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n') {
            result.append(c);
            continue;
        }
        // CR LF and LF CR are one break each; the partner of a pair is skipped.
        if (i + 1 < text.size()) {
            const QChar next = text.at(i + 1);
            if ((next == u'\r' || next == u'\n') && next != c) {
                ++i;
            }
        }
        result.append(u'\n');
    }
    return result;
}

QString WithoutControlCharacters(const QString& text)
{
    QString result = text;
    result.removeIf([](QChar c) { return c.category() == QChar::Other_Control && c != u'\n' && c != u'\t'; });
    return result;
}
