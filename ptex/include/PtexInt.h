// Fixed-width integer types used throughout the Ptex API.
#ifndef PtexInt_h
#define PtexInt_h

#include <stdint.h>

#endif
