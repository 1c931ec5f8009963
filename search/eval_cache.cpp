#include "search/eval_cache.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace search {
namespace {

/// Entries beyond the capacity that the first block has room for: a think's
/// step adds 20 before trim cuts back.
constexpr std::size_t first_block_spare = 64;

}  // namespace

evaluation_cache eval_cache;

std::uint32_t cache_hits() { return eval_cache.total_hits(); }

eval::evaluation_array evaluation_cache::hit(std::uint64_t hash) {
    const auto found = slot_of_.find(hash);
    if (found == slot_of_.end()) return nullptr;
    ++hit_counts_[found->second];
    ++total_hits_;
    eval::evaluation_array copy = std::make_unique_for_overwrite<float[]>(eval::evaluation_size);
    std::copy_n(slot_array(found->second), eval::evaluation_size, copy.get());
    return copy;
}

void evaluation_cache::insert(std::uint64_t hash, const float* array) {
    const auto [position, inserted] = slot_of_.try_emplace(hash, static_cast<std::uint32_t>(keys_.size()));
    if (!inserted) return;
    // The block is sized for the capacity (and the few entries a step adds
    // before trim) at once, so it seldom moves.
    if (arrays_.capacity() == 0) arrays_.reserve((capacity_ + first_block_spare) * eval::evaluation_size);
    keys_.push_back(hash);
    hit_counts_.push_back(0);
    arrays_.insert(arrays_.end(), array, array + eval::evaluation_size);
}

std::uint32_t evaluation_cache::hit_count(std::uint64_t hash) const {
    const auto found = slot_of_.find(hash);
    return found == slot_of_.end() ? 0 : hit_counts_[found->second];
}

void evaluation_cache::clear() {
    slot_of_.clear();
    keys_.clear();
    hit_counts_.clear();
    arrays_.clear();
}

void evaluation_cache::erase_slot(std::size_t slot) {
    // The last slot moves into the hole, so slots stay dense.
    slot_of_.erase(keys_[slot]);
    const std::size_t last = keys_.size() - 1;
    if (slot != last) {
        keys_[slot] = keys_[last];
        hit_counts_[slot] = hit_counts_[last];
        std::copy_n(slot_array(last), eval::evaluation_size, slot_array(slot));
        slot_of_[keys_[slot]] = static_cast<std::uint32_t>(slot);
    }
    keys_.pop_back();
    hit_counts_.pop_back();
    arrays_.resize(arrays_.size() - eval::evaluation_size);
}

void evaluation_cache::trim() {
    if (keys_.size() <= capacity_) return;
    const std::size_t excess = keys_.size() - capacity_;

    // The threshold is the (excess+1)-th smallest count; nth_element finds
    // the same value a full sort would, in linear time, which matters because
    // trim runs after every 20 playouts.
    std::vector<std::uint32_t> counts(hit_counts_);
    std::nth_element(counts.begin(), counts.begin() + static_cast<std::ptrdiff_t>(excess), counts.end());
    const std::uint32_t threshold = counts[excess];

    std::vector<std::size_t> doomed;
    doomed.reserve(excess);
    for (std::size_t slot = 0; slot < hit_counts_.size() && doomed.size() < excess; ++slot) {
        if (hit_counts_[slot] <= threshold) doomed.push_back(slot);
    }
    // From the highest slot down: the slot moved into each hole is never one
    // still to be removed.
    for (auto slot = doomed.rbegin(); slot != doomed.rend(); ++slot) erase_slot(*slot);
}

}  // namespace search
