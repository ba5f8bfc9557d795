/* Declarations of the status functions (filled in as they are built). */
#ifndef TARSEL_STATUS_H
#define TARSEL_STATUS_H

#include "tarsel/export.h"
#include "tarsel/motion.h"

#endif /* TARSEL_STATUS_H */
