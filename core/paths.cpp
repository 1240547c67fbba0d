#include "core/paths.h"
