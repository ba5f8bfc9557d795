/* Declarations of the config functions (filled in as they are built). */
#ifndef TARSEL_CONFIG_H
#define TARSEL_CONFIG_H

#include "tarsel/export.h"
#include "tarsel/motion.h"

#endif /* TARSEL_CONFIG_H */
