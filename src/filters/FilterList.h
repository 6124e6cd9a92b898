#pragma once

#include "core/TFilter.h"
#include "filters/CompiledFilter.h"

#include <memory>
#include <vector>

namespace tarn {

// The filter rules in evaluation order, prepared once. Never changed after construction, so
// one list can be shared by every thread that evaluates; a new list replaces it whole.
class FilterList {
public:
    FilterList() = default;
    explicit FilterList(const std::vector<TFilter>& filters);

    static std::shared_ptr<const FilterList> create(const std::vector<TFilter>& filters);

    size_t size() const { return m_filters.size(); }
    bool empty() const { return m_filters.empty(); }
    const CompiledFilter& operator[](size_t i) const { return m_filters[i]; }
    auto begin() const { return m_filters.begin(); }
    auto end() const { return m_filters.end(); }

    // The rules as given, for the editor and the settings writer.
    std::vector<TFilter> rules() const;

private:
    std::vector<CompiledFilter> m_filters;
};

} // namespace tarn
