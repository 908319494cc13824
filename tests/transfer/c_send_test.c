/* One real send, receive and status query through the C exports of the dlopen'd library, with
 * no display and no user (VORNCOM_UNATTENDED=1, no QT_QPA_PLATFORM). Arguments: the library, a
 * package that passes the check, the port of a running vorncom-server on 127.0.0.1 that serves
 * "resposta.zlk" (100 bytes) for download. Prints "N passed, N failed". */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "VornComClient.h"

typedef uint8_t (*SendFileFn)(const unsigned char*, uint8_t);
typedef uint8_t (*FileSentFn)(const unsigned char*);
typedef uint8_t (*GetFileFn)(const unsigned char*, VARIANT*);
typedef uint8_t (*GetFormStatusFn)(const unsigned char*, const unsigned char*, uint8_t*);
typedef void (*GetComLastConnectionInfoFn)(unsigned char*, int32_t, int32_t*);
typedef void (*DefineComServerFn)(const unsigned char*, int32_t, uint8_t);

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

/* A length-prefixed text; the arguments here are ASCII, which Windows-1252 shares. */
static unsigned char* Text(const char* s) {
  static unsigned char buffers[4][256];
  static int next;
  unsigned char* t = buffers[next++ % 4];
  size_t n = strlen(s);
  if (n > 255) n = 255;
  t[0] = (unsigned char)n;
  memcpy(t + 1, s, n);
  return t;
}

static void* Load(void* lib, const char* name) {
  void* f = dlsym(lib, name);
  if (!f) {
    fprintf(stderr, "missing export %s\n", name);
    exit(2);
  }
  return f;
}

int main(int argc, char** argv) {
  char base[] = "/tmp/vorncom-c-send-XXXXXX";
  char registry[512], local[512];
  unsigned char host[256];
  int32_t last_port = 0;
  uint8_t status = 99;
  VARIANT info;
  struct stat st;

  if (argc < 4) {
    fprintf(stderr, "usage: c_send_test LIBRARY PACKAGE PORT\n");
    return 2;
  }
  if (!mkdtemp(base)) return 2;
  snprintf(registry, sizeof registry, "%s/registry", base);
  setenv("VORNCOM_BASE_DIR", base, 1);
  setenv("VORNCOM_REGISTRY", registry, 1);
  setenv("VORNCOM_UNATTENDED", "1", 1);
  unsetenv("QT_QPA_PLATFORM");

  void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!lib) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return 2;
  }
  SendFileFn SendFile_ = (SendFileFn)Load(lib, "SendFile");
  FileSentFn FileSent_ = (FileSentFn)Load(lib, "FileSent");
  GetFileFn GetFile_ = (GetFileFn)Load(lib, "GetFile");
  GetFormStatusFn GetFormStatus_ = (GetFormStatusFn)Load(lib, "GetFormStatus");
  GetComLastConnectionInfoFn LastInfo =
      (GetComLastConnectionInfoFn)Load(lib, "GetComLastConnectionInfo");
  DefineComServerFn DefineComServer_ = (DefineComServerFn)Load(lib, "DefineComServer");

  DefineComServer_(Text("127.0.0.1"), atoi(argv[3]), 1);
  CHECK(FileSent_(Text(argv[2])) == 4);
  CHECK(SendFile_(Text(argv[2]), 1) == 0);
  CHECK(FileSent_(Text(argv[2])) == 3);
  LastInfo(host, 255, &last_port);
  CHECK(host[0] == 9 && memcmp(host + 1, "127.0.0.1", 9) == 0);
  CHECK(last_port == atoi(argv[3]));
  /* A second send asks whether to show the receipt and sends nothing. */
  CHECK(SendFile_(Text(argv[2]), 1) == 3);

  CHECK(GetFormStatus_(Text("DEC"), Text("1.0"), &status) == 0 && status == 1);

  VornComVariantInit(&info);
  VornComVariantSetArray(&info, 1, 14);
  VornComVariantSetString(VornComVariantArrayAt(&info, 6), "Resposta");
  VornComVariantSetBool(VornComVariantArrayAt(&info, 14), 0);
  CHECK(GetFile_(Text("resposta.zlk"), &info) == 0);
  snprintf(local, sizeof local, "%s/resposta.zlk", base);
  CHECK(stat(local, &st) == 0 && st.st_size == 100);
  CHECK(GetFile_(Text("nao-existe.zlk"), &info) == 7);
  VornComVariantClear(&info);

  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
