#pragma once
// The engine's exceptions and the one routine that raises engine errors.
//
// EDatabaseError is a database error with a message only, raised by the access
// components for misuse. EVEVURAEngineError is every engine failure: a 16-bit
// code (error_codes.h), the operating system's and the socket layer's
// last-error numbers, and seven context strings from which the message text is
// made. Raising fills the process-wide error context under its lock; the
// exception copies it, so a layer that caught an engine error can raise it
// again by code alone (EVEVURAEngineError(code)) and keep its context.

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include "engine/base/error_codes.h"

namespace vevura {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

//! The seven context strings of an engine error; each at most 255 characters.
struct TEngineErrorContext {
  std::string ErrorServer;
  std::string ErrorUser;
  std::string ErrorDatabase;
  std::string ErrorTable;
  std::string ErrorField;
  std::string ErrorIndex;
  std::string ErrorDetail;
};

//! The contents of the process-wide error context (kept by engine_error.cpp).
struct TEngineErrorRecord;

class EVEVURAEngineError : public EDatabaseError {
 public:
  //! Raising again by code alone: context and last-error numbers are taken
  //! from the process-wide error context as it stands now.
  explicit EVEVURAEngineError(uint16_t code);

  uint16_t ErrorCode = 0;
  int32_t OSErrorCode = 0;
  int32_t SocketErrorCode = 0;
  std::string ErrorServer;
  std::string ErrorUser;
  std::string ErrorDatabase;
  std::string ErrorTable;
  std::string ErrorField;
  std::string ErrorIndex;
  std::string ErrorDetail;

 private:
  //! Builds the exception from a copy of the error context.
  explicit EVEVURAEngineError(const TEngineErrorRecord& record);
};

//! Fills the process-wide error context with code, the current last-error
//! numbers and the context strings (each cut to 255 characters) and throws the
//! EVEVURAEngineError made from it. Never returns.
[[noreturn]] void RaiseEngineError(uint16_t code, const std::string& server,
                                   const std::string& user, const std::string& database,
                                   const std::string& table, const std::string& field,
                                   const std::string& index, const std::string& detail);
//! The common case: an error that names only a table.
[[noreturn]] void RaiseTableError(uint16_t code, const std::string& table);

//! The code's text with the current error context filled in, at most 254
//! characters; "An unknown error occurred" for a code without a text.
std::string EngineErrorText(uint16_t code);
//! The code's name ("VEVURA_KEYVIOL"), or "" for a code not in the table.
std::string EngineErrorName(uint16_t code);
//! The ErrorCode of an engine error; VEVURA_OSUNKNOWN for any other exception.
uint16_t EngineErrorCodeOf(const std::exception& error);

//! Component error messages; "%s" as the component that raises them fills in.
namespace msg {
inline constexpr const char* SFieldNotIndexField = "Field %s is not in the current index.";
inline constexpr const char* SCircularDataLink = "Circular data links are not allowed.";
inline constexpr const char* SFieldIndexError = "Field index out of range.";
inline constexpr const char* SIndexFieldMissing = "Cannot access index field %s.";
inline constexpr const char* SActiveTransaction = "Database %s already has an active transaction.";
inline constexpr const char* SNoActiveTransaction = "Database %s has no active transaction.";
inline constexpr const char* SNoTableName = "Missing table name.";
inline constexpr const char* SDuplicateDatabaseName = "Database name %s already exists.";
inline constexpr const char* SDuplicateSessionName = "Session name %s already exists.";
inline constexpr const char* SInvalidSessionName = "Session name %s is not valid.";
inline constexpr const char* SDatabaseNameMissing = "Database name is missing.";
inline constexpr const char* SInvalidDatabaseName = "Database name %s is not valid.";
inline constexpr const char* SSessionNameMissing = "Session name is missing.";
inline constexpr const char* SDatabaseOpen = "Cannot perform this operation on an open database.";
inline constexpr const char* SDatabaseClosed =
    "Cannot perform this operation on a closed database.";
inline constexpr const char* SSessionActive = "Cannot perform this operation on an active session.";
inline constexpr const char* SAutoSessionActive =
    "Cannot perform this operation on the active auto-session.";
inline constexpr const char* SAutoSessionExclusive =
    "The active auto-session can be the only active session.";
inline constexpr const char* SAutoSessionExists = "This auto-session already exists.";
inline constexpr const char* SHandleError = "Error creating table handle.";
inline constexpr const char* SNotEditing = "Table is not in edit or insert mode.";
inline constexpr const char* SFieldReadOnly = "Field %s cannot be modified.";
inline constexpr const char* SDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* SFieldNotFound = "Field '%s' not found";
inline constexpr const char* SIndexNotFound = "No index for fields '%s'";
}  // namespace msg

//! Formats a component message: fmt with its "%s" replaced by arg.
std::string FormatMessage(const char* fmt, const std::string& arg);
//! "%s: %s": the message prefixed with the name of the component raising it.
std::string ComponentMessage(const std::string& component_name, const std::string& message);

}  // namespace vevura
