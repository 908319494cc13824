/*
 * VornComClient.h — the public interface of libVornComClient.
 *
 * A host program loads the library and calls the thirteen functions below. Conventions:
 *
 *  1. Text: the address of a length-prefixed string: one byte holding the length (0..255)
 *     followed by that many Windows-1252 characters. No terminating zero is read. The library
 *     copies the text and never writes to it. A null address counts as the empty text.
 *  2. Text buffer: the address of a caller-owned buffer of (1 + capacity) bytes plus a separate
 *     int32 capacity; the library writes the length byte and at most `capacity` characters.
 *  3. Byte: an 8-bit value; only the low byte is used.
 *  4. Variant: an OLE Automation VARIANT passed by value; variant pointer: the address of a
 *     VARIANT owned by the caller. The library only reads what the host passes and copies what it
 *     keeps. On platforms without OLE Automation this header supplies the layout and small
 *     inline helpers (VornComVariant..., VornComBstr..., VornComSafeArray...) to build values.
 *  5. Functions with a result return an unsigned 8-bit result code (see the table in the
 *     host integration guide, docs/host-integration.md).
 *  6. Calls run on the caller's thread, one at a time, and return when their work (including any
 *     modal window or message) is over. No failure ever crosses this interface.
 *
 * On 32-bit Windows the functions use the standard calling convention and are exported by
 * ordinal 1..13 (VornComClient.def).
 */
#ifndef VORNCOM_CLIENT_H
#define VORNCOM_CLIENT_H

/* The version of the library this header describes. A library with the same major version
 * (the number in its soname, libVornComClient.so.1) serves every host built against it. */
#define VORNCOM_VERSION_MAJOR 1
#define VORNCOM_VERSION_MINOR 3
#define VORNCOM_VERSION_PATCH 0

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <oleauto.h>
#include <windows.h>
#define VORNCOM_CALL __stdcall
#define VORNCOM_API
#else
#define VORNCOM_CALL
#define VORNCOM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- OLE Automation layout for platforms that lack it -------------------------------------- */
#ifndef _WIN32

typedef uint16_t VARTYPE;
typedef uint16_t OLECHAR; /* UTF-16 code unit */
typedef OLECHAR* BSTR;    /* points past a 4-byte byte count; zero-terminated */
typedef int16_t VARIANT_BOOL;
typedef double DATE; /* days since 30 December 1899 */

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000
};

typedef struct tagSAFEARRAYBOUND {
  uint32_t cElements;
  int32_t lLbound;
} SAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
  uint16_t cDims;
  uint16_t fFeatures;
  uint32_t cbElements;
  uint32_t cLocks;
  void* pvData;
  SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;

#define FADF_HAVEVARTYPE 0x0080
#define FADF_BSTR 0x0100
#define FADF_VARIANT 0x0800

typedef struct tagVARIANT VARIANT;
struct tagVARIANT {
  VARTYPE vt;
  uint16_t wReserved1, wReserved2, wReserved3;
  union {
    int64_t llVal;
    int32_t lVal;
    uint8_t bVal;
    int16_t iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    int32_t scode;
    int64_t cyVal;
    DATE date;
    BSTR bstrVal;
    void* punkVal;
    SAFEARRAY* parray;
    VARIANT* pvarVal;
    void* byref;
    int8_t cVal;
    uint16_t uiVal;
    uint32_t ulVal;
    uint64_t ullVal;
    int32_t intVal;
    uint32_t uintVal;
    struct {
      void* pvRecord;
      void* pRecInfo;
    } brecVal;
  };
};

/* Same size as on 64-bit Windows: 8 bytes of header, 16 of value. */
typedef char vorncom_variant_size_check[(sizeof(VARIANT) == 8 + 2 * sizeof(void*)) ? 1 : -1];

/* ---- Inline helpers (not exported) ---------------------------------------------------------- */

static inline void VornComVariantInit(VARIANT* v) { memset(v, 0, sizeof *v); }

