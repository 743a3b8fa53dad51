#include "rules/flagged_state.h"

#include "platform/system_library.h"

uint8_t flaggedState = tq::kalmarisMode()->bytes[1];
