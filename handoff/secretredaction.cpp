#include "handoff/secretredaction.h"
