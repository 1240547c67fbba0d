#include "providers/processcontrol.h"
