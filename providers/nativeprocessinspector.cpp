#include "providers/nativeprocessinspector.h"
