#include "ingestion/fseventwatcher.h"
