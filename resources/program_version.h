/* The program's own version: the window title and the version resource read it from
   here. Plain #defines, so the resource compilers can read this file too. */
#ifndef ORVANTA_PROGRAM_VERSION_H
#define ORVANTA_PROGRAM_VERSION_H

#define ORVANTA_VERSION_MAJOR 1
#define ORVANTA_VERSION_MINOR 0
#define ORVANTA_VERSION_PATCH 0
#define ORVANTA_VERSION_BUILD 0
/* The same four numbers as text; the resource check compares the two. */
#define ORVANTA_VERSION_TEXT "1.0.0.0"

#endif
