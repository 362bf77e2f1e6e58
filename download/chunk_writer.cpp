#include "download/chunk_writer.h"

namespace {

// 64 chunks of WinHTTP's usual 16 KiB: about 1 MiB in flight at most.
constexpr size_t kMaxQueuedChunks = 64;

}  // namespace

ChunkWriter::ChunkWriter(HANDLE file) : file_(file), thread_([this] { Run(); }) {}

ChunkWriter::~ChunkWriter() {
    Sha256Digest ignored;
    Finish(ignored);
}

void ChunkWriter::Push(std::vector<char>&& chunk) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.size() < kMaxQueuedChunks || failed_; });
    if (!failed_) {
        queue_.push_back(std::move(chunk));
        changed_.notify_all();
    }
}

bool ChunkWriter::Finish(Sha256Digest& digest) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable()) {
        thread_.join();
        digest = hash_.Finish();
    }
    return !failed_ && hash_.ok();
}

void ChunkWriter::Run() {
    for (;;) {
        std::vector<char> chunk;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !queue_.empty() || closing_; });
            if (queue_.empty()) {
                return;
            }
            chunk = std::move(queue_.front());
            queue_.pop_front();
            changed_.notify_all();
        }
        DWORD written = 0;
        const bool ok = WriteFile(file_, chunk.data(), static_cast<DWORD>(chunk.size()), &written,
                                  nullptr) &&
                        written == chunk.size();
        if (!ok) {
            std::lock_guard<std::mutex> lock(mutex_);
            failed_ = true;
            queue_.clear();
            changed_.notify_all();
            return;
        }
        hash_.Update(chunk.data(), chunk.size());
    }
}
