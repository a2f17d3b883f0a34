/* The C interface of the keyboard library on Linux (libkbdbridge.so), mirroring its class
 * qzCherry: an object created per read, ReadKVK with a time-out, fifteen text properties and
 * the two events CherryError and Error. Plain C so that the library may be written in anything
 * and loaded with dlopen; no C++ exception may cross it.
 *
 * Texts are UTF-8 and NUL-terminated. Strings returned by the library belong to the object and
 * stay valid until the next call on it or its destruction. */
#ifndef QZ_UI_KBDBRIDGE_C_API_H_
#define QZ_UI_KBDBRIDGE_C_API_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The file name the dynamic loader is asked for. */
#define KBDBRIDGE_LIBRARY_NAME "libkbdbridge.so"

typedef struct kbdbridge_qzCherry kbdbridge_qzCherry;

/* Event handlers, called on the caller's thread during ReadKVK. A handler returns 0 when it
 * dealt with the report and nonzero when it raised an error back: the library then ends the read
 * at once and ReadKVK fails. */
typedef int (*kbdbridge_CherryErrorHandler)(void* user, int32_t lngNumber,
                                            const char* strDescription);
typedef int (*kbdbridge_ErrorHandler)(void* user, int32_t errNumber, const char* errSource,
                                      const char* errDescription, const char* strModul,
                                      const char* strProc, const char* strZusatz);

/* A new object, or NULL when it cannot be created. */
kbdbridge_qzCherry* kbdbridge_qzCherry_Create(void);
void kbdbridge_qzCherry_Destroy(kbdbridge_qzCherry* self);

/* Connects the event handlers (either may be NULL) with the pointer passed back to them. */
void kbdbridge_qzCherry_Advise(kbdbridge_qzCherry* self, kbdbridge_CherryErrorHandler onCherryError,
                               kbdbridge_ErrorHandler onError, void* user);

/* Blocks until the card has been read or the reader gives up. The three arguments are by
 * reference: the time-out in milliseconds and two values of the library's own. On return 0 the
 * read's result is in *result (1 = the fields are available, 0 = not); any other return means
 * the call itself failed, and kbdbridge_qzCherry_LastError describes why. */
int kbdbridge_qzCherry_ReadKVK(kbdbridge_qzCherry* self, int32_t* timeoutMs, int32_t* arg2,
                               int32_t* arg3, int* result);

/* The failure of the last call that failed: its number, source and description. */
void kbdbridge_qzCherry_LastError(kbdbridge_qzCherry* self, int32_t* number, const char** source,
                                  const char** description);

/* A text property by its name ("KrankenKassenName", "VersichertenNummer", "VKNR",
 * "VersichertenStatus", "StatusErgaenzung", "Titel", "Vorname", "NamensZusatz", "FamilienName",
 * "Geburtsdatum", "StrassenName", "LaenderCode", "PostLeitzahl", "OrtsName", "Gueltigkeit"), or
 * NULL when the object has no such property. Looked up by name as a script host would, so the
 * interface stays small and new properties need no new symbols. */
const char* kbdbridge_qzCherry_GetProperty(kbdbridge_qzCherry* self, const char* name);

#ifdef __cplusplus
}
#endif

#endif /* QZ_UI_KBDBRIDGE_C_API_H_ */
