#include "update/update_info.h"

UpdateInfoRecord UpdateInfo;
