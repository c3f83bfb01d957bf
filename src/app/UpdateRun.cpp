#include "app/UpdateRun.h"
