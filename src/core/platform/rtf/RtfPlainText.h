// The plain text of a rich-text document as a rich-text control hands it out: paragraphs
// separated by CR LF, line breaks inside a paragraph also as CR LF, tabs kept.
#pragma once

#include "core/platform/rtf/RtfDocument.h"

namespace platform {

struct TRtfTextOptions {
    // A control keeps bullets and numbers out of its text; with this set they lead their
    // paragraph ("• " or the number and a blank), for readers that see only the text.
    bool listMarkers = false;
};

QString RtfDocumentToPlainText(const TRtfDocument& document, const TRtfTextOptions& options = {});

}  // namespace platform
