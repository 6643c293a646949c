#pragma once
// Settings files in the plain INI form: "[SECTION]" lines and "KEY=value"
// lines; values are stored as they are, without quoting or escaping. Section
// and key names compare without regard to ASCII letter case; blanks around a
// name or a value are not part of it, and lines beginning with ";" are
// comments. A file is replaced as a whole on writing (a new file renamed over
// it), so a crash leaves the old settings or the new ones.

#include <string>

namespace vevura::platform {

//! The value of key in section of file, or default_value when the file, the
//! section or the key is missing.
std::string ReadProfileString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& default_value);

//! Sets key in section of file to value, creating the file, the section or the
//! key as needed and keeping every other line as it was. False on failure,
//! and for a name or value that cannot be stored (a line break, an empty name,
//! "]" in the section or "=" in the key); the file is then left as it was.
bool WriteProfileString(const std::string& file, const std::string& section, const std::string& key,
                        const std::string& value);

}  // namespace vevura::platform
