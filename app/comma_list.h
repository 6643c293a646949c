#pragma once
// Splitting one line of a LIC file into its comma-list items.
//
// A "blank" is any character from code 1 to code 32. Leading blanks are
// skipped. An item that starts with a double quote runs to the next quote that
// is not doubled ("" inside stands for one quote); blanks and commas inside
// belong to it; without a closing quote it runs to the end of the line and
// loses its last character. Any other item runs up to the first blank or
// comma. After an item, blanks are skipped; a comma is skipped together with
// the blanks after it, and a comma that is the line's last character adds one
// more, empty, item. Anything else starts the next item without a comma.
//
// So "A,,B" gives A, "" and B; "A," gives A and ""; "FILE = X" gives FILE, =
// and X. NUL and 8-bit characters are ordinary item text.

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace vevura::app {

//! The items of line, in order; none for an empty or all-blank line.
std::vector<std::string> SplitCommaList(std::string_view line);

//! The same, into items (its previous contents are replaced), so that a caller
//! splitting many lines reuses the vector's storage. Only the first max_items
//! items are split: a caller that needs the first few of a line need not hold
//! one string per item of a long list (a line of n commas has n + 1 items).
void SplitCommaList(std::string_view line, std::vector<std::string>* items,
                    size_t max_items = std::numeric_limits<size_t>::max());

}  // namespace vevura::app
