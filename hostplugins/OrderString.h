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

}  // namespace qorvi
