#include "filters/FilterListHolder.h"

#include <utility>

namespace tarn {

FilterListHolder::FilterListHolder() : m_list(std::make_shared<const FilterList>()) {}

FilterListHolder::FilterListHolder(std::shared_ptr<const FilterList> list) {
    store(std::move(list));
}

std::shared_ptr<const FilterList> FilterListHolder::load() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_list;
}

void FilterListHolder::store(std::shared_ptr<const FilterList> list) {
    if (!list)
        list = std::make_shared<const FilterList>();
    // The old list is released outside the lock; an evaluation may still hold it.
    std::shared_ptr<const FilterList> old;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        old = std::exchange(m_list, std::move(list));
    }
}

} // namespace tarn
