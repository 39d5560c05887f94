/* The project's helper run-time library: C run-time formatting, parsing and
 * file functions behind stable names. Each function takes the parameters
 * and gives the result of the C library function without the "my_" prefix.
 * File handles it returns go back only to it. */
#ifndef TAVRELLE_MYUTIL_H
#define TAVRELLE_MYUTIL_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

int my_vsprintf(char* buffer, const char* format, va_list args);
int my_fprintf(FILE* stream, const char* format, ...);
int my_snprintf(char* buffer, size_t size, const char* format, ...);
FILE* my_fopen(const char* fileName, const char* mode);
long my_ftell(FILE* stream);
size_t my_fread(void* buffer, size_t size, size_t count, FILE* stream);
size_t my_fwrite(const void* buffer, size_t size, size_t count, FILE* stream);
int my_fseek(FILE* stream, long offset, int origin);
int my_fclose(FILE* stream);
char* my_strtok(char* text, const char* delimiters);
long my_strtol(const char* text, char** end, int base);
double my_strtod(const char* text, char** end);

#ifdef __cplusplus
}
#endif

#endif
