/* A host built only against the installed files: the header, the library and either the CMake
 * package or the pkg-config file. It prints the header's version, the last connection (none in
 * a fresh process) and FileSent's answer for each package named on the command line. */
#include <VornComClient.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
  unsigned char host[256] = {0};
  int32_t port = -1;
  GetComLastConnectionInfo(host, 255, &port);
  printf("VornComClient %d.%d.%d\n", VORNCOM_VERSION_MAJOR, VORNCOM_VERSION_MINOR,
         VORNCOM_VERSION_PATCH);
  printf("last connection: '%.*s' port %d\n", host[0], (const char*)host + 1, (int)port);
  for (int i = 1; i < argc; ++i) {
    unsigned char path[256];
    const size_t length = strlen(argv[i]);
    if (length > 255) return 2;
    path[0] = (unsigned char)length;
    memcpy(path + 1, argv[i], length);
    printf("FileSent: %d\n", FileSent(path));
  }
  return 0;
}
