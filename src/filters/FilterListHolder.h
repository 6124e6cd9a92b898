#pragma once

#include "filters/FilterList.h"

#include <memory>
#include <mutex>

namespace tarn {

// The current filter list. The editor replaces it on the main thread while checks may be
// evaluating on their own threads; each evaluation takes one snapshot and keeps using it, so
// it sees the old list or the new one, never a mixture.
class FilterListHolder {
public:
    FilterListHolder();
    explicit FilterListHolder(std::shared_ptr<const FilterList> list);

    // Never null: an empty list until one is stored.
    std::shared_ptr<const FilterList> load() const;
    // A null list is stored as an empty one.
    void store(std::shared_ptr<const FilterList> list);
    void store(const std::vector<TFilter>& filters) { store(FilterList::create(filters)); }

private:
    mutable std::mutex m_mutex;
    std::shared_ptr<const FilterList> m_list;
};

} // namespace tarn
