// Tokenising of a field instruction: a keyword, then arguments and switches.
#include "core/platform/rtf/RtfField.h"

namespace platform {

namespace {

bool IsOpeningQuote(QChar c)
{
    return c == u'"' || c == u'\u201C' || c == u'\u201D' || c == u'\u201E';
}

bool IsClosingQuote(QChar c)
{
    return c == u'"' || c == u'\u201C' || c == u'\u201D';
}

class TInstructionReader {
public:
    explicit TInstructionReader(QStringView text) : FText(text) {}

    bool atEnd()
    {
        skipSpace();
        return FPos >= FText.size();
    }

    bool atSwitch()
    {
        skipSpace();
        return FPos < FText.size() && FText[FPos] == u'\\';
    }

    // The letter of a switch ("\l" gives 'l'), the position left after it.
    QChar readSwitch()
    {
        FPos += 1;
        if (FPos >= FText.size())
            return QChar();
        const QChar letter = FText[FPos].toLower();
        while (FPos < FText.size() && !FText[FPos].isSpace())
            ++FPos;
        return letter;
    }

    QString readArgument()
    {
        skipSpace();
        QString result;
        if (FPos < FText.size() && IsOpeningQuote(FText[FPos])) {
            ++FPos;
            while (FPos < FText.size() && !IsClosingQuote(FText[FPos])) {
                if (FText[FPos] == u'\\' && FPos + 1 < FText.size())
                    ++FPos;
                result.append(FText[FPos++]);
            }
            ++FPos;  // the closing quote, or past the end when it is missing
            return result;
        }
        while (FPos < FText.size() && !FText[FPos].isSpace() && !IsOpeningQuote(FText[FPos]))
            result.append(FText[FPos++]);
        return result;
    }

private:
    void skipSpace()
    {
        while (FPos < FText.size() && FText[FPos].isSpace())
            ++FPos;
    }

    QStringView FText;
    qsizetype FPos = 0;
};

}  // namespace

QString HyperlinkTarget(QStringView instruction)
{
    TInstructionReader reader(instruction);
    if (reader.atEnd() || reader.readArgument().compare(u"HYPERLINK", Qt::CaseInsensitive) != 0)
        return QString();
    QString address;
    QString anchor;
    bool haveAddress = false;
    while (!reader.atEnd()) {
        if (reader.atSwitch()) {
            const QChar letter = reader.readSwitch();
            if (letter == u'l')
                anchor = reader.readArgument();
            else if (letter == u'o' || letter == u't')
                reader.readArgument();  // tooltip and target frame: nothing to show here
            continue;
        }
        const QString argument = reader.readArgument();
        if (!haveAddress) {
            address = argument.trimmed();
            haveAddress = true;
        }
    }
    if (address.isEmpty())
        return QString();
    if (!anchor.isEmpty())
        address += u'#' + anchor;
    return address;
}

}  // namespace platform
