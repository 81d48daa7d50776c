// The local date, which names each run's folder.
#pragma once

#include "platform/platform.h"

using LocalDate = os::LocalDate;

LocalDate ReadLocalDate();
