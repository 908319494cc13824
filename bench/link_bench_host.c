/* The host side of link_bench: one SendFile or GetFile through the exports of the dlopen'd
 * library, in a process of its own so that its peak memory is the client's alone. The caller sets
 * the environment (VORNCOM_UNATTENDED, QT_QPA_PLATFORM, VORNCOM_BASE_DIR, VORNCOM_TLS_CA).
 * Arguments: LIBRARY send|get PACKAGE-OR-FILE-NAME PORT. Prints
 * "result=N seconds=S vmhwm_kib=K", the time being that of the call alone. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "VornComClient.h"
#include "support/c_host.h"

static long PeakResidentKib(void) {
  char line[256];
  long kib = -1;
  FILE* status = fopen("/proc/self/status", "r");
  if (!status) return -1;
  while (fgets(line, sizeof line, status))
    if (sscanf(line, "VmHWM: %ld kB", &kib) == 1) break;
  fclose(status);
  return kib;
}

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
  if (argc < 5) {
    fprintf(stderr, "usage: link_bench_host LIBRARY send|get PACKAGE-OR-NAME PORT\n");
    return 2;
  }
  (void)passed; /* c_host.h's check counters: this host checks nothing */
  (void)failed;
  void* lib = OpenLibrary(argv[1]);
  DefineComServerFn DefineComServer_ = (DefineComServerFn)Load(lib, "DefineComServer");
  DefineComServer_(Text("127.0.0.1"), atoi(argv[4]), 1);

  uint8_t result;
  double start;
  if (strcmp(argv[2], "send") == 0) {
    SendFileFn SendFile_ = (SendFileFn)Load(lib, "SendFile");
    start = Now();
    result = SendFile_(Text(argv[3]), 1);
  } else {
    GetFileFn GetFile_ = (GetFileFn)Load(lib, "GetFile");
    VARIANT info;
    VornComVariantInit(&info);
    VornComVariantSetArray(&info, 1, 14);
    VornComVariantSetString(VornComVariantArrayAt(&info, 6), "Resposta");
    VornComVariantSetBool(VornComVariantArrayAt(&info, 14), 0);
    start = Now();
    result = GetFile_(Text(argv[3]), &info);
    VornComVariantClear(&info);
  }
  const double seconds = Now() - start;
  printf("result=%d seconds=%.6f vmhwm_kib=%ld\n", result, seconds, PeakResidentKib());
  return result == 0 ? 0 : 1;
}
