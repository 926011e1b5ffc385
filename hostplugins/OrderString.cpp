#include "hostplugins/OrderString.h"

#include "base/DelimitedText.h"

namespace qorvi {

namespace {

constexpr char Quote = '"';

}  // namespace

void AppendOrderEntry(std::string& order, std::string_view fileName, bool enabled) {
    if (!order.empty()) order.push_back(',');
    order.push_back(Quote);
    order.append(fileName);
    order.push_back('=');
    order.push_back(enabled ? '1' : '0');
    order.push_back(Quote);
}

OrderEntry ParseOrderEntry(std::string_view entry) {
    const size_t equals = entry.find('=');
    if (equals == std::string_view::npos) return {};
    return {std::string(entry.substr(0, equals)), std::string(entry.substr(equals + 1))};
}

std::vector<OrderEntry> ParseOrderEntries(std::string_view order) {
    std::vector<OrderEntry> entries;
    for (const std::string& entry : SplitDelimitedText(order, ',')) {
        entries.push_back(ParseOrderEntry(entry));
    }
    return entries;
}

}  // namespace qorvi
