#include "download/chunk_writer.h"

namespace {

constexpr size_t kBlockBytes = 1024 * 1024;
// Blocks waiting for the disk at most; the reader waits beyond that, so
// memory stays the same whatever the size of the package.
constexpr size_t kMaxFullBlocks = 4;

}  // namespace

ChunkWriter::ChunkWriter(HANDLE file) : file_(file), thread_([this] { Run(); }) {
    current_.reserve(kBlockBytes);
}

ChunkWriter::~ChunkWriter() {
    Sha256Digest ignored;
    Finish(ignored);
}

char* ChunkWriter::Reserve(size_t size) {
    if (!current_.empty() && current_.size() + size > current_.capacity()) {
        HandOver();
    }
    reserved_ = current_.size();
    current_.resize(reserved_ + size, 0);
    return current_.data() + reserved_;
}

void ChunkWriter::Commit(size_t filled) {
    current_.resize(reserved_ + filled);
}

void ChunkWriter::HandOver() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return full_.size() < kMaxFullBlocks || failed_; });
    if (failed_) {
        current_.clear();
        return;
    }
    full_.push_back(std::move(current_));
    if (spare_.empty()) {
        current_ = Block();
        current_.reserve(kBlockBytes);
    } else {
        current_ = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

bool ChunkWriter::Finish(Sha256Digest& digest) {
    if (!thread_.joinable()) {
        return false;
    }
    if (!current_.empty()) {
        HandOver();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        changed_.notify_all();
    }
    thread_.join();
    digest = hash_.Finish();
    return !failed_ && hash_.ok();
}

void ChunkWriter::Run() {
    for (;;) {
        Block block;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !full_.empty() || closing_; });
            if (full_.empty()) {
                return;
            }
            block = std::move(full_.front());
            full_.pop_front();
        }
        DWORD written = 0;
        const bool ok =
            WriteFile(file_, block.data(), static_cast<DWORD>(block.size()), &written, nullptr) &&
            written == block.size();
        if (ok) {
            hash_.Update(block.data(), block.size());
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!ok) {
            failed_ = true;
            full_.clear();
        } else {
            block.clear();
            spare_.push_back(std::move(block));
        }
        changed_.notify_all();
        if (!ok) {
            return;
        }
    }
}
