// Compiled as C++17: the public interface must not need a newer language.
#include <krerrlog/krerrlog.h>

static_assert(__cplusplus >= 201703L && __cplusplus < 202002L, "this check compiles as C++17");