/* A BSTR from UTF-8 text; free with VornComBstrFree (or VornComVariantClear). */
static inline BSTR VornComBstrFromUtf8(const char* utf8) {
  size_t n = strlen(utf8), units = 0, i = 0;
  uint32_t* p;
  BSTR out;
  OLECHAR* w = (OLECHAR*)malloc((n + 1) * sizeof(OLECHAR));
  if (!w) return NULL;
  while (i < n) {
    uint32_t cp;
    unsigned char c = (unsigned char)utf8[i];
    int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : 3;
    cp = extra == 0 ? c : extra == 1 ? (c & 0x1Fu) : extra == 2 ? (c & 0x0Fu) : (c & 0x07u);
    for (i++; extra > 0 && i < n; --extra, ++i) cp = (cp << 6) | ((unsigned char)utf8[i] & 0x3Fu);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      w[units++] = (OLECHAR)(0xD800 + (cp >> 10));
      w[units++] = (OLECHAR)(0xDC00 + (cp & 0x3FF));
    } else {
      w[units++] = (OLECHAR)cp;
    }
  }
  p = (uint32_t*)malloc(sizeof(uint32_t) + (units + 1) * sizeof(OLECHAR));
  if (!p) {
    free(w);
    return NULL;
  }
  p[0] = (uint32_t)(units * sizeof(OLECHAR));
  out = (BSTR)(p + 1);
  memcpy(out, w, units * sizeof(OLECHAR));
  out[units] = 0;
  free(w);
  return out;
}

static inline uint32_t VornComBstrByteLength(BSTR s) { return s ? ((uint32_t*)s)[-1] : 0; }

static inline void VornComBstrFree(BSTR s) {
  if (s) free(((uint32_t*)s) - 1);
}

/* A one-dimensional array of VT_VARIANT or VT_UI1 elements with bounds lower..lower+count-1,
   elements zeroed (empty variants). Free with VornComSafeArrayDestroy. */
static inline SAFEARRAY* VornComSafeArrayCreateVector(VARTYPE vt, int32_t lower, uint32_t count) {
  SAFEARRAY* a;
  size_t size = vt == VT_VARIANT ? sizeof(VARIANT) : vt == VT_UI1 ? 1 : 0;
  if (size == 0) return NULL;
  a = (SAFEARRAY*)calloc(1, sizeof(SAFEARRAY));
  if (!a) return NULL;
  a->cDims = 1;
  a->fFeatures = (uint16_t)(vt == VT_VARIANT ? FADF_VARIANT | FADF_HAVEVARTYPE : FADF_HAVEVARTYPE);
  a->cbElements = (uint32_t)size;
  a->rgsabound[0].cElements = count;
  a->rgsabound[0].lLbound = lower;
  a->pvData = calloc(count ? count : 1, size);
  if (!a->pvData) {
    free(a);
    return NULL;
  }
  return a;
}

/* The element at `index` (within the bounds), or NULL. */
static inline void* VornComSafeArrayElement(SAFEARRAY* a, int32_t index) {
  int64_t offset;
  if (!a || a->cDims != 1) return NULL;
  offset = (int64_t)index - a->rgsabound[0].lLbound;
  if (offset < 0 || offset >= (int64_t)a->rgsabound[0].cElements) return NULL;
  return (char*)a->pvData + offset * a->cbElements;
}

static inline void VornComVariantClear(VARIANT* v);

static inline void VornComSafeArrayDestroy(SAFEARRAY* a) {
  uint32_t i;
  if (!a) return;
  if (a->fFeatures & FADF_VARIANT) {
    for (i = 0; i < a->rgsabound[0].cElements; ++i) {
      VornComVariantClear((VARIANT*)((char*)a->pvData + (size_t)i * a->cbElements));
    }
  }
  free(a->pvData);
  free(a);
}

/* Frees what the variant owns (BSTR, array) and leaves it empty. */
static inline void VornComVariantClear(VARIANT* v) {
  if (!v) return;
  if (v->vt == VT_BSTR) VornComBstrFree(v->bstrVal);
  if ((v->vt & VT_ARRAY) && !(v->vt & VT_BYREF)) VornComSafeArrayDestroy(v->parray);
  VornComVariantInit(v);
}

static inline void VornComVariantSetNull(VARIANT* v) {
  VornComVariantClear(v);
  v->vt = VT_NULL;
}

static inline void VornComVariantSetInt(VARIANT* v, int32_t value) {
  VornComVariantClear(v);
  v->vt = VT_I4;
  v->lVal = value;
}

static inline void VornComVariantSetDouble(VARIANT* v, double value) {
  VornComVariantClear(v);
  v->vt = VT_R8;
  v->dblVal = value;
}

