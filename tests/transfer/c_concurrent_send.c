/* One of several host processes that share one host folder and one client configuration file:
 * it sends its own package, then checks every package of the round while the others may still be
 * stamping theirs. Arguments: the library, the client configuration file, this process's package,
 * then every package of the round. Exits 0 when the send gave 0, its own check 3 and no check an
 * error; the script that starts the processes looks into the stamped packages. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

#include "VornComClient.h"
#include "support/c_host.h"

int main(int argc, char** argv) {
  int i;
  uint8_t code;
  if (argc < 4) {
    fprintf(stderr, "usage: c_concurrent_send LIBRARY CFGFILE PACKAGE [PACKAGE...]\n");
    return 2;
  }
  void* lib = OpenLibrary(argv[1]);
  SendFileFn SendFile_ = (SendFileFn)Load(lib, "SendFile");
  FileSentFn FileSent_ = (FileSentFn)Load(lib, "FileSent");
  DefineTextFn DefineComCfgFile_ = (DefineTextFn)Load(lib, "DefineComCfgFile");

  DefineComCfgFile_(Text(argv[2]));
  code = SendFile_(Text(argv[3]), 1);
  CHECK(code == 0);
  CHECK(FileSent_(Text(argv[3])) == 3);
  for (i = 4; i < argc; ++i) {
    code = FileSent_(Text(argv[i]));
    CHECK(code == 3 || code == 4);
  }
  if (failed) fprintf(stderr, "%s: %d passed, %d failed\n", argv[3], passed, failed);
  return failed == 0 ? 0 : 1;
}
