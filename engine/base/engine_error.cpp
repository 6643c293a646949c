#include "engine/base/engine_error.h"

#include <mutex>
#include <string_view>

#include "engine/base/error_table.h"
#include "platform/os_error.h"

namespace vevura {

//! The error context: the code and last-error numbers of the latest raised
//! error and its seven context strings.
struct TEngineErrorRecord {
  uint16_t ErrorCode = 0;       //!< code of the latest raised error
  int32_t OSErrorCode = 0;      //!< operating system's last error when raised
  int32_t SocketErrorCode = 0;  //!< socket layer's last error when raised
  TEngineErrorContext Strings;  //!< server, user, database, table, field, index, detail
};

namespace {

constexpr size_t kMaxContextLength = 255;
constexpr size_t kMaxTextLength = 254;
constexpr const char* kUnknownErrorText = "An unknown error occurred";
constexpr const char* kMessagePrefix = "VEVURA Engine Error # ";
// No socket layer: remote sessions are never connected.
constexpr int32_t kNoSocketError = 0;

// The lock of the error context. Recursive because the exception is built
// (copying the context under this lock) while RaiseEngineError holds it.
std::recursive_mutex& ErrorContextLock() {
  static auto* lock = new std::recursive_mutex();
  return *lock;
}

// The process-wide error context; never destroyed, so that an error raised
// while the process exits still finds it. Guarded by ErrorContextLock().
TEngineErrorRecord& ErrorContext() {
  static auto* context = new TEngineErrorRecord();
  return *context;
}

TEngineErrorRecord CopyErrorContext() {
  std::lock_guard lock(ErrorContextLock());
  return ErrorContext();
}

std::string CutContextString(const std::string& value) {
  return value.size() > kMaxContextLength ? value.substr(0, kMaxContextLength) : value;
}

void StoreContextStrings(TEngineErrorContext& strings, const std::string& server,
                         const std::string& user, const std::string& database,
                         const std::string& table, const std::string& field,
                         const std::string& index, const std::string& detail) {
  strings.ErrorServer = CutContextString(server);
  strings.ErrorUser = CutContextString(user);
  strings.ErrorDatabase = CutContextString(database);
  strings.ErrorTable = CutContextString(table);
  strings.ErrorField = CutContextString(field);
  strings.ErrorIndex = CutContextString(index);
  strings.ErrorDetail = CutContextString(detail);
}

std::string ArgumentText(TErrorArg arg, const TEngineErrorRecord& record) {
  const TEngineErrorContext& s = record.Strings;
  switch (arg) {
    case eaServer:
      return s.ErrorServer;
    case eaUser:
      return s.ErrorUser;
    case eaDatabase:
      return s.ErrorDatabase;
    case eaTable:
      return s.ErrorTable;
    case eaField:
      return s.ErrorField;
    case eaIndex:
      return s.ErrorIndex;
    case eaDetail:
      return s.ErrorDetail;
    case eaOSError:
      return std::to_string(record.OSErrorCode);
    case eaNone:
      break;
  }
  return std::string();
}

// Fills the markers of the code's text from the record. Markers are taken from
// the text only, so a "%s" inside a context string stays as it is.
std::string FormatErrorText(uint16_t code, const TEngineErrorRecord& record) {
  const TErrorTableEntry* entry = FindErrorTableEntry(code);
  if (entry == nullptr || entry->Text == nullptr) return kUnknownErrorText;
  std::string text;
  size_t next_arg = 0;
  for (std::string_view rest = entry->Text; !rest.empty();) {
    if (rest.starts_with("%s")) {
      if (next_arg < entry->Args.size()) text += ArgumentText(entry->Args[next_arg], record);
      ++next_arg;
      rest.remove_prefix(2);
    } else {
      text += rest.front();
      rest.remove_prefix(1);
    }
  }
  if (text.size() > kMaxTextLength) text.resize(kMaxTextLength);
  return text;
}

std::string EngineErrorMessage(const TEngineErrorRecord& record) {
  return kMessagePrefix + std::to_string(record.ErrorCode) + " " +
         FormatErrorText(record.ErrorCode, record);
}

TEngineErrorRecord ContextForCode(uint16_t code) {
  TEngineErrorRecord record = CopyErrorContext();
  record.ErrorCode = code;
  return record;
}

}  // namespace

EVEVURAEngineError::EVEVURAEngineError(uint16_t code) : EVEVURAEngineError(ContextForCode(code)) {}

EVEVURAEngineError::EVEVURAEngineError(const TEngineErrorRecord& record)
    : EDatabaseError(EngineErrorMessage(record)),
      ErrorCode(record.ErrorCode),
      OSErrorCode(record.OSErrorCode),
      SocketErrorCode(record.SocketErrorCode),
      ErrorServer(record.Strings.ErrorServer),
      ErrorUser(record.Strings.ErrorUser),
      ErrorDatabase(record.Strings.ErrorDatabase),
      ErrorTable(record.Strings.ErrorTable),
      ErrorField(record.Strings.ErrorField),
      ErrorIndex(record.Strings.ErrorIndex),
      ErrorDetail(record.Strings.ErrorDetail) {}

void RaiseEngineError(uint16_t code, const std::string& server, const std::string& user,
                      const std::string& database, const std::string& table,
                      const std::string& field, const std::string& index,
                      const std::string& detail) {
  // Held until the exception leaves this routine, so that concurrent raisers
  // cannot mix their contexts.
  std::lock_guard lock(ErrorContextLock());
  TEngineErrorRecord& context = ErrorContext();
  context = TEngineErrorRecord();
  context.ErrorCode = code;
  context.OSErrorCode = platform::LastOsError();
  context.SocketErrorCode = kNoSocketError;
  StoreContextStrings(context.Strings, server, user, database, table, field, index, detail);
  throw EVEVURAEngineError(code);
}

void RaiseTableError(uint16_t code, const std::string& table) {
  RaiseEngineError(code, "", "", "", table, "", "", "");
}

std::string EngineErrorText(uint16_t code) {
  return FormatErrorText(code, CopyErrorContext());
}

std::string EngineErrorName(uint16_t code) {
  const TErrorTableEntry* entry = FindErrorTableEntry(code);
  return entry != nullptr ? entry->Name : "";
}

uint16_t EngineErrorCodeOf(const std::exception& error) {
  if (const auto* engine_error = dynamic_cast<const EVEVURAEngineError*>(&error)) {
    return engine_error->ErrorCode;
  }
  return VEVURA_OSUNKNOWN;
}

std::string FormatMessage(const char* fmt, const std::string& arg) {
  std::string message;
  if (fmt == nullptr) return message;
  for (std::string_view rest = fmt; !rest.empty();) {
    if (rest.starts_with("%s")) {
      message += arg;
      rest.remove_prefix(2);
    } else {
      message += rest.front();
      rest.remove_prefix(1);
    }
  }
  return message;
}

std::string ComponentMessage(const std::string& component_name, const std::string& message) {
  return component_name + ": " + message;
}

}  // namespace vevura
