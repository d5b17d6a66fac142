#include "CommControl.h"
