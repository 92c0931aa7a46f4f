#pragma once
// Moved to the shared test support.
#include "support/CliProcess.h"
#include "support/TonePlayer.h"
