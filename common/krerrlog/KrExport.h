// Symbol visibility of the library. The library is built with hidden visibility;
// only what is marked KRERRLOG_API appears in the exported symbol table.
#pragma once

#if defined(__GNUC__) || defined(__clang__)
#define KRERRLOG_API __attribute__((visibility("default")))
#else
#define KRERRLOG_API
#endif
