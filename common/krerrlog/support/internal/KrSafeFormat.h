// The safe formatter for every caller-supplied format that takes text arguments.
//
// Syntax. The format is copied to the output, except for conversions:
//   %%                       writes one '%'.
//   %[flags][width][.precision][length]conversion
//       flags      any of  - + space # 0
//       width      decimal digits
//       precision  '.' followed by decimal digits (none means 0)
//       length     one of  h hh l ll j z t L q
//       conversion one of  d i o u x X e E f F g G a A c s p n
//   Every conversion, whatever its letter, consumes the next text argument and
//   writes it as text (never interpreted as a number or pointer): the precision
//   cuts it to at most that many bytes, the width pads it with blanks, on the
//   left, or on the right with the '-' flag (the '0' flag pads with blanks too).
//   With a precision, the argument is read no further than that many bytes.
//   A null argument is written as "(null)". A conversion with no argument left
//   writes nothing.
//   A '%' that does not start a complete conversion ("%y", a '*' width, a '%'
//   at the end) is written as it stands, together with the characters that
//   followed it up to the point where the conversion broke off; scanning goes
//   on from that point ("%5%d" writes "%5" and then the argument).
// Limits. Nothing is read past argv[argc - 1] and nothing is written past
//   buffer[size - 1]; the output is always NUL-terminated when size > 0.
// Result. The length of the complete text without its NUL, as snprintf reports
//   it, even when the buffer was too small; negative when format is null,
//   argc is negative, argv is null with argc > 0, buffer is null with a
//   non-zero size, or the complete text would be longer than INT_MAX (the
//   buffer then still holds what fit).
#pragma once

int safe_snprintf_impl(char* buffer, unsigned long size, const char* format, int argc, const char** argv);
