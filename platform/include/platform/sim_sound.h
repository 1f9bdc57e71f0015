// Test controls of the sound device stand-in (included by platform/sim.h).
#pragma once
