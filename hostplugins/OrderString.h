// The stored plug-in order: one entry per child, "<file name>=<1 or 0>" in double quotes, joined
// by ",". Platform-free.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qorvi {

// Appends one child to an order string: the first entry gives "\"name=1\"", each later one
// adds ",\"name=0\"" behind the text so far.
void AppendOrderEntry(std::string& order, std::string_view fileName, bool enabled);

struct OrderEntry {
    std::string name;   // text before the first '='
    std::string value;  // text after the first '='
};

// Splits `entry` at its first '='. An entry without '=' gives an empty name and value, so it
// matches no child.
OrderEntry ParseOrderEntry(std::string_view entry);

// Splits an order string at ',' (as SplitDelimitedText) and each entry at its first '='.
std::vector<OrderEntry> ParseOrderEntries(std::string_view order);

// The order string to store when `current`, the order of the children loaded now (as the list's
// GetOrderString gives it), replaces `stored`, what the section holds. The children of a 32-bit
// and of a 64-bit build share one file but each build loads only its own, and a child may be
// missing for a while: a settings dialog that does not know a child must not drop its entry.
// - The entries of `current` come in its order, with its flags.
// - Every entry of `stored` whose name no entry of `current` bears is foreign. Each stays right
//   behind the entry that stood before it in `stored`: a run of foreign entries follows the
//   loaded child named last before it, wherever that child has moved; a run before any loaded
//   child's entry stays at the head. Foreign entries keep their order among themselves.
// - A foreign name is kept once, with the flag of its first entry ("1" on, anything else off,
//   as ApplyOrderString reads it). Entries without a name (no '=', or empty) match no child
//   and are dropped, and so is a name holding '"': no file can bear it, and written back it
//   would split the entries behind it.
// Names are matched exactly, case-sensitively, as the list matches stored names to its
// children. An empty `stored` gives `current` unchanged.
std::string MergeOrderStrings(std::string_view stored, std::string_view current);

}  // namespace qorvi
