#include "providers/opencodeprovider.h"
