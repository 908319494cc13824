/* A host written in C: loads the library with dlopen, as a desktop program does, and calls every
 * export with real argument forms. Runs unattended; prints "N passed, N failed". */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "VornComClient.h"
#include "support/c_host.h"

static void WriteFile(const char* path, const char* contents) {
  FILE* f = fopen(path, "wb");
  if (!f) {
    perror(path);
    exit(2);
  }
  fputs(contents, f);
  fclose(f);
}

int main(int argc, char** argv) {
  char base[] = "/tmp/vorncom-c-host-XXXXXX";
  char path[512], registry[512], config[512];
  void* lib;
  VARIANT v, info;
  unsigned char host[300];
  int32_t port = -7;
  uint8_t status = 99;
  char long_name[300];

  if (argc < 2) {
    fprintf(stderr, "usage: c_host_test LIBRARY\n");
    return 2;
  }
  if (!mkdtemp(base)) return 2;
  /* The library works out its folders and registry at load, so the environment comes first. */
  snprintf(registry, sizeof registry, "%s/registry", base);
  setenv("VORNCOM_BASE_DIR", base, 1);
  setenv("VORNCOM_REGISTRY", registry, 1);
  /* With --dialogs the messages are real Qt dialogs (the test environment makes them answer
     themselves); otherwise they are answered unattended. */
  if (argc > 2 && strcmp(argv[2], "--dialogs") == 0) {
    unsetenv("VORNCOM_UNATTENDED");
  } else {
    setenv("VORNCOM_UNATTENDED", "1", 1);
  }

  lib = OpenLibrary(argv[1]);
  SendFileFn SendFile_ = (SendFileFn)Load(lib, "SendFile");
  FileSentFn FileSent_ = (FileSentFn)Load(lib, "FileSent");
  GetFileFn GetFile_ = (GetFileFn)Load(lib, "GetFile");
  GetFormStatusFn GetFormStatus_ = (GetFormStatusFn)Load(lib, "GetFormStatus");
  GetComLastConnectionInfoFn LastInfo =
      (GetComLastConnectionInfoFn)Load(lib, "GetComLastConnectionInfo");
  DefineComServerFn DefineComServer_ = (DefineComServerFn)Load(lib, "DefineComServer");
  DefineTextFn DefineComCfgFile_ = (DefineTextFn)Load(lib, "DefineComCfgFile");
  DefineVariantFn DefineComProtocolData_ = (DefineVariantFn)Load(lib, "DefineComProtocolData");
  DefineTextFn DefineComInstitutionName_ = (DefineTextFn)Load(lib, "DefineComInstitutionName");
  DefineTextFn DefineComInstitutionLogo_ = (DefineTextFn)Load(lib, "DefineComInstitutionLogo");
  DefineTextFn DefineComHelpFile_ = (DefineTextFn)Load(lib, "DefineComHelpFile");
  DefineVariantFn DefineComReceiptFooter_ = (DefineVariantFn)Load(lib, "DefineComReceiptFooter");
  PrintComReceiptFn PrintComReceipt_ = (PrintComReceiptFn)Load(lib, "PrintComReceipt");

  /* Start-up created the configuration folder next to the host. */
  {
    struct stat st;
    snprintf(path, sizeof path, "%s/Configuracoes", base);
    CHECK(stat(path, &st) == 0 && S_ISDIR(st.st_mode));
  }

  /* No connection yet: empty host, port 0; a negative capacity writes an empty text. */
  memset(host, 0xAA, sizeof host);
  LastInfo(host, 255, &port);
  CHECK(host[0] == 0 && port == 0);
  LastInfo(host, -5, NULL);
  CHECK(host[0] == 0);
  LastInfo(NULL, 10, NULL);

  /* Nothing defined and no configuration file: 27 before the package is looked at. */
  CHECK(SendFile_(Text("/nao/existe.zlk"), 0) == 27);
  CHECK(GetFormStatus_(Text("IRPF"), Text("1.0"), &status) == 27 && status == 99);
  VornComVariantInit(&info);
  CHECK(GetFile_(Text("arquivo.zlk"), &info) == 27);

  /* A server defined: the package check decides; accented Windows-1252 text in the path. */
  DefineComServer_(Text("localhost"), 211, 0);
  CHECK(SendFile_(Text("/nao/existe.zlk"), 0) == 7);
  snprintf(path, sizeof path, "%s/Declara\xE7\xE3o.zlk", base);
  {
    char utf8[512];
    snprintf(utf8, sizeof utf8, "%s/Declaração.zlk", base);
    WriteFile(utf8, "ZELK");
  }
  /* Every check passes; the transfer window finds no header.cfg in the package: 18. */
  CHECK(SendFile_(Text(path), 1) == 18);
  CHECK(SendFile_(NULL, 0) == 7);

  /* Port 0 makes the definition unusable again; an existing configuration file rescues it. */
  DefineComServer_(Text(""), 0, 0);
  snprintf(config, sizeof config, "%s/servidores.cfg", base);
  WriteFile(config, "");
  DefineComCfgFile_(Text(config));
  CHECK(SendFile_(Text("/nao/existe.zlk"), 0) == 7);

  /* GetFormStatus: blanks only is no type. */
  CHECK(GetFormStatus_(Text("   "), Text("1.0"), &status) == 29);
  CHECK(GetFormStatus_(Text("IRPF"), Text(""), &status) == 29);
  CHECK(GetFormStatus_(NULL, NULL, NULL) == 29);

  /* GetFile: the client information must be an array with upper bound 14. */
  CHECK(GetFile_(Text("arquivo.zlk"), NULL) == 28);
  VornComVariantSetInt(&info, 14);
  CHECK(GetFile_(Text("arquivo.zlk"), &info) == 28);
  VornComVariantSetArray(&info, 1, 13);
  CHECK(GetFile_(Text("arquivo.zlk"), &info) == 28);
  VornComVariantSetArray(&info, 1, 14);
  VornComVariantSetString(VornComVariantArrayAt(&info, 1), "Jos\xC3\xA9");
  VornComVariantSetBool(VornComVariantArrayAt(&info, 14), 1);
  /* The configuration file holds no server list and no server is defined: the server settings
   * cannot be loaded (22). */
  CHECK(GetFile_(Text("arquivo.zlk"), &info) == 22);
  /* A variant the library cannot read (a VT_UNKNOWN) is no array either. */
  VornComVariantClear(&info);
  info.vt = VT_UNKNOWN;
  CHECK(GetFile_(Text("arquivo.zlk"), &info) == 28);
  VornComVariantInit(&info);

  /* Settings take texts of every length up to 255, and the variant forms. */
  memset(long_name, 'a', 255);
  long_name[0] = '\xC9'; /* É */
  long_name[255] = 0;
  DefineComInstitutionName_(Text(long_name));
  DefineComInstitutionLogo_(Text("/usr/share/vorncom/logo.bmp"));
  DefineComHelpFile_(Text(""));
  DefineComInstitutionName_(NULL);

  VornComVariantInit(&v); /* SetArray clears what the variant held first */
  VornComVariantSetArray(&v, 1, 14);
  VornComVariantSetString(VornComVariantArrayAt(&v, 1), "pacote.zlk");
  VornComVariantSetDouble(VornComVariantArrayAt(&v, 9), 1234.0);
  VornComVariantSetDate(VornComVariantArrayAt(&v, 4), 37020.5);
  DefineComProtocolData_(v);
  VornComVariantClear(&v);
  DefineComProtocolData_(v); /* empty: ignored */
  VornComVariantSetNull(&v);
  DefineComReceiptFooter_(v); /* Null: default lines */
  VornComVariantSetArray(&v, 1, 6);
  DefineComReceiptFooter_(v); /* short: partial copy */
  VornComVariantClear(&v);
  v.vt = VT_ARRAY | VT_VARIANT; /* array type with no array behind it */
  v.parray = NULL;
  DefineComReceiptFooter_(v);
  DefineComProtocolData_(v);
  VornComVariantInit(&v);

  /* FileSent on something that is no package: 4, silently. */
  CHECK(FileSent_(Text(config)) == 4);
  /* No file at all: the package cannot be searched. */
  CHECK(FileSent_(NULL) == 20);

  /* PrintComReceipt with an empty path and with a package that was never sent. */
  PrintComReceipt_(Text(""));
  PrintComReceipt_(Text(config));
  PrintComReceipt_(NULL);

  LastInfo(host, 5, &port);
  CHECK(host[0] == 0 && port == 0);

  VornComVariantClear(&info);
  dlclose(lib);
  printf("%d passed, %d failed\n", passed, failed);
  {
    char cmd[600];
    snprintf(cmd, sizeof cmd, "rm -rf '%s'", base);
    if (system(cmd) != 0) fprintf(stderr, "could not remove %s\n", base);
  }
  return failed == 0 ? 0 : 1;
}
