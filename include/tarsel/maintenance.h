/* Declarations of the maintenance functions (filled in as they are built). */
#ifndef TARSEL_MAINTENANCE_H
#define TARSEL_MAINTENANCE_H

#include "tarsel/export.h"
#include "tarsel/motion.h"

#endif /* TARSEL_MAINTENANCE_H */
