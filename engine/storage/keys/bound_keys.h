#pragma once
// Bound keys: keys that lie below or above every key of an index, or every
// key that begins with a given prefix, built in place on the layout of the
// context's index (key_context.h). Searches and ranges use them with
// CompareKeys over the same count of bytes.
//
// "Low" and "high" mean the lowest and highest content a byte can hold: 0 and
// 255, except for the characters of a string value in a table with a
// language, whose lowest and highest content are the first and last
// characters of the language's character map (map[0], map[255]). A table
// without a language, and index 31, only ever see 0 and 255.
//
// Every function takes a key of the context's key length; a count beyond it
// is taken as the key length.

#include <cstddef>
#include <cstdint>

#include "engine/storage/keys/key_context.h"

namespace vevura {

//! Keeps the first n bytes and gives the rest its lowest (FillKeyLow) or
//! highest (FillKeyHigh) content. For index 32, n counts from its byte 2:
//! bytes 0 to 2 are kept, the word from byte n + 2 (from byte 3 when n is 0)
//! is filled when n is at most 62, and the row id always is.
void FillKeyLow(const TKeyContext& c, uint8_t* key, size_t n);
void FillKeyHigh(const TKeyContext& c, uint8_t* key, size_t n);

//! A key above every key of the index: present fields with their highest
//! content (and the highest content everywhere else).
void HighestKey(const TKeyContext& c, uint8_t* key);
//! A key below every key of the index: null fields with their lowest content.
void LowestKey(const TKeyContext& c, uint8_t* key);

//! Turns the first n bytes into the smallest prefix above every key that
//! begins with them: the last byte raised by one, carrying to the left over
//! bytes already at their highest content, which become their lowest. In a
//! table with a language a string character is raised to the nearest
//! character of the map that sorts above it whatever follows it (not one
//! that differs only in case), and carries when there is none. When nothing
//! up to byte 0 can be raised, the first n bytes become their highest
//! content. Bytes from n on are left as they are.
void NextKey(const TKeyContext& c, uint8_t* key, size_t n);
//! The mirror image of NextKey: the largest prefix below every key that
//! begins with the first n bytes.
void PriorKey(const TKeyContext& c, uint8_t* key, size_t n);

}  // namespace vevura
