// Symbol visibility of the library. The library is built with hidden visibility;
// only what is marked KRERRLOG_API appears in the exported symbol table.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define KRERRLOG_API __attribute__((visibility("default")))
// Members of exported classes that are the library's own helpers: kept out of
// the exported symbol table.
#define KRERRLOG_LOCAL __attribute__((visibility("hidden")))
#else
#define KRERRLOG_API
#define KRERRLOG_LOCAL
#endif
