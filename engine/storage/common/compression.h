#pragma once
// Whole-buffer compression with zlib's deflate and inflate stream interface.
//
// Used for compressed whole-file copies (one call per chunk) and for the
// bodies of remote requests and replies. Table data, records and BLOB blocks
// are never compressed. Both routines are stateless and thread-safe.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vevura {

//! Deflates length bytes at input at compression level 9 into a complete zlib
//! stream. Raises VEVURA_COMPRESS on any zlib failure or when memory runs out.
std::vector<uint8_t> CompressBuffer(const uint8_t* input, size_t length);

//! Inflates one complete zlib stream from length bytes at input; bytes after
//! the end of the stream are ignored. Raises VEVURA_UNCOMPRESS for data that
//! is not a zlib stream, a stream that is damaged or ends early, an empty
//! input, or when memory runs out.
std::vector<uint8_t> DecompressBuffer(const uint8_t* input, size_t length);

}  // namespace vevura
