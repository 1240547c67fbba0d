#include "ingestion/jsonlparser.h"
