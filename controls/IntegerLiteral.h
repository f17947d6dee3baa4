#pragma once
// The program's one syntax for 32-bit integer literals, used by the integer
// edit fields, the command editor and the settings files:
//
//   optional leading blanks (spaces or tabs), then either
//   - decimal digits with an optional sign + or - in front, within the 32-bit
//     signed range, or
//   - one of the prefixes $, x, X, 0x or 0X followed by one to eight
//     hexadecimal digits of either case (no sign); the digits are the 32-bit
//     pattern, so $FFFFFFFF is -1.
//   Nothing may follow, not even a blank. An empty text, a prefix without
//   digits and a sign before a prefix are not literals.
#include <QString>

#include <cstdint>
#include <optional>

std::optional<int32_t> ParseIntegerLiteral(const QString& text);
