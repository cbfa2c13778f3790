#pragma once
// Printing file names, which are bytes and need not be valid UTF-8, so that
// a script can recover every byte.
//
// JSON strings: valid UTF-8 passes through unchanged (with the escapes JSON
// requires for '"', '\' and control characters); each byte that is not part
// of a valid UTF-8 sequence is written as \udcXX, XX being the byte in hex
// (0x80..0xff). This is the "surrogate escape" convention: in Python,
// os.fsencode(json.loads(text)["files"][0]) gives back the exact bytes.
//
// Text output: valid UTF-8 passes through unchanged, a backslash is written
// as \\, and every invalid or control byte as \xHH.

#include <string>

std::string JsonString(const std::string& bytes);
std::string DisplayName(const std::string& bytes);
