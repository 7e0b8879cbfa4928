// Placeholder; filled in by the unit that owns it.
#include "Regularexpressionclass.h"
