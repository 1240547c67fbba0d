#include "handoff/handoffgenerator.h"
