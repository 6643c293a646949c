#include "engine/storage/common/scramble.h"

#include "engine/base/engine_error.h"
#include "engine/storage/common/trim.h"

namespace vevura {

void ScrambleBytes(uint8_t* buffer, size_t length, uint8_t rising, uint8_t falling) {
  if ((length & 0xFFFF) == 0) return;
  for (size_t i = 0; i < length; ++i) {
    buffer[i] ^= static_cast<uint8_t>(rising ^ falling);
    ++rising;
    --falling;
  }
}

void UnscrambleBytes(uint8_t* buffer, size_t length, uint8_t rising, uint8_t falling) {
  ScrambleBytes(buffer, length, rising, falling);
}

std::string ScrambleHeaderText(std::string text) {
  ScrambleRun(reinterpret_cast<uint8_t*>(text.data()), text.size(), kPasswordSeeds);
  return text;
}

void CheckNewTablePassword(const std::string& password, const std::string& table) {
  size_t length = TrimText(password).size();
  if (length == 0 || length > kMaxPasswordLength) RaiseTableError(VEVURA_INVALIDPASSWORD, table);
}

std::string PasswordToStore(const std::string& password) {
  if (password.size() <= kMaxPasswordLength) return password;
  return TrimText(password).substr(0, kMaxPasswordLength);
}

void CheckTablePassword(const std::string& password, const TKnownPassword& known,
                        const TPasswordRequest& request, const std::string& table) {
  while (!known || !known(password)) {
    if (!request || !request()) RaiseTableError(VEVURA_NOTSUFFTABLERIGHTS, table);
  }
}

}  // namespace vevura
