#include "pricing/pricingservice.h"
