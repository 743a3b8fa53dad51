// Whether the router is in flagged state: read once, before main runs.
#pragma once

#include <cstdint>

extern uint8_t flaggedState;
