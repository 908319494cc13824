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
#include "support/c_host.h"

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

  void* lib = OpenLibrary(argv[1]);
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
