// A stand-in for the suite's feedback tool: writes the arguments its start function receives
// into the file named by VORLANDT_FEEDBACK_RECORD, as "<product>|<number>".
#include <QFile>
#include <QString>

extern "C" __attribute__((visibility("default"))) void initFeedbackInclProduct(const char16_t* product,
                                                                               int number)
{
    QFile record(qEnvironmentVariable("VORLANDT_FEEDBACK_RECORD"));
    if (!record.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    record.write((QString::fromUtf16(product) + u'|' + QString::number(number) + u'\n').toUtf8());
}
