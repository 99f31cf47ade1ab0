#include "resedit/tests/support.h"
