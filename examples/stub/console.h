/* Output: UTF-16 to a console, UTF-8 when redirected. */
#ifndef CONSOLE_H
#define CONSOLE_H

#include <wchar.h>

/* printf-style (Microsoft runtime conventions: %ls for strings). */
void con_out(const wchar_t* fmt, ...);
void con_err(const wchar_t* fmt, ...);

#endif
