#pragma once
// Persistence of a token's image: one file in the token's directory, replaced atomically on every
// change (temporary file, fsync, rename, fsync of the directory), so that a crash leaves either the
// old image or the new one, never a mixture. The file ends with a SHA-256 digest of everything
// before it; an image that is truncated, corrupt or of an unknown version is refused as a whole.

#include <string>
#include <vector>

#include "vtoken/applet/token_image.h"

namespace vtoken {

inline constexpr const char* kImageFileName = "token.img";

enum class ImageLoad { Loaded, Missing, Refused };

// Reads the image of `dir` into *image. Missing: the directory holds no image (nothing changed).
// Refused: the file exists but cannot be read or is not a complete, intact image; *error says why
// and *image is left untouched.
ImageLoad LoadImage(const std::string& dir, TokenImage* image, std::string* error);

// Writes the image of `dir` atomically. Returns false and fills *error on failure; the previous
// image then stays in place.
bool SaveImage(const std::string& dir, const TokenImage& image, std::string* error);

// The byte form of an image, and its parser (false on any defect). Exposed for tests and fuzzing.
std::vector<uint8_t> SerializeImage(const TokenImage& image);
bool ParseImage(const std::vector<uint8_t>& bytes, TokenImage* image, std::string* error);

} // namespace vtoken
