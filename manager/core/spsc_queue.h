// An unbounded first-in-first-out queue for exactly one producer thread and one consumer
// thread, without a lock. Records live in fixed blocks chained in order; the producer only
// appends at the back, the consumer only takes from the front and frees each block as soon
// as it has passed it, so memory follows what is queued and stays flat while the consumer
// keeps up.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>

namespace meradon {

template <typename Record, std::size_t BlockRecords>
class SpscQueue {
public:
    SpscQueue() : head_(new Block), tail_(head_) {}
    ~SpscQueue() {
        while (head_) {
            Block *next = head_->next.load(std::memory_order_relaxed);
            delete head_;
            head_ = next;
        }
    }
    SpscQueue(const SpscQueue &) = delete;
    SpscQueue &operator=(const SpscQueue &) = delete;

    // Producer side.
    void Push(const Record &record) {
        if (tailIndex_ == BlockRecords) {
            Block *fresh = new Block;
            // The consumer frees the old block only once it sees `next`, so the producer
            // must not touch the old block after this store.
            tail_->next.store(fresh, std::memory_order_release);
            tail_ = fresh;
            tailIndex_ = 0;
        }
        tail_->records[tailIndex_] = record;
        tail_->written.store(++tailIndex_, std::memory_order_release);
    }

    // Consumer side: false when the queue is empty.
    bool Pop(Record &out) {
        for (;;) {
            if (headIndex_ < head_->written.load(std::memory_order_acquire)) {
                out = head_->records[headIndex_++];
                return true;
            }
            if (headIndex_ < BlockRecords) return false;
            Block *next = head_->next.load(std::memory_order_acquire);
            if (!next) return false;
            delete head_;
            head_ = next;
            headIndex_ = 0;
        }
    }

    // Consumer side: drops everything queued now.
    void Clear() {
        Record scratch;
        while (Pop(scratch)) {
        }
    }

private:
    struct Block {
        std::array<Record, BlockRecords> records;
        std::atomic<std::size_t> written{0};
        std::atomic<Block *> next{nullptr};
    };

    Block *head_;                  // consumer's block
    std::size_t headIndex_ = 0;    // consumer only
    Block *tail_;                  // producer's block
    std::size_t tailIndex_ = 0;    // producer only
};

}  // namespace meradon
