#include "core/notifier.h"
