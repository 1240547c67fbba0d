#include "core/sessionhistory.h"
