// STUB, to be replaced by the Windows process list (a Toolhelp snapshot): until then the list
// cannot be read, which the busy check treats as it treats an unreadable /proc.
#include "core/platform/desktop/ProcessList.h"

namespace platform {

ProcessList ProcessList::Read(const QString&)
{
    return ProcessList({}, false);
}

}  // namespace platform
