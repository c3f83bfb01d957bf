#include "app/ConsoleFrontEnd.h"
