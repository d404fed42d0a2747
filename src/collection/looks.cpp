#include "looks.h"
