// The application object.
#pragma once
