// The process-wide cache of evaluations, keyed by the board hash alone (the
// side to move is not part of the key), so that a position evaluated once --
// in this search, an earlier move or an earlier game -- costs no network call.
//
// Entries are cut back to `capacity` after every search step by trim(),
// which drops entries among the least used.
//
// Ownership: the cache owns copies of the arrays it stores; callers own the
// copies it hands out. Thread rules: no lock; only the thread running the
// search uses it (the front-end never lets two threads search at once).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <unordered_map>
#include <vector>

#include "eval/evaluator.h"

namespace search {

/// Entries kept by trim(); about 16 MB of arrays.
inline constexpr std::size_t cache_capacity = 10000;

class evaluation_cache {
public:
    explicit evaluation_cache(std::size_t capacity = cache_capacity) : capacity_(capacity) {}

    /// On a hit: a fresh copy of the stored array, with one added to the
    /// entry's hit count and to the process-wide total. Null on a miss.
    eval::evaluation_array hit(std::uint64_t hash);

    /// Stores a copy of `array` (evaluation_size floats) with hit count 0,
    /// unless the hash is already present.
    void insert(std::uint64_t hash, const float* array);

    /// Cuts the cache back to its capacity. With k entries too many and t the
    /// (k+1)-th smallest hit count, removes the first k entries, in the
    /// table's iteration order, whose count is at most t. Which of the
    /// eligible entries go depends on that order alone (here: the order of
    /// the slots, which removals reshuffle).
    void trim();

    bool contains(std::uint64_t hash) const { return slot_of_.count(hash) != 0; }
    /// The hit count of a stored entry; 0 when absent.
    std::uint32_t hit_count(std::uint64_t hash) const;
    std::size_t size() const { return keys_.size(); }
    std::size_t capacity() const { return capacity_; }
    /// Hits since this cache was made; never reset.
    std::uint32_t total_hits() const { return total_hits_; }

    /// Drops every entry, keeping total_hits (for tests and tools that need a
    /// cold cache; the engine never clears it).
    void clear();

private:
    void erase_slot(std::size_t slot);
    float* slot_array(std::size_t slot) { return arrays_.data() + slot * eval::evaluation_size; }

    std::size_t capacity_;
    // The entries live in dense, parallel slots; the table maps a hash to its
    // slot. The slot order is the iteration order trim walks. Keeping the
    // counts contiguous lets trim read them all in a few microseconds,
    // where walking the table's nodes took about 80 us for 10000 entries.
    //
    // The arrays sit in one block (slot s at s * evaluation_size) and the
    // table's nodes in a pool of their own: allocated one by one, they would
    // lie scattered among the search tree's records, and the cache's steady
    // turnover would pin the pages of every freed tree, so the memory of old
    // trees could not go back to the system (see platform::return_freed_memory).
    std::pmr::unsynchronized_pool_resource table_pool_;
    std::pmr::unordered_map<std::uint64_t, std::uint32_t> slot_of_{&table_pool_};
    std::vector<std::uint64_t> keys_;
    std::vector<std::uint32_t> hit_counts_;
    std::vector<float> arrays_;
    std::uint32_t total_hits_ = 0;
};

/// The one cache of the process: created before main, never destroyed
/// before exit, shared by every search tree of every player.
extern evaluation_cache eval_cache;

/// Process-wide number of cache hits since start (what the player reports).
std::uint32_t cache_hits();

}  // namespace search
