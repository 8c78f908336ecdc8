// placeholder until implemented
#include "convert/LineWidthQuery.h"
void queryLineWidthRange(float range[2]) { range[0] = range[1] = 0.0f; }
