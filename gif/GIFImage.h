#pragma once
// The GIF image library: every public name of the unit.
#include "gif/AppExtensions.h"
#include "gif/ColorMap.h"
#include "gif/Dib.h"
#include "gif/Extensions.h"
#include "gif/Frame.h"
#include "gif/Image.h"
#include "gif/Items.h"
#include "gif/LzwDecoder.h"
#include "gif/LzwEncoder.h"
#include "gif/Utils.h"
