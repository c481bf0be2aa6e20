#include "HexImage.h"
