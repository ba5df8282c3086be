#include "platform/rtl/SysUtils.h"

#include "platform/rtl/Classes.h"
#include "platform/rtl/Kernel.h"
