#include "search/eval_cache.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace search {

evaluation_cache eval_cache;

std::uint32_t cache_hits() { return eval_cache.total_hits(); }

eval::evaluation_array evaluation_cache::hit(std::uint64_t hash) {
    const auto found = entries_.find(hash);
    if (found == entries_.end()) return nullptr;
    ++found->second.hit_count;
    ++total_hits_;
    eval::evaluation_array copy = std::make_unique_for_overwrite<float[]>(eval::evaluation_size);
    std::copy_n(found->second.array.get(), eval::evaluation_size, copy.get());
    return copy;
}

void evaluation_cache::insert(std::uint64_t hash, const float* array) {
    if (entries_.count(hash) != 0) return;
    entry stored;
    stored.array = std::make_unique_for_overwrite<float[]>(eval::evaluation_size);
    std::copy_n(array, eval::evaluation_size, stored.array.get());
    entries_.emplace(hash, std::move(stored));
}

std::uint32_t evaluation_cache::hit_count(std::uint64_t hash) const {
    const auto found = entries_.find(hash);
    return found == entries_.end() ? 0 : found->second.hit_count;
}

void evaluation_cache::trim() {
    if (entries_.size() <= capacity_) return;
    const std::size_t excess = entries_.size() - capacity_;

    // The threshold is the (excess+1)-th smallest count; nth_element finds
    // the same value a full sort would, in linear time, which matters because
    // trim runs after every 20 playouts.
    std::vector<std::uint32_t> counts;
    counts.reserve(entries_.size());
    for (const auto& [hash, stored] : entries_) counts.push_back(stored.hit_count);
    std::nth_element(counts.begin(), counts.begin() + static_cast<std::ptrdiff_t>(excess), counts.end());
    const std::uint32_t threshold = counts[excess];

    std::vector<std::uint64_t> doomed;
    doomed.reserve(excess);
    for (const auto& [hash, stored] : entries_) {
        if (doomed.size() == excess) break;
        if (stored.hit_count <= threshold) doomed.push_back(hash);
    }
    for (const std::uint64_t hash : doomed) entries_.erase(hash);
}

}  // namespace search

