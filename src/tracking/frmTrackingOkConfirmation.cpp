// The consent question of the usage tracking.
#include "tracking/frmTrackingOkConfirmation.h"

#include "services/QtFrontEnd.h"

bool TQtFrontEnd::AskTrackingConsent()
{
    return false;
}
