#include "hostplugins/OrderString.h"

#include "base/DelimitedText.h"

#include <algorithm>
#include <utility>

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

std::string MergeOrderStrings(std::string_view stored, std::string_view current) {
    const std::vector<OrderEntry> loaded = ParseOrderEntries(current);
    auto loadedIndex = [&](const std::string& name) -> size_t {
        const auto found = std::find_if(loaded.begin(), loaded.end(), [&](const OrderEntry& entry) {
            return entry.name == name;
        });
        return size_t(found - loaded.begin());
    };

    // The foreign entries behind each loaded child; those before any stand at loaded.size().
    std::vector<std::vector<OrderEntry>> behind(loaded.size() + 1);
    std::vector<std::string> kept;
    size_t anchor = loaded.size();
    for (OrderEntry& entry : ParseOrderEntries(stored)) {
        if (entry.name.empty() || entry.name.find(Quote) != std::string::npos) continue;
        const size_t index = loadedIndex(entry.name);
        if (index < loaded.size()) {
            anchor = index;
            continue;
        }
        if (std::find(kept.begin(), kept.end(), entry.name) != kept.end()) continue;
        kept.push_back(entry.name);
        behind[anchor].push_back(std::move(entry));
    }

    std::string order;
    auto appendAll = [&](const std::vector<OrderEntry>& entries) {
        for (const OrderEntry& entry : entries)
            AppendOrderEntry(order, entry.name, entry.value == "1");
    };
    appendAll(behind[loaded.size()]);
    for (size_t i = 0; i < loaded.size(); ++i) {
        AppendOrderEntry(order, loaded[i].name, loaded[i].value == "1");
        appendAll(behind[i]);
    }
    return order;
}

}  // namespace qorvi