static inline void VornComVariantSetBool(VARIANT* v, int value) {
  VornComVariantClear(v);
  v->vt = VT_BOOL;
  v->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

static inline void VornComVariantSetDate(VARIANT* v, DATE value) {
  VornComVariantClear(v);
  v->vt = VT_DATE;
  v->date = value;
}

/* Returns 0 when memory ran out (the variant is then empty). */
static inline int VornComVariantSetString(VARIANT* v, const char* utf8) {
  VornComVariantClear(v);
  v->bstrVal = VornComBstrFromUtf8(utf8);
  if (!v->bstrVal) return 0;
  v->vt = VT_BSTR;
  return 1;
}

/* Makes `v` a variant array lower..lower+count-1 of empty elements; returns the array or NULL. */
static inline SAFEARRAY* VornComVariantSetArray(VARIANT* v, int32_t lower, uint32_t count) {
  VornComVariantClear(v);
  v->parray = VornComSafeArrayCreateVector(VT_VARIANT, lower, count);
  if (v->parray) v->vt = VT_ARRAY | VT_VARIANT;
  return v->parray;
}

/* The element `index` of a variant array held by `v`, or NULL outside the bounds. */
static inline VARIANT* VornComVariantArrayAt(VARIANT* v, int32_t index) {
  if (!v || v->vt != (VT_ARRAY | VT_VARIANT)) return NULL;
  return (VARIANT*)VornComSafeArrayElement(v->parray, index);
}

#endif /* !_WIN32 */

/* ---- The thirteen exports ------------------------------------------------------------------- */

/* 1. Sends a form package: checks the server settings (27), the package's existence (7) and the
   free space of the file system holding it (24), then runs the transfer window. `close_after_send`
   non-zero closes the window at the end instead of offering the receipt. */
VORNCOM_API uint8_t VORNCOM_CALL SendFile(const unsigned char* package_path,
                                          uint8_t close_after_send);

/* 2. Whether the package already holds a protocol record: 3 yes, 4 no (also for a file that is no
   package), 16, 19, 20, 21 on failures (each shown as an error message). */
VORNCOM_API uint8_t VORNCOM_CALL FileSent(const unsigned char* package_path);

/* 3. Downloads `file_name` from the reception server. `client_info` must hold a variant array
   whose upper bound is 14 (else 28). */
VORNCOM_API uint8_t VORNCOM_CALL GetFile(const unsigned char* file_name, VARIANT* client_info);

/* 4. Asks whether the server takes the form type and version now; writes the form's status byte
   to `*status` on the outcomes that define one. 27 and 29 come without a message. */
VORNCOM_API uint8_t VORNCOM_CALL GetFormStatus(const unsigned char* form_type,
                                               const unsigned char* form_version, uint8_t* status);

/* 5. Host name (text buffer of `capacity` characters) and port of the last connection made. */
VORNCOM_API void VORNCOM_CALL GetComLastConnectionInfo(unsigned char* host, int32_t capacity,
                                                       int32_t* port);

/* 6-12. Settings; they never fail and never show a message. */
VORNCOM_API void VORNCOM_CALL DefineComServer(const unsigned char* server, int32_t port,
                                              uint8_t fixed_server);
VORNCOM_API void VORNCOM_CALL DefineComCfgFile(const unsigned char* path);
/* Elements 1..8 of a 14-element array are copied; element 14 may name the document-type message
   table, in which the request message for (element 12, element 6) is looked up. */
VORNCOM_API void VORNCOM_CALL DefineComProtocolData(VARIANT data);
VORNCOM_API void VORNCOM_CALL DefineComInstitutionName(const unsigned char* name);
VORNCOM_API void VORNCOM_CALL DefineComInstitutionLogo(const unsigned char* path);
VORNCOM_API void VORNCOM_CALL DefineComHelpFile(const unsigned char* path);
/* A 12-element array of footer lines (1..12), or Null to restore the default lines. */
VORNCOM_API void VORNCOM_CALL DefineComReceiptFooter(VARIANT lines);

/* 13. Previews (and lets the user print) the transmission receipt of `package_path`, or of the
   protocol data last defined when the path is empty. */
VORNCOM_API void VORNCOM_CALL PrintComReceipt(const unsigned char* package_path);

#ifdef __cplusplus
}
#endif

#endif /* VORNCOM_CLIENT_H */
