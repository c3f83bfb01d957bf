// The target of a field instruction that makes a hyperlink ("HYPERLINK "url" \l "anchor"").
#pragma once

#include <QString>
#include <QStringView>

namespace platform {

// The address a HYPERLINK instruction points to, with its \l anchor as a fragment; empty for
// other instructions and for links that only point inside the document (nothing to open).
// Quoted arguments may use straight or typographic quotes; a backslash inside quotes takes the
// next character literally, as field codes write a backslash in a path.
QString HyperlinkTarget(QStringView instruction);

}  // namespace platform
