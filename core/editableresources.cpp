#include "core/editableresources.h"
