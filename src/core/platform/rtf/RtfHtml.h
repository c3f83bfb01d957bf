// A rich-text document as an HTML fragment for a text browser: paragraphs, lists, character
// formats, sizes, colours and links. Font families stay with the window.
#pragma once

#include "core/platform/rtf/RtfDocument.h"

namespace platform {

struct TRtfHtmlOptions {
    // Addresses written as plain text ("https://...", "www...", "mailto:...") become links too,
    // as a rich-text control with link detection shows them.
    bool detectLinks = false;
};

// Every text of the document is escaped; a link becomes <a href> only for the schemes http,
// https, ftp, mailto and file (and "www." addresses, read as http), any other target stays
// plain text.
QString RtfDocumentToHtml(const TRtfDocument& document, const TRtfHtmlOptions& options = {});

// The address an <a href> may carry for a link target; empty when the target may not be
// opened from a document.
QString SafeLinkTarget(const QString& target);

}  // namespace platform
