// The main window.
#pragma once
