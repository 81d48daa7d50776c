#include "runtime/clock.h"

LocalDate ReadLocalDate() { return os::Sys().Today(); }
