#pragma once
// Engine start and stop: the process-wide structures every session shares.
//
// StartEngine creates, once per process, the file list (file_list.h), the
// pool of record bitmaps (records_bitmap_stack.h), the language tables (the
// list of languages and the process-wide character maps, languages.h and
// char_map.h) and the default engine session. StopEngine frees the default
// session (closing its directories and tables) and then the structures, in
// the reverse order. The default session component calls both; a second
// start, or a stop without a start, does nothing. The error context
// (engine_error.h) lives for the whole process and is not touched.
//
// Thread-safety: start, stop and the default-session lookup run under the
// engine's own lock; the default session itself is used by one thread at a
// time (data_session.h).

namespace vevura {

class TDataSession;

//! Creates the process-wide structures and the default engine session.
void StartEngine();
//! Frees the default engine session and the process-wide structures.
void StopEngine();
//! True between StartEngine and StopEngine.
bool EngineStarted();
//! The default engine session; VEVURA_NOTINITIALIZED before the start.
TDataSession& DefaultEngineSession();

}  // namespace vevura
