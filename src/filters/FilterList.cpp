#include "filters/FilterList.h"

namespace tarn {

FilterList::FilterList(const std::vector<TFilter>& filters) {
    m_filters.reserve(filters.size());
    for (const TFilter& f : filters)
        m_filters.emplace_back(f);
}

std::shared_ptr<const FilterList> FilterList::create(const std::vector<TFilter>& filters) {
    return std::make_shared<const FilterList>(filters);
}

std::vector<TFilter> FilterList::rules() const {
    std::vector<TFilter> out;
    out.reserve(m_filters.size());
    for (const CompiledFilter& f : m_filters)
        out.push_back(f.filter());
    return out;
}

} // namespace tarn
