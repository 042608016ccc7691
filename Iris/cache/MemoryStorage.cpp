#include "Iris/cache/MemoryStorage.h"
