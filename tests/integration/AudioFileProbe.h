#pragma once
// Moved to the shared test support.
#include "support/AudioFileProbe.h"
