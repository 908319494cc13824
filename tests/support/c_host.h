/* What the C host tests share: the export signatures, a check counter that ends in
 * "N passed, N failed", length-prefixed texts, loading the library and its symbols.
 * Header-only, for C. */
#ifndef VORNCOM_TESTS_C_HOST_H
#define VORNCOM_TESTS_C_HOST_H

#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "VornComClient.h"

typedef uint8_t (*SendFileFn)(const unsigned char*, uint8_t);
typedef uint8_t (*FileSentFn)(const unsigned char*);
typedef uint8_t (*GetFileFn)(const unsigned char*, VARIANT*);
typedef uint8_t (*GetFormStatusFn)(const unsigned char*, const unsigned char*, uint8_t*);
typedef void (*GetComLastConnectionInfoFn)(unsigned char*, int32_t, int32_t*);
typedef void (*DefineComServerFn)(const unsigned char*, int32_t, uint8_t);
typedef void (*DefineTextFn)(const unsigned char*);
typedef void (*DefineVariantFn)(VARIANT);
typedef void (*PrintComReceiptFn)(const unsigned char*);

static int passed, failed;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (cond) {                                                                \
      ++passed;                                                                \
    } else {                                                                   \
      ++failed;                                                                \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                                          \
  } while (0)

/* A length-prefixed text from Windows-1252 bytes (cut to 255); eight buffers in turn. */
static unsigned char* Text(const char* cp1252) {
  static unsigned char buffers[8][256];
  static int next;
  unsigned char* t = buffers[next++ % 8];
  size_t n = strlen(cp1252);
  if (n > 255) n = 255;
  t[0] = (unsigned char)n;
  memcpy(t + 1, cp1252, n);
  return t;
}

/* The library at `path`, loaded as a desktop host loads it; ends the test when it cannot be. */
static void* OpenLibrary(const char* path) {
  void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    exit(2);
  }
  return lib;
}

/* The export `name` of `lib`; ends the test when it is missing. */
static void* Load(void* lib, const char* name) {
  void* f = dlsym(lib, name);
  if (!f) {
    fprintf(stderr, "missing export %s\n", name);
    exit(2);
  }
  return f;
}

#endif /* VORNCOM_TESTS_C_HOST_H */
