#include "providers/cursorprovider.h"
