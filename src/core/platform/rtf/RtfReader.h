// Rich text as the windows and the update hand-off use it: the plain text of an RTF description
// for logs and files, and HTML for a text browser. Text that is not RTF is taken as plain text.
#pragma once

#include "core/platform/rtf/RtfDocument.h"
#include "core/platform/rtf/RtfHtml.h"
#include "core/platform/rtf/RtfPlainText.h"

#include <QByteArray>
#include <QString>

namespace platform {

// True when the text starts, after blanks, line ends and a byte-order mark, with "{\rtf".
bool IsRtf(QByteArrayView bytes);
bool IsRtf(QStringView text);

// The bytes an RTF text held as a string stands for: Windows-1252, as RTF is a 7-bit and ANSI
// format. A character that code page cannot hold becomes a \u escape, so it is kept rather
// than turned into "?".
QByteArray RtfBytes(const QString& text);

// RTF as parsed; anything else (after a byte-order mark decides its encoding) one paragraph
// per line.
TRtfDocument ReadRichText(const QByteArray& bytes);

// A rich text saved as a list of lines, the way the windows hand it to the reader through a
// file: each line followed by CR LF, in Windows-1252; rich text keeps a character that code page
// lacks as an RTF escape instead of a "?".
QByteArray RichTextFileBytes(const QString& text);
TRtfDocument ReadRichText(const QString& text);

// Text that is not RTF comes back as it is, with every line end made CR LF.
QString RtfToPlainText(const QByteArray& bytes, const TRtfTextOptions& options = {});
QString RtfToPlainText(const QString& text, const TRtfTextOptions& options = {});

QString RtfToHtml(const QByteArray& bytes, const TRtfHtmlOptions& options = {});
QString RtfToHtml(const QString& text, const TRtfHtmlOptions& options = {});

}  // namespace platform

// The plain text of a rich-text description: paragraphs and line breaks separated by CR LF,
// no line end after the last paragraph (a final \par makes none). The description arrives as
// the descriptor's text.
QString ConvertRTFToText(const QString& RTF);
