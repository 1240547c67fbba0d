#include "pricing/currencyformatter.h"
