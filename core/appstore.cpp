#include "core/appstore.h"
