#pragma once
// The data-aware controls under the name the layouts use.
#include "platform/ui/DBEdit.h"
#include "platform/ui/DBGrids.h"
