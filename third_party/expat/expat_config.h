/* Expat's build configuration for the Windows target (MinGW-w64), written
   for zipgraft in place of the one upstream generates with CMake. The
   features match Debian's build of the library that the Linux build uses. */

#ifndef EXPAT_CONFIG_H
#define EXPAT_CONFIG_H 1

/* x86-64: little-endian. */
#define BYTEORDER 1234
#define HAVE_INTTYPES_H 1
#define HAVE_MEMORY_H 1
#define HAVE_STDINT_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRING_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_SYS_TYPES_H 1
#define STDC_HEADERS 1

#define PACKAGE "expat"
#define PACKAGE_BUGREPORT ""
#define PACKAGE_NAME "expat"
#define PACKAGE_STRING "expat 2.8.3"
#define PACKAGE_TARNAME "expat"
#define PACKAGE_URL ""
#define PACKAGE_VERSION "2.8.3"

/* Hash salt entropy: rand_s() on Windows (random_rand_s.c); no other source. */

/* Bytes of context kept around the parse position, as Debian builds it. */
#define XML_CONTEXT_BYTES 1024
/* Parameter entities, general entities and namespaces, as Debian builds it. */
#define XML_DTD 1
#define XML_GE 1
#define XML_NS 1

#endif /* EXPAT_CONFIG_H */
