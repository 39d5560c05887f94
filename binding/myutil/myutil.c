/* Forwards every entry to the C library. Numbers are parsed with the "C"
 * locale whatever the process locale, so that a point is always the decimal
 * separator. */
#define _GNU_SOURCE
#include "myutil.h"

#include <locale.h>
#include <stdlib.h>
#include <string.h>

#define MYUTIL_EXPORT __attribute__((visibility("default")))

MYUTIL_EXPORT int my_vsprintf(char* buffer, const char* format, va_list args) {
  return vsprintf(buffer, format, args);
}

MYUTIL_EXPORT int my_fprintf(FILE* stream, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int written = vfprintf(stream, format, args);
  va_end(args);
  return written;
}

MYUTIL_EXPORT int my_snprintf(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int written = vsnprintf(buffer, size, format, args);
  va_end(args);
  return written;
}

MYUTIL_EXPORT FILE* my_fopen(const char* fileName, const char* mode) {
  return fopen(fileName, mode);
}

MYUTIL_EXPORT long my_ftell(FILE* stream) {
  return ftell(stream);
}

MYUTIL_EXPORT size_t my_fread(void* buffer, size_t size, size_t count, FILE* stream) {
  return fread(buffer, size, count, stream);
}

MYUTIL_EXPORT size_t my_fwrite(const void* buffer, size_t size, size_t count, FILE* stream) {
  return fwrite(buffer, size, count, stream);
}

MYUTIL_EXPORT int my_fseek(FILE* stream, long offset, int origin) {
  return fseek(stream, offset, origin);
}

MYUTIL_EXPORT int my_fclose(FILE* stream) {
  return fclose(stream);
}

MYUTIL_EXPORT char* my_strtok(char* text, const char* delimiters) {
  return strtok(text, delimiters);
}

MYUTIL_EXPORT long my_strtol(const char* text, char** end, int base) {
  return strtol(text, end, base);
}

static locale_t cLocale;

__attribute__((constructor)) static void CreateCLocale(void) {
  cLocale = newlocale(LC_ALL_MASK, "C", (locale_t)0);
}

__attribute__((destructor)) static void FreeCLocale(void) {
  if (cLocale) freelocale(cLocale);
}

MYUTIL_EXPORT double my_strtod(const char* text, char** end) {
  return cLocale ? strtod_l(text, end, cLocale) : strtod(text, end);
}
