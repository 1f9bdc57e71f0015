// Everything a game includes.
#pragma once

#include "gamelib/core.h"
#include "gamelib/font.h"
#include "gamelib/graphics.h"
#include "gamelib/softrender.h"
#include "gamelib/sound.h"
#include "gamelib/sound_load.h"
