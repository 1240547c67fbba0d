#include "ingestion/sessionstatereducer.h"
