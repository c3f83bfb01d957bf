// The front end of terminals and scripts.
#pragma once
