#pragma once
// Scrambling of encrypted tables and the table password.
//
// An encrypted table keeps its field descriptors, records, BLOB file and index
// file scrambled on disk, each item as one run (a descriptor block, a record,
// a page...) that starts again from its seed pair. The scrambling does not
// depend on the password: it uses two fixed seed pairs of the engine, one for
// table data and one for the password and description characters of the data
// header. Buffers in memory are always plain; callers scramble the copy they
// write and unscramble the bytes they have just read.
//
// The password only guards access: an encrypted table may be used by a
// session that knows its password exactly (case matters).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vevura {

//! Starting values of the rising and the falling byte counter of a run.
struct TSeedPair {
  uint8_t Rising;
  uint8_t Falling;
};

//! Seeds of records, field descriptors, the BLOB file and the index file.
//! Fixed forever: files written with other seeds cannot be read.
inline constexpr TSeedPair kTableDataSeeds{0x5B, 0xC6};
//! Seeds of the password and description characters of the data header.
inline constexpr TSeedPair kPasswordSeeds{0x2D, 0x93};

//! Longest password an encrypted table keeps.
inline constexpr size_t kMaxPasswordLength = 15;

//! Scrambles a run in place: every byte is XOR-ed with both counters, then the
//! rising counter goes up and the falling one down (mod 256). A run whose
//! length has zero low 16 bits (0, 65536, 131072...) is left as it is.
void ScrambleBytes(uint8_t* buffer, size_t length, uint8_t rising, uint8_t falling);
//! The inverse of ScrambleBytes, which is ScrambleBytes itself.
void UnscrambleBytes(uint8_t* buffer, size_t length, uint8_t rising, uint8_t falling);

inline void ScrambleRun(uint8_t* buffer, size_t length, TSeedPair seeds) {
  ScrambleBytes(buffer, length, seeds.Rising, seeds.Falling);
}
inline void UnscrambleRun(uint8_t* buffer, size_t length, TSeedPair seeds) {
  UnscrambleBytes(buffer, length, seeds.Rising, seeds.Falling);
}
//! A copy of text with its characters scrambled (or unscrambled) as one run
//! with the password seed pair, as the data header keeps its password and
//! description.
std::string ScrambleHeaderText(std::string text);

//! Raises VEVURA_INVALIDPASSWORD naming the table unless the password of a new
//! encrypted table is 1 to 15 characters long once blanks and control
//! characters around it are trimmed.
void CheckNewTablePassword(const std::string& password, const std::string& table);
//! The password as a new encrypted table keeps it. REQUIRES: it passed
//! CheckNewTablePassword. The password is kept as given; one longer than 15
//! characters (possible only with blanks around it) is kept trimmed, so that
//! the table can still be opened with the trimmed text.
std::string PasswordToStore(const std::string& password);

//! The session's exact-match test of its known passwords.
using TKnownPassword = std::function<bool(const std::string& password)>;
//! Asks for a password; true when one was supplied (and added to the session's
//! list), false when the user declined.
using TPasswordRequest = std::function<bool()>;

//! Admits a session to an encrypted table whose plain stored password is
//! given: returns once known(password) holds, calling request while it does
//! not; raises VEVURA_NOTSUFFTABLERIGHTS naming the table when the request
//! declines or there is none.
void CheckTablePassword(const std::string& password, const TKnownPassword& known,
                        const TPasswordRequest& request, const std::string& table);

}  // namespace vevura
