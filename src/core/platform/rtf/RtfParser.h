// RTF bytes to the document model, for what WordPad, RichEdit and Word write; anything else
// (damaged or hostile files included) still gives the text that can be made out of it.
#pragma once

#include "core/platform/rtf/RtfDocument.h"

#include <QByteArrayView>

namespace platform {

// Never fails and never throws: time is linear in the size of the input, memory bounded by it.
// The paragraph mark of a final \par is no paragraph of its own, as in a rich-text control: the
// text of "{\rtf1 a\par b\par}" has two paragraphs, "a" and "b".
TRtfDocument ParseRtf(QByteArrayView rtf);

}  // namespace platform
