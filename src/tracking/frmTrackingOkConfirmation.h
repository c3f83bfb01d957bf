// The consent question of the usage tracking.
#pragma once
