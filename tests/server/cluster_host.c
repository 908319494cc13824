/* One client of the cluster test: sends its packages one after another through the library and
 * writes "CODE PATH" for each, as soon as it is known, to standard output. A send that fails is
 * reported, not retried: the driver sends it again later, as a user would; like a user reading
 * the error, the host waits a while before its next send. Exits 1 when a package sent with 0
 * does not say it was sent (FileSent 3).
 * Arguments: the library, the client configuration file, the wait after a failure in
 * milliseconds, the packages. */
#define _GNU_SOURCE
#include <stdio.h>
#include <time.h>

#include "VornComClient.h"
#include "support/c_host.h"

int main(int argc, char** argv) {
  int i;
  if (argc < 5) {
    fprintf(stderr, "usage: cluster_host LIBRARY CFGFILE PAUSE_MS PACKAGE...\n");
    return 2;
  }
  void* lib = OpenLibrary(argv[1]);
  SendFileFn SendFile_ = (SendFileFn)Load(lib, "SendFile");
  FileSentFn FileSent_ = (FileSentFn)Load(lib, "FileSent");
  DefineTextFn DefineComCfgFile_ = (DefineTextFn)Load(lib, "DefineComCfgFile");

  const long pause_ms = atol(argv[3]);
  const struct timespec pause = {pause_ms / 1000, (pause_ms % 1000) * 1000000};

  DefineComCfgFile_(Text(argv[2]));
  for (i = 4; i < argc; ++i) {
    const int code = SendFile_(Text(argv[i]), 1);
    if (code == 0) CHECK(FileSent_(Text(argv[i])) == 3);
    printf("%d %s\n", code, argv[i]);
    fflush(stdout);
    if (code != 0) nanosleep(&pause, NULL);
  }
  if (failed) fprintf(stderr, "%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
