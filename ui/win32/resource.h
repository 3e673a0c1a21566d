#pragma once

// The identifiers of model/resource.h next to the system headers: winuser.h names an obsolete
// cursor IDC_SIZE (IDC_SIZEALL replaced it), which the size field's identifier takes over.
#include <windows.h>

#undef IDC_SIZE
#include "model/resource.h"
