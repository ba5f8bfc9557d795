/** @file
 * Export and version macros shared by every public Tarsel header. */
#ifndef TARSEL_EXPORT_H
#define TARSEL_EXPORT_H

/** Marks a function or object as part of a library's exported surface. The
 * libraries are built with hidden visibility; only names carrying this macro
 * appear in their dynamic symbol tables. */
#if defined(__GNUC__) || defined(__clang__)
#define TARSEL_API __attribute__((visibility("default")))
#else
#define TARSEL_API
#endif

/* Version of the API library (also reported at run time by GetAPIVersion),
 * generated from the project's version. */
#include "tarsel/version.h"

#endif /* TARSEL_EXPORT_H */
