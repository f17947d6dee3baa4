#pragma once
// Turns the command editor's payload text into the bytes of a packet payload.
//
// The text is a run of elements separated by blanks:
//   - "text"       every character between the quotes is one byte (its
//                  Latin-1 code); no escapes, no terminator. A string may be
//                  followed directly by the next element.
//   - 10.4f, 15F   a single-precision float, four bytes little-endian; the
//                  number is read in the user's locale, with "." accepted as
//                  the decimal separator as well.
//   - 15, 0x0F, $0F, xFF
//                  one byte, written as an integer literal (IntegerLiteral.h)
//                  in 0..255. An element with a hexadecimal prefix is always
//                  an integer, even when its last digit is F.
#include "types.h"

#include <QString>

// Fills `bytes` with the payload of `text` and returns the number of bytes,
// or -1 (with `bytes` empty) when the text does not parse or the payload
// would not fit into one packet. On -1 `failedElement` (when given) holds
// the first element that could not be read, or is empty when the elements
// were fine but too many.
int ParsePayload(const QString& text, TByteArray& bytes, QString* failedElement = nullptr);
