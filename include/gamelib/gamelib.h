// Everything a game includes.
#pragma once

#include "gamelib/core.h"
