#include "ingestion/filesessionprovider.h"
