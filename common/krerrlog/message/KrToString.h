// __ToString__: one argument of the message formatting families, as text.
// Built from a string it refers to that string (a null string reads as an
// empty text); built from an integer it holds the decimal digits itself, so
// converting an argument never allocates. Everything is inline: callers
// convert their arguments without calling into the library.
#pragma once

#include <type_traits>

struct __ToString__ {
    const char* text;
    char buffer[40];

    __ToString__(const char* s) : text(s), buffer{} {}

    template <typename Integer, typename std::enable_if<std::is_integral<Integer>::value, int>::type = 0>
    __ToString__(Integer value) : text(nullptr)
    {
        // bool has no unsigned counterpart; it reads as 0 or 1.
        using Unsigned = typename std::make_unsigned<
            typename std::conditional<std::is_same<Integer, bool>::value, unsigned char, Integer>::type>::type;
        const bool negative = value < Integer(0);
        // Negated in the unsigned type: also right for the most negative value.
        unsigned long long magnitude = negative ? static_cast<Unsigned>(Unsigned(0) - static_cast<Unsigned>(value))
                                                : static_cast<Unsigned>(value);
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        int at = 0;
        if (negative) buffer[at++] = '-';
        while (count > 0) buffer[at++] = digits[--count];
        buffer[at] = '\0';
    }

    // The argument's text: never null.
    const char* c_str() const { return text ? text : buffer; }
};

namespace krerrlog {

// True for the argument types of the older in-place form (char** args, int
// count), which keeps those calls, a literal nullptr included, when the
// wrapped-argument templates would otherwise take them as two texts.
template <typename... Args>
struct IsInPlaceArguments : std::false_type {};
template <typename Args, typename Count>
struct IsInPlaceArguments<Args, Count>
    : std::integral_constant<bool, std::is_convertible<typename std::decay<Args>::type, char**>::value &&
                                       std::is_integral<Count>::value> {};

// Wraps each argument and hands body the array of their texts: count 0 and a
// null array when there are none. The wrappers live until body returns.
template <typename Body, typename... Args>
auto WithArgumentTexts(Body&& body, const Args&... args)
{
    if constexpr (sizeof...(Args) == 0) {
        return body(0, static_cast<const char**>(nullptr));
    } else {
        const __ToString__ wrapped[] = {__ToString__(args)...};
        const char* texts[sizeof...(Args)];
        for (unsigned i = 0; i < sizeof...(Args); ++i) texts[i] = wrapped[i].c_str();
        return body(static_cast<int>(sizeof...(Args)), texts);
    }
}

}  // namespace krerrlog
