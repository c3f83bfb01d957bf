#include "app/mainFrontend.h"
