#pragma once
// Decoding of the base64 body of a PEM text (certificates and keys read from files or the token).

#include <cstddef>

namespace keycore {

// Decodes the body of text[0, length). With "-----" markers the body starts after the second "-----"
// (the end of the BEGIN line) and stops at the next "-----"; without markers the whole text is the body.
// CR, LF and other characters outside the base64 alphabet inside the body are ignored.
//
// Returns n * 3 / 4, where n is the number of base64 characters of the body ("=" included). That is an
// upper bound: the decoded data is up to two bytes shorter (callers take the length from the DER inside),
// and the slack bytes are zeroed. Returns -1 when a first "-----" has no second one; 0 when text or output
// is null, the body is empty or does not start with a base64 character, the base64 is malformed (a length
// that is not a multiple of 4, or misplaced "="), or capacity is below n * 3 / 4. Nothing is read beyond
// text + length; nothing is written beyond output + capacity.
long DecodePemBody(const char* text, size_t length, unsigned char* output, size_t capacity);

} // namespace keycore
