#pragma once
// A small reader for one DER header (tag and length), used when attribute values that hold DER
// encodings are compared.

#include <cstddef>

// Reads the header at der (derLen bytes) and returns the content length, or -1 when the header is
// malformed or the content would run past derLen. Rejected: null input, fewer than 2 bytes,
// high tag numbers (low five tag bits all ones), the indefinite length 0x80, long forms with more
// than 4 length bytes or a value above 0x7fffffff. Each output may be null; on success
// pClass = tag & 0xC0, pConstructed = tag & 0x20, pTag = tag & 0x1F, ppContent points just past
// the header and pContentLen receives the length. On failure the outputs are left unchanged.
long myasn1_get_object(const unsigned char* der, long derLen, int* pClass, int* pConstructed, int* pTag,
                       const unsigned char** ppContent, long* pContentLen);
