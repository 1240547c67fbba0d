#include "core/notificationservice.h"
